// The player: start-up, the movies of the command line in turn, the message loop and its idle
// branch, one frame's work, the closing picture and the window procedure's handlers.
#include "app/player.h"

#include <cstring>

#include "app/options.h"
#include "app/player_state.h"
#include "app/stats_text.h"
#include "convert/convert.h"
#include "playback/movie.h"
#include "display/surface_flags.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "base/timer.h"
#include "sound/sound.h"

const char kClosingWebAddress[] = "https://korva.example.org/thanks?from=korvaplay&ver=1.5q";

namespace {

constexpr const char kErrorTitle[] = "Korva Error";
constexpr uint32_t kClosingWidth = 224, kClosingHeight = 252;
constexpr uint32_t kClosingMs = 2250;

enum LoopEnd { kLoopNextMovie, kLoopQuit };

void box(Player* p, const char* title, const char* text, uint32_t kind) {
  p->host->message_box(p->host->ctx, title, text, kind, false);
}

// The help box. Where /Z would choose the same sound output as without it (SDL2 plays every
// track on Linux), its line says that the switch does nothing there.
void help_box(Player* p) {
  const PlayerHost* h = p->host;
  const bool one_sound_output =
      !h->sound_provider || h->sound_provider(h->ctx, true) == h->sound_provider(h->ctx, false);
  box(p, kOptionsHelpTitle, options_help_text(one_sound_output), kBoxInformation);
}

size_t profile_quick_play(void* ctx, char* out, size_t cap) {
  PlayerHost* h = static_cast<PlayerHost*>(ctx);
  return h->profile_read ? h->profile_read(h->ctx, "KorvaQuickPlay", "", out, cap) : 0;
}
bool host_screen_size(void* ctx, int32_t* w, int32_t* h) {
  PlayerHost* host = static_cast<PlayerHost*>(ctx);
  return host->screen_size && host->screen_size(host->ctx, w, h);
}

bool names_remain(const Player* p) {
  for (const char* s = p->text.text; *s; ++s)
    if (uint8_t(*s) > ' ') return true;
  return false;
}

void close_own_file(Player* p) {
  platform_file_close(p->own_file);
  p->own_file = nullptr;
}

// An error at any stage: the window is hidden, the box shown, the window destroyed after the
// box, and the program ends with 1. (On Windows the destruction posts the quit message, and a
// box's own message loop ends at once when it meets a pending quit: destroyed first, the box
// would flash and vanish.)
int fail(Player* p, const char* text, const char* title = kErrorTitle) {
  if (p->window) p->host->show_window(p->host->ctx, false);
  box(p, title, text, kBoxError);
  if (p->window) {
    p->destroying = true;
    p->host->destroy_window(p->host->ctx);
    p->window = nullptr;
  }
  movie_close(p->movie);
  p->movie = nullptr;
  surface_close(p->surface);
  surface_close(p->kept_surface);
  p->surface = p->kept_surface = nullptr;
  close_own_file(p);
  return 1;
}

void fill_summary(Player* p) {
  if (!p->movie) return;
  movie_summary(&p->summary, p->movie);
  p->summary_filled = true;
}

// Places the statistics line above the picture and widens the window for it when needed.
void place_stats_line(Player* p, int32_t* window_w, int32_t* window_h) {
  int32_t w = 0, h = 0;
  p->host->measure_text(p->host->ctx, kStatsSampleText, kStatsSampleChars, &w, &h);
  const int32_t line_w = w + 8;
  p->line_height = h;
  p->text_top = p->pic_y;
  p->pic_y += p->line_height;
  if (*window_w < line_w) {
    p->pic_x += ((line_w - *window_w) / 2) & ~3;
    *window_w = line_w;
  }
  p->text_width = *window_w;
  *window_h += p->line_height;
}

void draw_stats_line(Player* p) {
  if (!p->movie) return;
  RealtimeStats rs;
  movie_realtime_stats(0, p->movie, &rs);
  char line[kStatsLineCap];
  stats_line_text(&rs, line, sizeof line);
  p->host->draw_stats_text(p->host->ctx, line, p->text_width / 2, p->text_top, p->text_width,
                           p->text_top + p->line_height);
}

// Opens the movie named in p->name and its surface, and places and shows the window.
// Returns 0 when it plays, else the exit code.
int open_movie(Player* p) {
  PlayerHost* h = p->host;
  PlayerOptions& o = p->o;
  // The open's parameters, given afresh for every movie.
  MovieOpen open = movie_open_name(nullptr, o.open_flags);
  open.sound = &p->sound;
  if (o.rate_num != -1 && o.rate_den != -1) {
    open.rate_num = o.rate_num;
    open.rate_den = o.rate_den;
  }
  if (o.track_id) {
    open.track_count = 1;
    open.track_ids[0] = uint32_t(o.track_id);
  }
  if (o.read_speed) open.read_speed = o.read_speed;
  if (o.read_buffer != -1) open.buffer_size = o.read_buffer;

  // The name: the player's own executable, a file at an offset, or a plain name.
  ResolvedName r;
  const char* error = nullptr;
  if (p->name[0] != ':' && update_check(h)) {
    p->window = nullptr;  // the reminder destroyed it
    return 1;
  }
  if (!resolve_movie_name(p->name, &r, &error)) return fail(p, error);
  if (r.kind == kNameOwnExecutable) {
    char self[1024];
    if (!platform_own_executable(self, sizeof self) || !(p->own_file = platform_file_open(self)) ||
        !platform_file_seek(p->own_file, r.offset))
      return fail(p, "Error opening EXE file.");
    open.source.kind = MovieSourceKind::kFile;
    open.source.file = p->own_file;
  } else if (r.kind == kNameFileAtOffset) {
    if (!(p->own_file = platform_file_open(r.file)) || !platform_file_seek(p->own_file, r.offset))
      return fail(p, "Error opening file.");
    open.source.kind = MovieSourceKind::kFile;
    open.source.file = p->own_file;
  } else {
    open.source.name = r.file;
  }

  // The movie.
  p->movie = movie_open(&open);
  if (!p->movie) return fail(p, movie_last_error());
  Movie* m = p->movie;

  // The output size, and doubling chosen when it is exactly twice the movie.
  uint32_t sflags = o.surface_flags;
  const int32_t out_w = fit_output_size(o.out_w_num, 0x10000000, &sflags, o.out_w_den, int32_t(m->width), o.screen_w);
  const int32_t out_h = fit_output_size(o.out_h_num, 0x1000000, &sflags, o.out_h_den, int32_t(m->height), o.screen_h);
  if (!(m->flags & kOpenDoublingMask)) {
    const int32_t w = int32_t(m->width), ht = int32_t(m->height);
    uint32_t mode = kDoubleNone;
    if (out_w == w && out_h == 2 * ht) mode = kDoubleRows;
    else if (out_w == 2 * w && out_h == ht) mode = kDoubleWidth;
    else if (out_w == 2 * w && out_h == 2 * ht) mode = kDoubleBoth;
    if (mode != kDoubleNone) {
      m->width *= convert_width_factor(mode);
      m->height *= convert_row_factor(mode);
      m->flags |= mode << kOpenDoublingShift;
      sflags &= 0x00FFFFFF;
    }
  }
  p->surface_flags = sflags;

  // The surface; the previous movie's surface is closed now whatever the result.
  if (o.black_screen || o.show_stats) p->no_fill = false;
  p->surface = surface_open(&p->display, p->window, m->width, m->height, sflags);
  if (p->kept_surface) {
    surface_close(p->kept_surface);
    p->kept_surface = nullptr;
    if (!p->surface) p->surface = surface_open(&p->display, p->window, m->width, m->height, sflags);
  }
  if (!p->surface) return fail(p, surface_last_error(&p->display));
  Surface* s = p->surface;

  // Output size and position.
  surface_set_output_size(out_w, s, out_h);
  int32_t screen_w = s->screen_width, screen_h = s->screen_height;
  if (h->screen_size) h->screen_size(h->ctx, &screen_w, &screen_h);
  if (p->pic_x == kPositionAbsent)
    p->pic_x = screen_w < s->window_width ? -s->client_x : ((screen_w - s->window_width) / 2) & ~3;
  if (p->pic_y == kPositionAbsent)
    p->pic_y = screen_h < s->window_height ? -s->client_y : (screen_h - s->window_height) / 2;
  int32_t win_x, win_y, win_w, win_h;
  if (o.black_screen) {
    surface_fit_position(&p->pic_x, s, &p->pic_y);
    win_x = -s->client_x;
    win_y = -s->client_y;
    win_w = screen_w + s->frame_width;
    win_h = screen_h + s->frame_height;
  } else {
    win_x = p->pic_x;
    win_y = p->pic_y;
    win_w = s->window_width;
    win_h = s->window_height;
    p->pic_x = p->pic_y = 0;
  }
  // The statistics line, the window's size, showing it.
  if (o.show_stats) place_stats_line(p, &win_w, &win_h);
  h->set_window_rect(h->ctx, win_x, win_y, win_w, win_h);
  h->show_window(h->ctx, true);
  surface_set_position(p->pic_x, s, p->pic_y);
  // Interlaced and doubled modes paint the window black first.
  const uint32_t mode = (m->flags & kOpenDoublingMask) >> kOpenDoublingShift;
  if (mode == kDoubleInterlace || mode == kDoubleBothInterlace || mode == kDoubleField) {
    p->no_fill = false;
    h->invalidate(h->ctx);
  }
  return 0;
}

// The movie has ended: keep its surface for the next one and take the next name.
void end_movie(Player* p) {
  movie_close(p->movie);
  p->movie = nullptr;
  p->kept_surface = p->surface;
  p->surface = nullptr;
  close_own_file(p);
  p->o.loops = 1;  // every later movie plays once per pass
  if (!p->o.black_screen) p->host->window_position(p->host->ctx, &p->pic_x, &p->pic_y);
}

// WM_QUIT: the summary (when asked for and something played), then everything is closed.
int quit(Player* p) {
  char text[kSummaryTextCap];
  bool built = false;
  if (p->o.show_summary && p->summary_filled) {
    const Surface* s = p->surface ? p->surface : p->kept_surface;
    built = summary_text(&p->summary, surface_description(s), s ? uint32_t(s->screen_width) : 0,
                         s ? uint32_t(s->screen_height) : 0, s ? uint32_t(s->screen_bits) : 0, text, sizeof text);
  }
  movie_close(p->movie);
  p->movie = nullptr;
  close_own_file(p);
  surface_close(p->surface);
  surface_close(p->kept_surface);
  p->surface = p->kept_surface = nullptr;
  if (built) {
    p->host->sleep_ms(p->host->ctx, 10);
    box(p, kSummaryTitle, text, kBoxInformation);
  }
  return 0;
}

}  // namespace

