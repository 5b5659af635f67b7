// krvtool play: headless playback through the real engine, with the capture sound back end.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/options.h"
#include "app/stats_text.h"
#include "playback/movie.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"
#include "convert/convert.h"
#include "display/backends/memory_surface.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool play MOVIE [SWITCHES]\n"
    "  Plays MOVIE headless through the player's engine: frames are decoded at the movie's rate\n"
    "  and copied into a 32-bit memory surface, and the sound goes to a capture back end that\n"
    "  plays it out in real time.\n"
    "  Switches as the player takes them, where they apply to a headless run:\n"
    "    /F  as fast as possible (sound is then taken at once)   /F#.#  this frame rate\n"
    "    /L# play # times (/L alone: endlessly)   /T# sound track   /P preload   /K no thread\n"
    "    /E# read-ahead bytes   /M# simulated read speed   /G no initial fill   /N never skip\n"
    "    /A# display options   /Q statistics line after every frame   /S summary at the end\n"
    "  The movie loops inside one open, as in the player; Ctrl-C ends the play (the summary is\n"
    "  still printed with /S).\n"
    "  --tracks ID,ID  play several sound tracks at once\n"
    "  --cpu plain|sse2|avx2  limit the SIMD code used (as KORVA_CPU does)\n"
    "  MOVIE may be FILE|OFFSET for a movie that starts OFFSET bytes into FILE.\n";

// Ctrl-C ends the play cleanly: the loop stops, the summary is still printed. The signal may
// arrive on any thread (the service threads too), so the flag is a lock-free atomic, which a
// handler may set and another thread read.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);
void on_interrupt(int) { g_interrupted.store(1); }

}  // namespace

