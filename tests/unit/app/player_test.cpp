// The player driven through a fake window host, memory surfaces, the capture sound back end and
// a clock that moves only when the player sleeps: lists, loops and passes, keys, focus, the
// closing picture, the summary, the error boxes with their exit codes, the update reminder.
#include <gtest/gtest.h>

#include "tests/unit/test_sound.h"
#include "long_path.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/player.h"
#include "app/player_state.h"
#include "playback/engine.h"
#include "playback/movie.h"
#include "convert/convert.h"
#include "display/backends/ddraw_logic.h"
#include "display/backends/memory_display.h"
#include "display/backends/memory_surface.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "base/timer.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"

namespace {

uint64_t g_now = 0;
bool fake_frequency(uint64_t* f) { *f = 1000; return true; }
uint64_t fake_counter() { return g_now; }
uint32_t fake_coarse() { return uint32_t(g_now); }
const TimerSources kFakeClock = {fake_frequency, fake_counter, fake_coarse};

struct Box {
  std::string title, text;
  uint32_t kind;
  bool owned;
  bool window_open, window_shown;  // the player's window while the box was up
};

// A window host that records what the player asks of it. Events are scripted: each is tried at
// every poll and fires once when its condition holds.
struct FakeHost {
  PlayerHost host{};
  MemoryDisplay display{};
  bool window_open = false, window_shown = false, create_fails = false;
  int32_t win_x = 0, win_y = 0, win_w = 0, win_h = 0;
  std::vector<Box> boxes;
  int32_t answer = kAnswerNo;
  std::vector<std::string> pages;
  std::vector<std::string> stats_lines;
  std::string profile_date = "";  // LastVersionCheckDate ("" = absent)
  int32_t year = 2002, month = 12, day = 1;
  uint32_t fills = 0;
  struct Event {
    std::function<bool(Player*)> when;
    std::function<void(Player*)> action;
    bool done;
  };
  std::vector<Event> events;
  // Frames shown: the movie's current frame number at each copy (recorded by the step hook).
  uint32_t polls = 0;
  // The window's calls and the boxes, in order: "create", "show", "hide", "destroy", "box <title>".
  std::vector<std::string> calls;

  FakeHost() {
    memory_display_default(&display);
    host.ctx = this;
    host.create_window = [](void* c, const PlayerWindowRequest*) -> void* {
      FakeHost* h = self(c);
      h->calls.push_back("create");
      if (h->create_fails) return nullptr;
      h->window_open = true;
      return h;
    };
    host.destroy_window = [](void* c) {
      self(c)->calls.push_back("destroy");
      self(c)->window_open = false;
      self(c)->window_shown = false;
    };
    host.show_window = [](void* c, bool show) {
      self(c)->calls.push_back(show ? "show" : "hide");
      self(c)->window_shown = show;
    };
    host.set_window_rect = [](void* c, int32_t x, int32_t y, int32_t w, int32_t h) {
      FakeHost* f = self(c);
      f->win_x = x;
      f->win_y = y;
      f->win_w = w;
      f->win_h = h;
      f->display.window_x = x;
      f->display.window_y = y;
    };
    host.window_position = [](void* c, int32_t* x, int32_t* y) {
      *x = self(c)->win_x;
      *y = self(c)->win_y;
    };
    host.invalidate = [](void*) {};
    host.fill_black = [](void* c) { self(c)->fills += 1; };
    host.measure_text = [](void*, const char*, size_t n, int32_t* w, int32_t* h) {
      *w = int32_t(6 * n);
      *h = 14;
    };
    host.draw_stats_text = [](void* c, const char* text, int32_t, int32_t, int32_t, int32_t) {
      self(c)->stats_lines.push_back(text);
    };
    host.message_box = [](void* c, const char* title, const char* text, uint32_t kind, bool owned) -> int32_t {
      FakeHost* h = self(c);
      h->calls.push_back(std::string("box ") + title);
      h->boxes.push_back({title, text, kind, owned, h->window_open, h->window_shown});
      return kind == kBoxQuestion ? h->answer : kAnswerOk;
    };
    host.open_web_page = [](void* c, const char* address) { self(c)->pages.push_back(address); };
    host.poll = [](void* c, Player* p) -> int32_t {
      FakeHost* h = self(c);
      h->polls += 1;
      if (!h->window_open) return kPollQuit;
      for (Event& e : h->events) {
        if (!e.done && e.when(p)) {
          e.done = true;
          e.action(p);
          return kPollHandled;
        }
      }
      return kPollIdle;
    };
    host.sleep_ms = [](void*, uint32_t ms) { g_now += ms ? ms : 1; };
    host.screen_size = [](void* c, int32_t* w, int32_t* h) {
      *w = self(c)->display.screen_width;
      *h = self(c)->display.screen_height;
      return true;
    };
    host.local_date = [](void* c, int32_t* y, int32_t* m, int32_t* d) {
      *y = self(c)->year;
      *m = self(c)->month;
      *d = self(c)->day;
    };
    host.profile_read = [](void* c, const char* key, const char* fallback, char* out, size_t cap) -> size_t {
      FakeHost* h = self(c);
      std::string v = (!std::strcmp(key, "LastVersionCheckDate") && !h->profile_date.empty()) ? h->profile_date
                                                                                               : fallback;
      std::snprintf(out, cap, "%s", v.c_str());
      return std::strlen(out);
    };
    host.profile_write = [](void* c, const char* key, const char* value) {
      if (!std::strcmp(key, "LastVersionCheckDate")) self(c)->profile_date = value;
    };
    host.sound_provider = [](void*, bool) -> sound_provider_fn { return capture_provider; };
    host.display = &kMemoryDisplay;
    host.display_context = &display;
  }
  static FakeHost* self(void* c) { return static_cast<FakeHost*>(c); }