void player_step(Player* p) {
  p->no_fill = false;
  Movie* m = p->movie;
  if (!m) return;
  movie_do_frame(m);
  Surface* s = p->surface;
  if (surface_lock(s)) {
    // The whole picture, or on the screen itself the part of it on the screen.
    SurfaceCopyArea a;
    if (surface_copy_area(s, (m->flags & kOpenDoublingMask) >> kOpenDoublingShift, &a)) {
      // Through the surface's own converters (a surface made without them: the movie's).
      CopySource src;
      movie_copy_source(m, &src);
      if (s->convert) src.context = s->convert;
      convert_copy_to_surface(&src, a.buffer, s->pitch, uint32_t(a.rect.height), 0, 0, uint32_t(a.rect.left),
                              uint32_t(a.rect.top), uint32_t(a.rect.width), uint32_t(a.rect.height),
                              s->flags | p->copy_flags);
    }
    p->copy_flags &= ~kSurfaceCopyWhole;
    surface_unlock(s);
  }
  surface_blit(s, m->rects, movie_changed_rects(s ? s->flags : 0, m));
  // At the last frame a loop ends; 0 loops counts below 0 and never ends the movie.
  if (m->current_frame >= m->frame_count && p->o.loops-- == 1) p->skip_movie = true;
  else movie_next_frame(m);
  if (p->o.show_stats) draw_stats_line(p);
  if (p->pause_state) movie_pause(m, 1);  // so that Enter steps one frame
}

