#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/options.h"
#include "container/open_flags.h"
#include "display/surface_flags.h"

namespace {

struct Parsed {
  PlayerOptions o;
  std::string rest;  // the movie names left after parsing, one blank between them
  bool help;
};

size_t fake_profile(void* ctx, char* out, size_t cap) {
  const char* p = static_cast<const char*>(ctx);
  std::snprintf(out, cap, "%s", p);
  return std::strlen(out);
}
bool fake_screen(void*, int32_t* w, int32_t* h) {
  *w = 1920;
  *h = 1080;
  return true;
}

std::vector<std::string> names(const char* text) {
  static OptionsText t;
  EXPECT_TRUE(options_set_text(&t, text));
  std::vector<std::string> out;
  char name[256];
  while (next_movie_name(&t, name, sizeof name)) out.push_back(name);
  return out;
}

Parsed parse(const char* command_line, const char* defaults = nullptr, const char* profile = "") {
  static OptionsText t;
  char store[kDefaultOptionsStore + 1];
  if (defaults) {
    EXPECT_TRUE(options_make_store(store, defaults));
  }
  EXPECT_TRUE(options_build_text(&t, defaults ? store : nullptr, command_line));
  OptionsEnv env{fake_profile, fake_screen, const_cast<char*>(profile)};
  Parsed p;
  parse_options(&t, &env, &p.o);
  p.help = options_wants_help(&t, &p.o);
  for (const std::string& n : names(t.text)) p.rest += (p.rest.empty() ? "" : " ") + n;
  return p;
}

TEST(Options, LoopsRateAndTrack) {
  struct Case {
    const char* text;
    int32_t loops, num, den, track;
    uint32_t flags;
  } cases[] = {
      {"m", 1, -1, -1, 0, 0},
      {"m /L", 0, -1, -1, 0, 0},
      {"m /L3", 3, -1, -1, 0, 0},
      {"m /F", 1, 0, 0, 0, kOpenRateOverride},
      {"m /F29.97", 1, 2997, 100, 0, kOpenRateOverride},
      {"m /f30000;1001", 1, 30000, 1001, 0, kOpenRateOverride},
      {"m /F-5", 1, -5, 1, 0, kOpenRateOverride},
      {"m /F25.0", 1, 25, 1, 0, kOpenRateOverride},
      {"m /F12.5;2", 1, 25, 4, 0, kOpenRateOverride},
      {"m /T0", 1, -1, -1, 0, 0},
      {"m /T7", 1, -1, -1, 7, kOpenTrackList},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.text);
    EXPECT_EQ(p.o.loops, c.loops) << c.text;
    EXPECT_EQ(p.o.rate_num, c.num) << c.text;
    EXPECT_EQ(p.o.rate_den, c.den) << c.text;
    EXPECT_EQ(p.o.track_id, c.track) << c.text;
    EXPECT_EQ(p.o.open_flags, c.flags) << c.text;
    EXPECT_FALSE(p.help) << c.text;
    EXPECT_EQ(p.rest, "m") << c.text;
  }
}

TEST(Options, FlagSwitchesAndDisplayOptions) {
  Parsed p = parse("m /z /S /q /J /C /N /G /P /K /M1000 /E65536 /U5 /I101");
  EXPECT_TRUE(p.o.use_waveout && p.o.show_summary && p.o.show_stats && p.o.keep_playing_unfocused &&
              p.o.hide_cursor);
  EXPECT_FALSE(p.o.black_screen);
  EXPECT_EQ(p.o.open_flags, kOpenNeverSkip | kOpenNoInitialFill | kOpenPreload | kOpenNoThread | kOpenReadSpeed |
                                kOpenBufferSize);
  EXPECT_EQ(p.o.read_speed, 1000);
  EXPECT_EQ(p.o.read_buffer, 65536);
  EXPECT_EQ(p.o.disabled_controls, 5);
  EXPECT_EQ(p.o.topmost, 1);
  EXPECT_EQ(p.o.window_style, 1);
  EXPECT_EQ(parse("m /R /I1").o.window_style, 2);  // a black screen means no window frame

  EXPECT_EQ(parse("m /A107").o.open_flags, kOpenGrey | 0x70000000u);
  EXPECT_EQ(parse("m /A9").o.open_flags, 0x70000000u);  // capped at 7
  EXPECT_EQ(parse("m /A3").o.open_flags, 0x30000000u);
  EXPECT_EQ(parse("m /A-3").help, true);
}