  void on(std::function<bool(Player*)> when, std::function<void(Player*)> action) {
    events.push_back({std::move(when), std::move(action), false});
  }
  int run(const std::string& command_line) {
    return player_main(&host, nullptr, command_line.c_str());
  }
  bool has_box(const char* title) const {
    for (const Box& b : boxes)
      if (b.title == title) return true;
    return false;
  }
  const Box* box(const char* title) const {
    for (const Box& b : boxes)
      if (b.title == title) return &b;
    return nullptr;
  }
};

// Names are quoted as the Linux front end quotes them: their slashes are no switches.
std::string quote(const std::string& name) { return "\"" + name + "\""; }

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 0;
    timer_install_sources(&kFakeClock);
    ms_timer();
    test_sound_reset();
    CaptureConfig c;
    capture_default_config(&c);
    c.realtime = 0;
    capture_configure(&c);
  }
  void TearDown() override {
    timer_install_sources(nullptr);
    test_sound_reset();
  }
  static std::string movie(const char* name, uint32_t frames, bool sound = false) {
    SampleMovieSpec s;
    s.frames = frames;
    s.width = 64;
    s.height = 48;
    if (!sound) s.audio_rate = 0;
    std::vector<uint8_t> bytes = sample_movie_write(s);
    std::string path = std::string(KORVA_TEST_TMP) + "/" + name;
    EXPECT_TRUE(platform_file_write_all(path.c_str(), bytes.data(), bytes.size()));
    return quote(path);
  }
};

// Counts the frames decoded per movie through the summary of each and the loops.
uint32_t frames_played(const FakeHost& h) {
  const Box* b = h.box("Korva Playback Summary");
  if (!b) return 0;
  const size_t at = b->text.find("Total frames played: ");
  return at == std::string::npos ? 0 : uint32_t(std::stoul(b->text.substr(at + 21)));
}

