// krvtool options: what a command line means to the player.
#include <cstdio>
#include <cstring>

#include "app/options.h"
#include "platform/platform.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool options \"TEXT\" [--defaults \"TEXT\"] [--profile \"TEXT\"]\n"
    "  Joins the default options string (--defaults, as stored in a self-running player) and\n"
    "  TEXT (the command line), parses them as the player does and prints every option, both\n"
    "  flag words, the display mode and the movie names left with their resolved form.\n"
    "  /! reads the profile value KorvaQuickPlay, or --profile's text when given.\n"
    "  When the player would show its help, the help text is printed and the exit code is 1.\n";

struct Ctx {
  const char* profile;  // null: the real profile
};

size_t quick_play(void* ctx, char* out, size_t cap) {
  const Ctx* c = static_cast<const Ctx*>(ctx);
  if (c->profile) {
    size_t n = std::strlen(c->profile);
    if (n > cap - 1) n = cap - 1;
    std::memcpy(out, c->profile, n);
    out[n] = 0;
    return n;
  }
  return platform_profile_string("Tesmo Video Tools", "KorvaQuickPlay", "", out, cap);
}

bool screen(void*, int32_t* w, int32_t* h) { return platform_screen_size(w, h); }

}  // namespace

int cmd_options(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  const char* text = nullptr;
  const char* defaults = nullptr;
  Ctx ctx{nullptr};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--defaults") && i + 1 < argc) defaults = argv[++i];
    else if (!std::strcmp(argv[i], "--profile") && i + 1 < argc) ctx.profile = argv[++i];
    else if (!text) text = argv[i];
    else { std::fputs(kUsage, stderr); return tool_fail("unexpected argument '%s'", argv[i]); }
  }
  if (!text) { std::fputs(kUsage, stderr); return 1; }

  char store[kDefaultOptionsStore + 1];
  if (defaults && !options_make_store(store, defaults))
    return tool_fail("the default options string must be at most 511 characters without '~'");
  static OptionsText t;
  if (!options_build_text(&t, defaults ? store : nullptr, text)) return tool_fail("the command line is too long");
  OptionsEnv env{quick_play, screen, &ctx};
  PlayerOptions o;
  parse_options(&t, &env, &o);
  if (options_wants_help(&t, &o)) {
    // The help of the player built beside this tool: on Windows /Z chooses waveOut.
#ifdef _WIN32
    std::fputs(options_help_text(false), stdout);
#else
    std::fputs(options_help_text(true), stdout);
#endif
    return 1;
  }
  std::printf("loops %d\nparent_window %d\nrate %d/%d\ntrack_id %d\nread_speed %d\nread_buffer %d\n",
              o.loops, o.parent_window, o.rate_num, o.rate_den, o.track_id, o.read_speed, o.read_buffer);
  std::printf("disabled_controls %d\ntopmost %d\nwindow_style %d\n", o.disabled_controls, o.topmost,
              o.window_style);
  std::printf("use_waveout %d\nshow_summary %d\nshow_stats %d\nkeep_playing_unfocused %d\nblack_screen %d\n"
              "hide_cursor %d\n",
              o.use_waveout, o.show_summary, o.show_stats, o.keep_playing_unfocused, o.black_screen, o.hide_cursor);
  std::printf("position %d %d\noutput_width %d/%d\noutput_height %d/%d\nscreen %dx%d\n", o.pos_x, o.pos_y,
              o.out_w_num, o.out_w_den, o.out_h_num, o.out_h_den, o.screen_w, o.screen_h);
  if (o.has_display_mode)
    std::printf("display_mode %dx%d depth %d\n", o.display_mode.width, o.display_mode.height, o.display_mode.depth);
  else
    std::printf("display_mode none\n");
  std::printf("open_flags 0x%08x\nsurface_flags 0x%08x\n", o.open_flags, o.surface_flags);
  static char name[kOptionsTextCap];
  while (next_movie_name(&t, name, sizeof name)) {
    ResolvedName r;
    const char* error = nullptr;
    if (!resolve_movie_name(name, &r, &error)) {
      std::printf("movie \"%s\": %s\n", name, error);
      continue;
    }
    switch (r.kind) {
      case kNameOwnExecutable:
        std::printf("movie \"%s\": own executable at offset %llu\n", name, (unsigned long long)r.offset);
        break;
      case kNameFileAtOffset:
        std::printf("movie \"%s\": file \"%s\" at offset %llu\n", name, r.file, (unsigned long long)r.offset);
        break;
      default:
        std::printf("movie \"%s\": file \"%s\"\n", name, r.file);
        break;
    }
  }
  return 0;
}