TEST(Options, DisplayModeBlitAndPosition) {
  Parsed p = parse("m /D207 /B4 /X10 /Y-20 /W-2 /H240");
  ASSERT_TRUE(p.o.has_display_mode);
  EXPECT_EQ(p.o.display_mode.width, 640);
  EXPECT_EQ(p.o.display_mode.height, 400);
  EXPECT_EQ(p.o.display_mode.depth, 32);
  EXPECT_EQ(p.o.screen_w, 640);  // the table replaces the screen size
  EXPECT_EQ(p.o.surface_flags, kSurfaceSetDisplayMode + 4);
  EXPECT_EQ(p.o.pos_x, 10);
  EXPECT_EQ(p.o.pos_y, -20);
  EXPECT_EQ(p.o.out_w_num, -2);
  EXPECT_EQ(p.o.out_w_den, 1);
  EXPECT_EQ(p.o.out_h_num, 240);

  Parsed none = parse("m /D0");
  EXPECT_FALSE(none.o.has_display_mode);
  EXPECT_EQ(none.o.surface_flags, 0u);
  EXPECT_EQ(none.o.screen_w, 1920);
  EXPECT_EQ(none.o.pos_x, kPositionAbsent);
  EXPECT_EQ(parse("m /D1313").o.display_mode.depth, 0);  // depth code 13 is outside the table...
  EXPECT_TRUE(parse("m /D1313").help);                    // ...so the help is shown
  EXPECT_TRUE(parse("m /D14").help);
  EXPECT_TRUE(parse("m /B11").help);
  EXPECT_EQ(parse("m /D613").o.display_mode.depth, 3);
}

TEST(Options, HelpDecision) {
  EXPECT_TRUE(parse("m /X").help);   // a number switch without digits stays in the text
  EXPECT_TRUE(parse("m /px").help);  // not the bare /P: the next character is not below '0'
  EXPECT_TRUE(parse("m /V").help);   // unknown
  EXPECT_TRUE(parse("   ").help);    // nothing to play
  EXPECT_TRUE(parse("/L /Q").help);
  EXPECT_FALSE(parse("m /P.").help);  // '.' is below '0': a bare /P
  EXPECT_EQ(parse("m /L5/Q").o.loops, 5);
  EXPECT_TRUE(parse("m /L5/Q").o.show_stats);
}

TEST(Options, CancellationAndDefaults) {
  Parsed p = parse("/-c other", ":141312 /c /d207");
  EXPECT_FALSE(p.o.hide_cursor);
  EXPECT_TRUE(p.o.has_display_mode);
  EXPECT_EQ(p.rest, ":141312 other");
  EXPECT_TRUE(parse("/c movie /-C").o.hide_cursor == false);
  // /-D takes the earlier /D together with its argument, also a quoted one.
  EXPECT_EQ(parse("m /D207 /-d").o.has_display_mode, false);
  Parsed q = parse("m /T\"a b\" /-T");
  EXPECT_EQ(q.rest, "m");
  EXPECT_FALSE(q.help);
  // A trailing /- cuts the text there.
  EXPECT_EQ(parse("m /Q /-").o.show_stats, true);
  EXPECT_EQ(parse("m /-").rest, "m");
  // Later switches of the letter stay.
  EXPECT_EQ(parse("m /L2 /-L /L4").o.loops, 4);
  // Only the first '~' counts and the store's padding never reaches the text.
  EXPECT_EQ(parse("", "intro /q").rest, "intro");
}

TEST(Options, ProfileSwitches) {
  Parsed p = parse("m /!", nullptr, "/q /L2");
  EXPECT_TRUE(p.o.show_stats);
  EXPECT_EQ(p.o.loops, 2);
  EXPECT_EQ(p.rest, "m");
  EXPECT_FALSE(parse("m /!", nullptr, "").help);
}