TEST_F(PlayerTest, PlaysToTheEndThroughTheClosingPicture) {
  const std::string m = movie("p1.krv", 12);
  FakeHost h;
  const uint32_t t0 = ms_timer();
  EXPECT_EQ(h.run(m + " /S"), 0);
  EXPECT_FALSE(h.window_open);
  // 12 frames at 10 a second, then 2250 ms of closing picture.
  EXPECT_GE(ms_timer() - t0, 1100u + 2250u);
  EXPECT_LE(ms_timer() - t0, 1300u + 2400u);
  EXPECT_EQ(frames_played(h), 12u);
  const Box* b = h.box("Korva Playback Summary");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->kind, uint32_t(kBoxInformation));
  EXPECT_NE(b->text.find("Blitting style: DirectDraw primary surface"), std::string::npos);
  EXPECT_EQ(h.boxes.size(), 1u);  // no update question: the date is within two months of the build
}

TEST_F(PlayerTest, ListsLoopsAndPasses) {
  const std::string a = movie("la.krv", 5), b = movie("lb.krv", 7);
  struct Case {
    std::string line;
    uint32_t frames, opens;
  };
  const Case kCases[] = {
      {a + " /S /L2", 10, 1},          // one movie twice, in one open
      {a + " " + b + " /S /L2", 7, 4},  // a list twice: the summary is of the last movie played
      {a + " " + b + " /S", 7, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    FakeHost h;
    // Every open decodes its frame 1 once (a loop inside one open goes on counting).
    uint32_t opens = 0;
    bool counted = false;
    h.on([&](Player* p) {
      const bool first = p->movie && !p->closing_shown && p->movie->stats.frames_decoded == 1;
      if (first && !counted) ++opens;
      counted = first;
      return false;
    }, [](Player*) {});
    EXPECT_EQ(h.run(c.line), 0);
    EXPECT_EQ(frames_played(h), c.frames);
    EXPECT_EQ(opens, c.opens);
  }
}

TEST_F(PlayerTest, SpaceHoldsThePictureAndEnterStepsOneFrame) {
  const std::string m = movie("keys.krv", 30);
  FakeHost h;
  uint32_t held_at = 0, after_enter = 0, later = 0;
  h.on([](Player* p) { return p->movie && p->movie->stats.frames_decoded == 5; }, [](Player* p) { player_on_char(p, 32); });
  // While paused the clock runs on, the frame does not.
  h.on([&](Player*) { return g_now > 3000; }, [&](Player* p) {
    held_at = p->movie->stats.frames_decoded;
    player_on_char(p, 13);
  });
  h.on([&](Player*) { return g_now > 4000; }, [&](Player* p) {
    after_enter = p->movie->stats.frames_decoded;
    player_on_char(p, 32);  // resume
  });
  h.on([&](Player* p) { return g_now > 4500 && !p->closing_shown; }, [&](Player* p) {
    later = p->movie->stats.frames_decoded;
    player_on_char(p, 27);
  });
  EXPECT_EQ(h.run(m + " /J"), 0);
  EXPECT_EQ(held_at, 5u);
  EXPECT_EQ(after_enter, 6u);
  EXPECT_GT(later, 8u);
  EXPECT_LT(later, 30u);
}

TEST_F(PlayerTest, FocusLossPausesUnlessKeepPlaying) {
  const std::string m = movie("focus.krv", 40);
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    FakeHost h;
    const uint64_t start = g_now;
    uint32_t at_loss = 0, at_check = 0;
    h.on([](Player* p) { return p->movie && p->movie->stats.frames_decoded == 3; }, [&](Player* p) {
      at_loss = p->movie->stats.frames_decoded;
      player_on_focus(p, false);
    });
    h.on([&](Player*) { return g_now > start + 2000; }, [&](Player* p) {
      at_check = p->movie->stats.frames_decoded;
      player_on_focus(p, true);
      player_on_char(p, 27);
    });
    EXPECT_EQ(h.run(m + (keep ? " /J" : "")), 0);
    if (keep) {
      EXPECT_GT(at_check, at_loss + 10);
    } else {
      EXPECT_LE(at_check, at_loss + 1);
    }
  }
}