void closing_picture(Player* p) {
  PlayerHost* h = p->host;
  fill_summary(p);
  size_t size = 0;
  const uint8_t* bytes = closing_picture_movie(&size);
  const MovieImage image{bytes, size};
  MovieOpen open = movie_open_image(&image, 0);
  open.sound = &p->sound;
  Movie* picture = bytes ? movie_open(&open) : nullptr;
  movie_close(p->movie);
  p->movie = picture;
  p->closing_shown = true;
  if (!picture) {
    p->closing_until = 0;
    return;
  }
  h->fill_black(h->ctx);
  p->o.loops = -1;
  p->closing_until = ms_timer() + kClosingMs;
  p->o.show_stats = false;
  p->pause_state = 0;

  Surface* s = p->surface;
  if (!s || s->width < kClosingWidth || s->height < kClosingHeight) {
    int32_t screen_w = s ? s->screen_width : 0, screen_h = s ? s->screen_height : 0;
    if (h->screen_size) h->screen_size(h->ctx, &screen_w, &screen_h);
    if ((p->surface_flags & kSurfaceSetDisplayMode) &&
        (screen_w < int32_t(kClosingWidth) || screen_h < int32_t(kClosingHeight))) {
      p->surface_flags &= ~kSurfaceSetDisplayMode;
      surface_close(s);
      p->surface = s = nullptr;
      p->o.black_screen = false;
    }
    Surface* fresh = surface_open(&p->display, p->window, kClosingWidth, kClosingHeight, p->surface_flags);
    if (!fresh) {
      movie_close(p->movie);
      p->movie = nullptr;  // the loop then destroys the window
      return;
    }
    surface_close(s);
    p->surface = s = fresh;
    if (!p->o.black_screen) {
      h->set_window_rect(h->ctx, (screen_w - int32_t(kClosingWidth)) / 2, (screen_h - int32_t(kClosingHeight)) / 2,
                         s->window_width, s->window_height);
      p->pic_x = p->pic_y = 0;
    }
  } else {
    surface_clear(s);
  }
  surface_set_output_size(int32_t(s->width), s, int32_t(s->height));
  p->pic_x += int32_t(s->width - kClosingWidth) / 2;
  p->pic_y += int32_t(s->height - kClosingHeight) / 2;
  surface_set_position(p->pic_x, s, p->pic_y);
}