TEST(Options, MovieNames) {
  EXPECT_EQ(names("  a.krv  b"), (std::vector<std::string>{"a.krv", "b"}));
  EXPECT_EQ(names("\"my movie.krv\" next"), (std::vector<std::string>{"my movie.krv", "next"}));
  EXPECT_EQ(names("a , b ,c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(names(""), (std::vector<std::string>{}));
  // A quoted name keeps its forward slashes: they are not switches, and they leave no '/' for
  // the help decision; switches around it still count.
  {
    OptionsText t;
    ASSERT_TRUE(options_set_text(&t, "\"/work/lib/m.krv\" /L2 \"/s/x|40\""));
    PlayerOptions o;
    parse_options(&t, nullptr, &o);
    EXPECT_EQ(o.loops, 2);  // the /l inside the first name is no switch
    EXPECT_FALSE(o.show_summary);
    EXPECT_FALSE(options_wants_help(&t, &o));
    EXPECT_EQ(names(t.text), (std::vector<std::string>{"/work/lib/m.krv", "/s/x|40"}));
  }

  // Names as a shell hands them over ("%1" in quotes): blanks kept, quotes removed, and the
  // switches around them still count. A quote inside an unquoted name is part of the name, not
  // the start of a quoted one: the switches after it count too.
  struct Line {
    const char* command_line;
    std::vector<std::string> names;
    int32_t loops;
    bool stats;
  } lines[] = {
      {"\"C:\\My Movies\\intro.krv\"", {"C:\\My Movies\\intro.krv"}, 1, false},
      {"\"C:\\My Movies\\intro.krv\" \"D:\\Old Discs, 1998\\end.krv\"",
       {"C:\\My Movies\\intro.krv", "D:\\Old Discs, 1998\\end.krv"}, 1, false},
      {"/L3 \"C:\\My Movies\\a.krv\" /q \"Z:\\tmp\\x y\\b.krv\",c.krv",
       {"C:\\My Movies\\a.krv", "Z:\\tmp\\x y\\b.krv", "c.krv"}, 3, true},
      {"\"C:\\My Movies\\intro.krv\"/L2", {"C:\\My Movies\\intro.krv"}, 2, false},
      {"say\"hi\".krv /L2 /Q", {"say\"hi\".krv"}, 2, true},
      {"a\"b.krv \"c d.krv\" /Q", {"a\"b.krv", "c d.krv"}, 1, true},
      {"a\"b.krv /L4 c\"d.krv", {"a\"b.krv", "c\"d.krv"}, 4, false},
  };
  for (const Line& l : lines) {
    Parsed p = parse(l.command_line, ":141312 /c");
    EXPECT_FALSE(p.help) << l.command_line;
    EXPECT_EQ(p.o.loops, l.loops) << l.command_line;
    EXPECT_EQ(p.o.show_stats, l.stats) << l.command_line;
    EXPECT_TRUE(p.o.hide_cursor) << l.command_line;
    std::string want = ":141312";
    for (const std::string& n : l.names) want += " " + n;
    EXPECT_EQ(p.rest, want) << l.command_line;
  }

  struct Case {
    const char* name;
    MovieNameKind kind;
    const char* file;
    uint64_t offset;
  } cases[] = {
      {":141312", kNameOwnExecutable, "", 141312},
      {"big.dat|4096", kNameFileAtOffset, "big.dat", 4096},
      {"intro", kNamePlain, "intro.krv", 0},
      {"intro.krv", kNamePlain, "intro.krv", 0},
      {"c:\\movies\\intro", kNamePlain, "c:\\movies\\intro.krv", 0},
      {"c:\\my.dir\\intro", kNamePlain, "c:\\my.dir\\intro.krv", 0},
      {"C:\\My Movies\\intro", kNamePlain, "C:\\My Movies\\intro.krv", 0},
      {"C:\\My Movies\\intro.krv", kNamePlain, "C:\\My Movies\\intro.krv", 0},
      {"dir.d/intro", kNamePlain, "dir.d/intro.krv", 0},
  };
  for (const Case& c : cases) {
    ResolvedName r;
    const char* err = nullptr;
    ASSERT_TRUE(resolve_movie_name(c.name, &r, &err)) << c.name;
    EXPECT_EQ(r.kind, c.kind) << c.name;
    EXPECT_STREQ(r.file, c.file) << c.name;
    EXPECT_EQ(r.offset, c.offset) << c.name;
  }
  ResolvedName r;
  const char* err = nullptr;
  EXPECT_FALSE(resolve_movie_name(":12x", &r, &err));
  EXPECT_FALSE(resolve_movie_name("f|", &r, &err));
  EXPECT_FALSE(resolve_movie_name("|12", &r, &err));
}

TEST(Options, FitOutputSize) {
  struct Case {
    int32_t num, den, movie, screen;
    uint32_t bit;
    int32_t size;
    uint32_t flags;
  } cases[] = {
      {0, 0, 640, 1920, kSurfaceWidthBit, 640, 0},                            // absent
      {-2, 1, 320, 1920, kSurfaceWidthBit, 640, kSurfaceWidthBit * 8},        // integer enlargement
      {-1, 1, 640, 1920, kSurfaceWidthBit, 1920, kSurfaceWidthBit * 8},       // the screen, 3×
      {-1, 1, 700, 1920, kSurfaceWidthBit, 1920, kSurfaceWidthBit * 4},       // the screen, not a multiple
      {320, 1, 640, 1920, kSurfaceWidthBit, 320, kSurfaceWidthBit * 2},       // integer reduction
      {500, 1, 640, 1920, kSurfaceWidthBit, 500, kSurfaceWidthBit * 1},       // reduction
      {640, 1, 640, 1920, kSurfaceWidthBit, 640, 0},                          // same size
      {-3, 2, 200, 1080, kSurfaceHeightBit, 300, kSurfaceHeightBit * 4},      // 1.5×
      {-1, 2, 200, 1080, kSurfaceHeightBit, 100, kSurfaceHeightBit * 2},      // 0.5×
      {1, 2, 200, 1080, kSurfaceHeightBit, 200, 0},                           // nothing left: movie size
  };
  for (const Case& c : cases) {
    uint32_t flags = 0;
    EXPECT_EQ(fit_output_size(c.num, c.bit, &flags, c.den, c.movie, c.screen), c.size) << c.num << "/" << c.den;
    EXPECT_EQ(flags, c.flags) << c.num << "/" << c.den;
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return lines;
}

// The help text, line by line, as the player shows it: on Windows exactly the switch table's
// text; where /Z has nothing to choose (Linux) its line says so, and nothing else differs.
TEST(Options, HelpText) {
  const std::vector<std::string> kExpected = {
      "  SYNTAX: KorvaPlay <Korva1 Korva2 ...> [/Switches]:",
      "    /P  \t- Preload the entire Korva video into memory.",
      "    /L##\t- Loop the animation (just/L for infinite).",
      "    /F#.#\t- Use this frame rate (just /F for fast).",
      "    /T##\t- Play the specified sound track.",
      "    /Z  \t- Use waveOut instead of DirectSound for audio output.",
      "    /S  \t- Show the playback summary when finished.",
      "    /X##\t- Specifies the X coordinate of the playback.",
      "    /Y##\t- Specifies the Y coordinate of the playback.",
      "    /W#.#\t- Stretch to this width in pixels (can be slow). Use negative numbers for",
      "         \t    scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1').",
      "    /H#.#\t- Stretch to this height in pixels (can be slow).",
      "    /R   \t- Fill the screen with a black background.",
      "    /C   \t- Hide the cursor when in the Korva window.",
      "    /M##\t- Simulate this read speed (in bytes/second).",
      "    /E##\t- Specified the amount of memory for read buffering.",
      "    /G  \t- Don't load the read buffer when opening the Korva (faster opening).",
      "    /K  \t- Do not use multi-threaded device reading.",
      "    /U##\t- Disable controls: 1=pause, 2=skip, 4=quit.",
      "    /N  \t- Never skip frames when falling behind.",
      "    /Q  \t- Show run-time playback statistics.",
      "    /J  \t- Don't pause the video when the focus is lost.",
      "    /I# \t- Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top.",
      "    /A##\t- Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width doubled,",
      "        \t    4=2x width and height interlaced, 5=2x width and height doubled,",
      "        \t    6=1x height interlaced, 7=force none. Add 100 for grayscale.",
      "    /D##\t- Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,",
      "        \t    6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,",
      "        \t    12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,",
      "        \t    100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least",
      "        \t    high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),",
      "        \t    and 600 for true-color only (32, then 24).",
      "    /B##\t- Blitting style: 0=Automatic, 1=DirectDraw primary display (best quality,",
      "        \t    very fast), 2=DIBSection (best quality, most compatible), 3=YV12 overlay,",
      "        \t    4=YUY2 overlay, 5=UYVY overlay, 6=YV12 off-screen, 7=YUY2 off-screen,",
      "        \t    8=UYVY off-screen, 9=DirectDraw RGB video memory off-screen,",
      "        \t    10=DirectDraw RGB system memory off-screen.",
  };
  const std::string windows = options_help_text(false);
  ASSERT_EQ(windows.back(), '\n');
  std::vector<std::string> lines = lines_of(windows);
  ASSERT_EQ(lines.size(), 1 + kExpected.size());
  EXPECT_EQ(lines[0].rfind("KorvaPlay  V 1.5q", 0), 0u);
  for (size_t i = 0; i < kExpected.size(); ++i) EXPECT_EQ(lines[i + 1], kExpected[i]);

  std::vector<std::string> one_output_lines = kExpected;
  const size_t z = 5;  // after the syntax line and /P, /L, /F, /T
  ASSERT_EQ(one_output_lines[z].rfind("    /Z  \t- ", 0), 0u);
  one_output_lines[z] = "    /Z  \t- Use waveOut instead of DirectSound for audio output (Windows only: on Linux";
  one_output_lines.insert(one_output_lines.begin() + z + 1,
               "        \t    the switch is accepted and does nothing, SDL2 being the one sound output).");
  const std::string one_output = options_help_text(true);
  ASSERT_EQ(one_output.back(), '\n');
  lines = lines_of(one_output);
  ASSERT_EQ(lines.size(), 1 + one_output_lines.size());
  EXPECT_EQ(lines[0], lines_of(windows)[0]);
  for (size_t i = 0; i < one_output_lines.size(); ++i) EXPECT_EQ(lines[i + 1], one_output_lines[i]);
}

}  // namespace