TEST_F(PlayerTest, EscapeEndsThroughTheClosingPictureWithASummaryOfThatMoment) {
  const std::string m = movie("esc.krv", 50);
  FakeHost h;
  uint32_t closing_from = 0;
  h.on([](Player* p) { return p->movie && p->movie->stats.frames_decoded == 8; }, [](Player* p) { player_on_char(p, 27); });
  h.on([](Player* p) { return p->closing_shown; }, [&](Player*) { closing_from = uint32_t(g_now); });
  h.on([](Player* p) { return p->closing_shown; }, [&](Player* p) { player_on_mouse_up(p); });
  EXPECT_EQ(h.run(m + " /S"), 0);
  EXPECT_EQ(frames_played(h), 8u);
  EXPECT_GE(uint32_t(g_now) - closing_from, 2250u);
  ASSERT_EQ(h.pages.size(), 1u);
  EXPECT_EQ(h.pages[0], kClosingWebAddress);

  // Escape during the closing picture ends at once.
  FakeHost h2;
  h2.on([](Player* p) { return p->closing_shown; }, [&](Player* p) {
    closing_from = uint32_t(g_now);
    player_on_char(p, 27);
  });
  EXPECT_EQ(h2.run(movie("esc2.krv", 2)), 0);
  EXPECT_LT(uint32_t(g_now) - closing_from, 100u);
}

TEST_F(PlayerTest, ErrorsShowABoxAndExitWithOne) {
  const std::string m = movie("err.krv", 3);
  std::vector<uint8_t> wrapped(100, 'x');
  {
    std::vector<uint8_t> bytes;
    SampleMovieSpec s;
    s.frames = 3;
    s.audio_rate = 0;
    bytes = sample_movie_write(s);
    wrapped.insert(wrapped.end(), bytes.begin(), bytes.end());
  }
  const std::string inside = std::string(KORVA_TEST_TMP) + "/inside.bin";
  ASSERT_TRUE(platform_file_write_all(inside.c_str(), wrapped.data(), wrapped.size()));
  struct Case {
    std::string line;
    const char* title;
    const char* text;
    int code;
  };
  const Case kCases[] = {
      {quote("/nonexistent/movie.krv"), "Korva Error", "Error opening file.", 1},
      {quote("/nonexistent/x|100"), "Korva Error", "Error opening file.", 1},
      {quote(inside + "|100"), nullptr, nullptr, 0},  // a movie inside another file plays
      {m + " /Y", "Korva Video Player Help", nullptr, 1},
      {"", "Korva Video Player Help", nullptr, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    FakeHost h;
    EXPECT_EQ(h.run(c.line), c.code);
    EXPECT_FALSE(h.window_open);
    if (!c.title) {
      EXPECT_TRUE(h.boxes.empty());
      continue;
    }
    const Box* b = h.box(c.title);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->owned);
    if (c.text) {
      EXPECT_EQ(b->text, c.text);
    }
  }
  FakeHost no_window;
  no_window.create_fails = true;
  EXPECT_EQ(no_window.run(m), 1);
  ASSERT_TRUE(no_window.has_box("Windows"));
  EXPECT_EQ(no_window.box("Windows")->text, "Error creating window.");
  FakeHost no_surface;
  no_surface.display.styles = 0;
  EXPECT_EQ(no_surface.run(m), 1);
  ASSERT_TRUE(no_surface.has_box("Korva Error"));
  EXPECT_EQ(no_surface.box("Korva Error")->text, "No capable blitting style available.");
}

// The help box: where /Z chooses another sound output (Windows) the switch table's text as it
// stands; where both choices are one output (Linux) the /Z line says that it does nothing.
TEST_F(PlayerTest, HelpSaysWhatZDoesWithThisProgramsSoundOutputs) {
  FakeHost one_output;
  EXPECT_EQ(one_output.run(""), 1);
  ASSERT_TRUE(one_output.has_box("Korva Video Player Help"));
  EXPECT_NE(one_output.box("Korva Video Player Help")->text.find("on Linux\n        \t    the switch is accepted and "
                                                                  "does nothing, SDL2 being the one sound output)."),
            std::string::npos);

  FakeHost two_outputs;
  two_outputs.host.sound_provider = [](void*, bool waveout) -> sound_provider_fn {
    static const sound_provider_fn kOther = [](void*) -> sound_open_fn { return nullptr; };
    return waveout ? kOther : capture_provider;
  };
  EXPECT_EQ(two_outputs.run("m.krv /Y"), 1);
  ASSERT_TRUE(two_outputs.has_box("Korva Video Player Help"));
  const std::string& text = two_outputs.box("Korva Video Player Help")->text;
  EXPECT_NE(text.find("    /Z  \t- Use waveOut instead of DirectSound for audio output.\n    /S  "), std::string::npos);
  EXPECT_EQ(text.find("Linux"), std::string::npos);
}