bool player_idle(Player* p) {
  PlayerHost* h = p->host;
  if ((movie_wait(p->movie) && p->end_request != 1) || p->destroying) {
    p->idle_credit += 1;
  } else {
    bool stepped = true;
    if (p->skip_movie || p->end_request == 1) {
      p->skip_movie = false;
      p->end_request = 0;
      movie_pause(p->movie, 1);
      if (names_remain(p)) return true;
      p->passes -= 1;
      if (p->passes != 0) {
        p->text = p->saved;
        return true;
      }
      closing_picture(p);
      stepped = p->movie != nullptr;
    }
    if (stepped) player_step(p);
  }
  if (p->pause_state || (!p->has_focus && !p->o.keep_playing_unfocused)) p->idle_credit += 5;
  if (p->idle_credit > 0) {
    if (p->idle_credit > 10) p->idle_credit = 10;
    const uint32_t t = ms_timer();
    h->sleep_ms(h->ctx, uint32_t(p->idle_credit));
    p->idle_credit -= int32_t(ms_timer() - t);
    if (p->idle_credit < -100) p->idle_credit = -100;
  }
  if (p->closing_shown && !p->destroying &&
      (int32_t(ms_timer() - p->closing_until) > 0 || !p->movie || p->end_request == 2)) {
    p->destroying = true;
    h->destroy_window(h->ctx);
  }
  return false;
}