int cmd_play(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  const char* name = nullptr;
  std::string switches;
  uint32_t track_ids[kMaxRequestedTracks];
  uint32_t track_count = 0;
  // The first argument is the movie (a path may well begin with '/'); the rest are switches.
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--tracks") && i + 1 < argc) {
      // Several tracks played at once (the player's /T plays one).
      for (const char* p = argv[++i]; *p;) {
        char* end;
        const unsigned long id = std::strtoul(p, &end, 10);
        if (end == p || (*end && *end != ',') || track_count == kMaxRequestedTracks)
          return tool_fail("--tracks wants track identifiers separated by commas");
        track_ids[track_count++] = uint32_t(id);
        p = *end ? end + 1 : end;
      }
    } else if (!name) {
      name = argv[i];
    } else if (argv[i][0] == '/') {
      switches += ' ';
      switches += argv[i];
    } else {
      std::fputs(kUsage, stderr);
      return tool_fail("unexpected argument '%s' (switches begin with '/')", argv[i]);
    }
  }
  if (!name) { std::fputs(kUsage, stderr); return 1; }

  static OptionsText t;
  if (!options_set_text(&t, switches.c_str())) return tool_fail("too many switches");
  PlayerOptions o;
  parse_options(&t, nullptr, &o);
  if (o.bad_value || std::strchr(t.text, '/')) return tool_fail("unknown or malformed switch in '%s'", t.text);

  // The sound goes to the capture back end, in real time unless the movie plays as fast as it can.
  const bool fast = (o.open_flags & kOpenRateOverride) && o.rate_num == 0 && o.rate_den == 0;
  CaptureConfig capture;
  capture_default_config(&capture);
  capture.realtime = fast ? 0 : 1;

  ResolvedName r;
  const char* error = nullptr;
  if (std::strlen(name) > kMovieNameMax) return tool_fail("%s", kMovieNameTooLong);
  if (std::strchr(name, '|')) {
    if (!resolve_movie_name(name, &r, &error)) return tool_fail("%s: %s", name, error);
  } else {
    std::snprintf(r.file, sizeof r.file, "%s", name);
    r.kind = kNamePlain;
  }
  // The open's parameters, handed over once: the movie loops inside this one open, as in
  // the player (at its last frame `loops` counts down; 0 never ends).
  SoundSystem sound{};
  sound_use_system(&sound, capture_provider, &capture);
  MovieOpen open = movie_open_name(r.file, o.open_flags);
  open.sound = &sound;
  PlatformFile* handle = nullptr;
  if (r.kind == kNameFileAtOffset) {
    handle = platform_file_open(r.file);
    if (!handle || !platform_file_seek(handle, r.offset)) {
      platform_file_close(handle);
      return tool_fail("%s: cannot open the file", r.file);
    }
    open.source.kind = MovieSourceKind::kFile;
    open.source.file = handle;
  }
  if (o.open_flags & kOpenRateOverride) {
    open.rate_num = o.rate_num;
    open.rate_den = o.rate_den;
  }
  if (o.open_flags & kOpenBufferSize) open.buffer_size = o.read_buffer;
  if (o.open_flags & kOpenReadSpeed) open.read_speed = o.read_speed;
  open.track_count = track_count ? track_count : 1;
  if (track_count) std::memcpy(open.track_ids, track_ids, 4 * track_count);
  else open.track_ids[0] = uint32_t(o.track_id);
  Movie* m = movie_open(&open);
  if (!m) {
    platform_file_close(handle);
    return tool_fail("%s: %s", name, movie_last_error());
  }
  // Every frame is copied into a 32-bit memory surface of the display size, as a window's
  // surface would take it (late frames are skipped there, as in the player).
  MemorySurface* surface = memory_surface_open(kFormatBgr32, m->width, m->height, int32_t(4 * m->width), 0, 0);
  if (!surface) {
    movie_close(m);
    platform_file_close(handle);
    return tool_fail("out of memory for a %u x %u surface", m->width, m->height);
  }
  int32_t loops = o.loops < 0 ? 1 : o.loops;
  g_interrupted.store(0);
  void (*previous_handler)(int) = std::signal(SIGINT, on_interrupt);
  const bool progress = !o.show_stats && platform_stderr_is_terminal();
  int status = 0;
  for (uint32_t played = 0; !g_interrupted; ++played) {
    while (movie_wait(m) && !g_interrupted) platform_sleep_ms(1);
    if (g_interrupted) break;
    if (movie_do_frame(m)) {
      status = tool_fail("%s: the movie's data ends early (frame %u of %u)", name, m->current_frame, m->frame_count);
      break;
    }
    CopySource src;
    movie_copy_source(m, &src);
    memory_surface_copy(surface, &src, played == 0 ? kCopyWhole : 0);  // a new surface is copied whole
    movie_changed_rects(0, m);
    if (o.show_stats) {
      RealtimeStats rs;
      movie_realtime_stats(0, m, &rs);
      char line[kStatsLineCap];
      stats_line_text(&rs, line, sizeof line);
      std::printf("%s\n", line);
    } else if (progress && (m->current_frame % 10 == 0 || m->current_frame == m->frame_count)) {
      std::fprintf(stderr, "\rframe %u of %u", m->current_frame, m->frame_count);
    }
    if (m->current_frame >= m->frame_count && loops-- == 1) break;  // the last loop has ended
    movie_next_frame(m);
  }
  std::signal(SIGINT, previous_handler ? previous_handler : SIG_DFL);
  if (progress) std::fputc('\n', stderr);
  if (o.show_summary && status == 0) {
    PlaybackSummary sum;
    movie_summary(&sum, m);
    char text[kSummaryTextCap];
    if (summary_text(&sum, "Memory surface (headless)", 0, 0, 32, text, sizeof text)) std::printf("%s", text);
  }
  // Let the last of the sound play out (not after an interruption).
  for (int k = 0; k < 2000 && m->feed.count && !g_interrupted; ++k) {
    sound_pump(&m->feed);
    bool done = true;
    sound_lock(&m->feed);
    for (uint32_t t = 0; t < m->feed.count; ++t) {
      CaptureCounts c;
      if (capture_counts(&m->feed.outputs[t], &c) && (m->feed.outputs[t].fill || c.queued)) done = false;
    }
    sound_unlock(&m->feed);
    if (done) break;
    platform_sleep_ms(1);
  }
  memory_surface_close(surface);
  movie_close(m);
  platform_file_close(handle);
  return status;
}