TEST_F(PlayerTest, NamesUpTo2048CharactersOpenLongerOnesAreRefused) {
  SampleMovieSpec s;
  s.frames = 2;
  s.width = 64;
  s.height = 48;
  s.audio_rate = 0;
  const std::vector<uint8_t> bytes = sample_movie_write(s);
  struct Case {
    size_t length;
    const char* form;  // "%s" or "%s|0"
    int code;
  };
  const Case kCases[] = {
      {2000, "%s", 0}, {2048, "%s", 0}, {2049, "%s", 1}, {4000, "%s", 1},
      {2046, "%s|0", 0}, {2047, "%s|0", 1},  // the name includes "|0"
  };
  for (const Case& c : kCases) {
    const std::string path = long_movie_path(std::string(KORVA_TEST_TMP) + "/long_player", c.length);
    ASSERT_EQ(path.size(), c.length);
    ASSERT_TRUE(platform_file_write_all(path.c_str(), bytes.data(), bytes.size()));
    char name[8192];
    std::snprintf(name, sizeof name, c.form, path.c_str());
    SCOPED_TRACE(std::to_string(std::strlen(name)) + " characters, form " + c.form);
    FakeHost h;
    EXPECT_EQ(h.run(quote(name)), c.code);
    if (c.code == 0) {
      EXPECT_TRUE(h.boxes.empty()) << h.boxes[0].text;
    } else {
      ASSERT_TRUE(h.has_box("Korva Error"));
      EXPECT_EQ(h.box("Korva Error")->text, "The movie's name is longer than 2048 characters.");
    }
  }
}

// The order for every error once the window exists: hide it, show the box, destroy it
// after the box. (On Windows the destruction posts the quit message, and a box's own message
// loop ends at once on a pending quit: a box shown after it would flash and vanish.)
TEST_F(PlayerTest, ErrorBoxComesBetweenHidingAndDestroyingTheWindow) {
  const std::string m = movie("order.krv", 3);
  struct Case {
    std::string line;
    bool no_surface;
    const char* text;  // null: any text
  };
  const Case kCases[] = {
      {quote("/nonexistent/movie.krv"), false, nullptr},         // the movie cannot be opened
      {quote("/nonexistent/x|100"), false, "Error opening file."},
      {":1000000000", false, nullptr},                            // no movie in the own executable
      {m, true, "No capable blitting style available."},          // no surface
      {m + " " + quote("/nonexistent/second.krv"), false, nullptr},  // a later movie of a list
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    FakeHost h;
    if (c.no_surface) h.display.styles = 0;
    EXPECT_EQ(h.run(c.line), 1);
    ASSERT_EQ(h.boxes.size(), 1u);
    const Box& b = h.boxes[0];
    EXPECT_EQ(b.title, "Korva Error");
    if (c.text) {
      EXPECT_EQ(b.text, c.text);
    }
    EXPECT_FALSE(b.owned);
    EXPECT_TRUE(b.window_open);    // not destroyed yet while the box is up
    EXPECT_FALSE(b.window_shown);  // but hidden
    ASSERT_GE(h.calls.size(), 3u);
    const std::vector<std::string> tail(h.calls.end() - 3, h.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"hide", "box Korva Error", "destroy"}));
    EXPECT_EQ(std::count(h.calls.begin(), h.calls.end(), "destroy"), 1);
    EXPECT_FALSE(h.window_open);
  }
  // The list's first movie played in the shown window before the second failed.
  FakeHost list;
  EXPECT_EQ(list.run(m + " " + quote("/nonexistent/second.krv")), 1);
  EXPECT_EQ(std::count(list.calls.begin(), list.calls.end(), "show"), 1);
  // Without a window there is nothing to hide or destroy.
  FakeHost no_window;
  no_window.create_fails = true;
  EXPECT_EQ(no_window.run(m), 1);
  EXPECT_EQ(no_window.calls, (std::vector<std::string>{"create", "box Windows"}));
}