int player_main(PlayerHost* host, const char* stored_defaults, const char* command_line) {
  static Player player;  // process-wide, as the program's state is; 70 KB of text buffers
  Player* p = &player;
  std::memset(static_cast<void*>(p), 0, sizeof *p);
  p->host = host;
  if (host->attach_player) host->attach_player(host->ctx, p);

  // 1. Options.
  if (!options_build_text(&p->text, stored_defaults, command_line ? command_line : "")) {
    help_box(p);
    return 1;
  }
  OptionsEnv env = {profile_quick_play, host_screen_size, host};
  parse_options(&p->text, &env, &p->o);
  // 3. The help for an unknown switch or an empty line.
  if (options_wants_help(&p->text, &p->o)) {
    help_box(p);
    return 1;
  }
  if (p->o.has_display_mode) {
    DisplayRequest* r = &p->display.request;
    r->width = p->o.display_mode.width;
    r->height = p->o.display_mode.height;
    r->depth = p->o.display_mode.depth;
  }
  // 4. The window.
  p->no_fill = true;
  const PlayerWindowRequest request = {"Korva Video Player", "KorvaWin", p->o.window_style, p->o.topmost != 0,
                                       p->o.hide_cursor, p->o.black_screen, p->o.parent_window};
  p->window = host->create_window(host->ctx, &request);
  if (!p->window) {
    box(p, "Windows", "Error creating window.", kBoxError);
    return 1;
  }
  // 5. The sound system and the display system.
  if (host->sound_provider) sound_use_system(&p->sound, host->sound_provider(host->ctx, p->o.use_waveout), nullptr);
  surface_use_system(&p->display, host->display, host->display_context);
  // 6. The first name; several names make a list played `loops` times.
  p->saved = p->text;
  p->pic_x = p->o.pos_x;
  p->pic_y = p->o.pos_y;
  p->passes = 1;
  if (next_movie_name(&p->text, p->name, sizeof p->name) && names_remain(p)) {
    p->passes = p->o.loops;
    p->o.loops = 1;
  }

  for (;;) {
    if (const int code = open_movie(p)) return code;
    p->idle_credit = 0;
    // The message loop: one event at a time; the idle branch when none is waiting.
    LoopEnd end = kLoopQuit;
    for (;;) {
      const int32_t r = host->poll(host->ctx, p);
      if (r == kPollQuit) break;
      if (r == kPollHandled) continue;
      if (player_idle(p)) {
        end = kLoopNextMovie;
        break;
      }
    }
    if (end == kLoopQuit) return quit(p);
    end_movie(p);
    next_movie_name(&p->text, p->name, sizeof p->name);
  }
}

void player_on_focus(Player* p, bool gained) {
  if (!p->o.keep_playing_unfocused) movie_pause(p->movie, gained ? p->pause_state : 1);
  p->has_focus = gained;
}

void player_on_paint(Player* p) {
  if (!p->no_fill) p->host->fill_black(p->host->ctx);
  p->copy_flags |= kSurfaceCopyWhole;
  if (p->surface) surface_blit(p->surface, nullptr, 1);
}

void player_on_char(Player* p, uint32_t key) {
  const uint32_t disabled = uint32_t(p->o.disabled_controls);
  switch (key) {
    case 13:  // Enter: while paused, exactly one frame
      if (!(disabled & 1)) movie_pause(p->movie, 0);
      break;
    case 32:  // Space
      if (!(disabled & 1)) {
        p->pause_state = ~p->pause_state;
        movie_pause(p->movie, p->pause_state);
      }
      break;
    case '.':
      if (!(disabled & 2) && !p->closing_shown) p->skip_movie = true;
      break;
    case 27:  // Escape: no further movies or passes, through the closing picture
      if (disabled & 4) break;
      p->passes = 1;
      p->text.text[0] = 0;
      p->end_request = p->closing_shown ? 2 : 1;
      if (!p->closing_shown) fill_summary(p);
      movie_pause(p->movie, 0);
      break;
    default:
      break;
  }
}

void player_on_mouse_up(Player* p) {
  if (p->closing_shown) p->host->open_web_page(p->host->ctx, kClosingWebAddress);
}

void player_on_moving(Player* p, int32_t* x, int32_t* y) {
  if (!p->surface) return;
  *x += p->pic_x;
  *y += p->pic_y;
  surface_fit_position(x, p->surface, y);
  *x -= p->pic_x;
  *y -= p->pic_y;
}

void player_on_moved(Player* p) {
  if (p->surface) surface_set_position(p->pic_x, p->surface, p->pic_y);
}

void player_on_destroy(Player*) {}