TEST_F(PlayerTest, StatisticsLineAboveThePicture) {
  const std::string m = movie("stats.krv", 4);
  FakeHost h;
  EXPECT_EQ(h.run(m + " /Q /X100 /Y50"), 0);
  // The line is 6 × 100 + 8 wide, the window 64 wide: the picture moves right by half the
  // difference in steps of 4, and down by the line.
  ASSERT_EQ(h.stats_lines.size(), 4u);
  EXPECT_EQ(h.stats_lines[0].rfind("Fr: 1, FPS: ", 0), 0u);
  EXPECT_EQ(h.stats_lines[3].rfind("Fr: 4, ", 0), 0u);
}

// The screen itself (style 1) through the DirectDraw lock of the portable core, on a fake
// screen of 96 × 64 pixels at 32 bits whose memory is fenced by guard bytes: a picture partly
// off the screen shows its part on the screen, at every edge and corner and in every doubling
// mode, pixel for pixel as the whole picture would, and nothing is written anywhere else.
struct FakeScreen {
  static constexpr int32_t kWidth = 96, kHeight = 64, kPitch = 96 * 4 + 12, kGuard = 4096;
  std::vector<uint8_t> memory;  // guard, the screen's rows, guard
  int32_t origin_x = 0, origin_y = 0;
  int held = 0;
  uint8_t* screen() { return memory.data() + kGuard; }
};
FakeScreen g_screen;
int32_t screen_lock(void*, DdLocked* out) {
  ++g_screen.held;
  *out = DdLocked{g_screen.screen(), FakeScreen::kPitch, FakeScreen::kWidth, FakeScreen::kHeight, 32};
  return 0;
}
void screen_unlock(void*, void*) { --g_screen.held; }
int32_t screen_restore(void*) { return 0; }
constexpr DdSurfaceOps kScreenOps = {screen_lock, screen_unlock, screen_restore};
void* g_screen_locked;
int32_t screen_open(Surface* s, uint32_t style, uint32_t, bool) {
  if (style != 1) return kStyleFailed;
  s->kind.lock = [](Surface* s, uint8_t** buffer, int32_t* pitch) {
    return ddraw_lock_kind(&kScreenOps, &g_screen, s, buffer, pitch, &g_screen_locked);
  };
  s->kind.unlock = [](Surface*) { screen_unlock(&g_screen, g_screen_locked); };
  s->kind.blit = [](Surface*, const SurfaceBlitRect*, uint32_t, bool) {};
  s->kind.close = [](Surface*) {};
  s->flags = kFormatBgr32 | kSurfaceOnScreen;
  s->screen_width = FakeScreen::kWidth;
  s->screen_height = FakeScreen::kHeight;
  s->screen_bits = 32;
  s->bytes_per_pixel = 4;
  return kStyleOpened;
}
const DisplaySystem kScreenDisplay = {
    "fake screen", screen_open, nullptr,
    [](void*, void*, int32_t* x, int32_t* y) {
      *x = g_screen.origin_x;
      *y = g_screen.origin_y;
    },
    nullptr};

TEST_F(PlayerTest, PicturePartlyOffTheScreenShowsItsPartOnTheScreen) {
  SampleMovieSpec sample;
  sample.width = 48;
  sample.height = 32;
  sample.frames = 3;
  sample.content = 1;  // detail everywhere, so that a pixel out of place shows
  sample.audio_rate = 0;
  const std::vector<uint8_t> bytes = sample_movie_write(sample);
  MovieImage image{bytes.data(), bytes.size()};
  constexpr uint8_t kUntouched = 0x5A;
  struct Position {
    int32_t x, y;
  };
  // Relative to the screen: w, h are the picture's display size.
  auto positions = [](int32_t w, int32_t h) {
    const int32_t W = FakeScreen::kWidth, H = FakeScreen::kHeight;
    return std::vector<Position>{
        {8, 8},      {-5, 8},      {-13, -3},        {8, -7},         {W - w + 9, -1}, {W - w + 3, 8},
        {W - 1, 20}, {W - w + 5, H - h + 7}, {8, H - h + 11}, {-7, H - h + 3}, {-w + 1, 4},
        {5, -h + 1}, {-w, 4},      {W, 4},           {4, -h},         {4, H},          {-w, -h},
        {W, H},      {-3 * w, 2 * H},
    };
  };
  for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u}) {
    // The whole picture, as a surface wholly on the screen would get it.
    Movie* whole = open_with(movie_open_image(&image, kOpenFromMemory | (mode << kOpenDoublingShift)));
    ASSERT_NE(whole, nullptr);
    movie_do_frame(whole);
    MemorySurface* reference = memory_surface_open(kFormatBgr32, whole->width, whole->height, 0, 0, 0);
    ASSERT_NE(reference, nullptr);
    std::memset(reference->memory, kUntouched, reference->bytes);
    CopySource src;
    movie_copy_source(whole, &src);
    // The integer converters on both sides: the SIMD ones convert the pixels of a row that do
    // not fill a group of four with the integer arithmetic, so that where a row starts
    // decides which arithmetic a pixel gets.
    memory_surface_copy(reference, &src, kCopyWhole | kCopyNoSimd);
    const int32_t w = int32_t(whole->width), h = int32_t(whole->height);
    const int32_t x_step = int32_t(convert_width_factor(mode));
    const int32_t y_step = mode == 6 ? 2 : int32_t(convert_row_factor(mode));

    for (const Position& at : positions(w, h)) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " at " << at.x << ", " << at.y);
      g_screen.memory.assign(size_t(2 * FakeScreen::kGuard + FakeScreen::kPitch * FakeScreen::kHeight), kUntouched);
      g_screen.origin_x = at.x;
      g_screen.origin_y = at.y;
      std::unique_ptr<Player> p(new Player());
      surface_use_system(&p->display, &kScreenDisplay, nullptr);
      p->movie = open_with(movie_open_image(&image, kOpenFromMemory | (mode << kOpenDoublingShift)));
      ASSERT_NE(p->movie, nullptr);
      p->surface = surface_open(&p->display, reinterpret_cast<void*>(1), p->movie->width, p->movie->height, 1);
      ASSERT_NE(p->surface, nullptr);
      EXPECT_EQ(p->surface->picture_screen_x, at.x);
      p->copy_flags = kCopyNoSimd;
      player_step(p.get());
      EXPECT_EQ(g_screen.held, 0);

      // What may be written: the part on the screen, its left and top cuts rounded up to whole
      // doubled pixels and rows, whole source pixels and rows of it.
      const int32_t cut_l = at.x < 0 ? -at.x : 0, cut_t = at.y < 0 ? -at.y : 0;
      const int32_t vis_r = std::min(w, FakeScreen::kWidth - at.x), vis_b = std::min(h, FakeScreen::kHeight - at.y);
      const int32_t x0 = (cut_l + x_step - 1) / x_step * x_step, y0 = (cut_t + y_step - 1) / y_step * y_step;
      const int32_t x1 = x0 + std::max(0, vis_r - x0) / x_step * x_step;
      const int32_t y1 = y0 + std::max(0, vis_b - y0) / y_step * y_step;
      const bool interlaced = mode == 2 || mode == 5 || mode == 6;
      uint32_t written = 0, expected = 0;
      for (int32_t py = y0; py < y1; ++py)
        if (!interlaced || (py - y0) % 2 == 0) expected += uint32_t(std::max(0, x1 - x0));
      for (size_t i = 0; i < g_screen.memory.size(); ++i) {
        const int64_t o = int64_t(i) - FakeScreen::kGuard;
        const int32_t sy = int32_t(o >= 0 ? o / FakeScreen::kPitch : -1);
        const int32_t sx = int32_t(o >= 0 ? o % FakeScreen::kPitch / 4 : -1);
        const bool on_screen = o >= 0 && sy < FakeScreen::kHeight && sx < FakeScreen::kWidth;
        const int32_t px = sx - at.x, py = sy - at.y;
        const bool may = on_screen && px >= x0 && px < x1 && py >= y0 && py < y1 &&
                         (!interlaced || (py - y0) % 2 == 0);
        if (!may) {
          ASSERT_EQ(g_screen.memory[i], kUntouched) << "byte " << o << " (screen " << sx << ", " << sy << ")";
          continue;
        }
        if (o % 4 == 0) ++written;
        ASSERT_EQ(g_screen.memory[i], memory_surface_row(reference, uint32_t(py))[size_t(px) * 4 + size_t(o % 4)])
            << "screen " << sx << ", " << sy << " picture " << px << ", " << py;
      }
      EXPECT_EQ(written, expected);
      // The whole picture on the screen is all of it.
      if (at.x >= 0 && at.y >= 0 && at.x + w <= FakeScreen::kWidth && at.y + h <= FakeScreen::kHeight) {
        EXPECT_EQ(expected, uint32_t(w * h / (interlaced ? 2 : 1)));
      }
      surface_close(p->surface);
      movie_close(p->movie);
    }
    memory_surface_close(reference);
    movie_close(whole);
  }
}

struct DateCase {
  int32_t y, m, d;
  const char* last;  // "" = absent
  bool asks;
};

TEST_F(PlayerTest, UpdateReminder) {
  const DateCase kCases[] = {
      {2003, 1, 17, "", false},           // less than two months after the build
      {2003, 1, 19, "", true},            // two months and a day: a fresh profile asks
      {2010, 6, 10, "2010-06-09", false},  // asked yesterday
      {2010, 6, 10, "2010-06-02", true},   // eight days ago
      {2010, 3, 5, "2010-02-28", false},   // a week ago is 28 February (day 5 + 23)
      {2010, 3, 5, "2010-02-27", true},
      {2010, 1, 5, "2009-12-28", false},   // and on 5 January, 28 December
      {2010, 1, 5, "2009-12-27", true},
  };
  const std::string m = movie("upd.krv", 2);
  for (const DateCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.y << "-" << c.m << "-" << c.d << " last " << c.last);
    FakeHost h;
    h.year = c.y;
    h.month = c.m;
    h.day = c.d;
    h.profile_date = c.last;
    EXPECT_EQ(h.run(m), 0);
    EXPECT_EQ(h.has_box("New version check..."), c.asks);
    if (c.asks) {
      EXPECT_TRUE(h.box("New version check...")->owned);
      char today[16];
      std::snprintf(today, sizeof today, "%04d-%02d-%02d", c.y, c.m, c.d);
      EXPECT_EQ(h.profile_date, today);  // stored whatever the answer
      // The next start within the week asks nothing.
      FakeHost again;
      again.year = c.y;
      again.month = c.m;
      again.day = c.d;
      again.profile_date = h.profile_date;
      EXPECT_EQ(again.run(m), 0);
      EXPECT_FALSE(again.has_box("New version check..."));
    }
  }
  // Yes opens the version page and ends with 1; a movie of the own executable never asks.
  FakeHost yes;
  yes.year = 2011;
  yes.answer = kAnswerYes;
  EXPECT_EQ(yes.run(m), 1);
  ASSERT_EQ(yes.pages.size(), 1u);
  EXPECT_NE(yes.pages[0].find("/scripts/korvaver.asp?ver=1.5q"), std::string::npos);
  EXPECT_FALSE(yes.window_open);
  FakeHost own;
  own.year = 2011;
  own.run(":1000000000");
  EXPECT_FALSE(own.has_box("New version check..."));
  ASSERT_TRUE(own.has_box("Korva Error"));
}

}  // namespace
