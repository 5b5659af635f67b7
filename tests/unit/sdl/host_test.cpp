// The Linux front end over SDL's dummy video driver: the window styles that have no caption get
// no frame, and a key press reaches the player once, as the character it types on the user's
// keyboard layout (a press is a key event followed by the text event of what it typed, the way
// SDL reports it).
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/player_state.h"
#include "sdl/host.h"

namespace {

class SdlHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    sdl_host_init(&host, &state, true);
  }
  void TearDown() override {
    host.destroy_window(host.ctx);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  void* open_window(int32_t style, bool black_screen = false) {
    const PlayerWindowRequest r = {"Korva Video Player", "KorvaWin", style, false, false, black_screen, 0};
    return host.create_window(host.ctx, &r);
  }
  PlayerHost host;
  SdlHost state;
};

TEST_F(SdlHostTest, OnlyTheNormalStyleHasAFrame) {
  struct Case {
    int32_t style;
    bool black_screen, borderless;
  };
  const Case kCases[] = {{0, false, false}, {1, false, true}, {2, false, true}, {2, true, true}};
  for (const Case& c : kCases) {
    ASSERT_NE(open_window(c.style, c.black_screen), nullptr) << SDL_GetError();
    const bool borderless = SDL_GetWindowFlags(state.window.window) & SDL_WINDOW_BORDERLESS;
    EXPECT_EQ(borderless, c.borderless) << "style " << c.style << (c.black_screen ? " /R" : "");
    host.destroy_window(host.ctx);
    state.window_gone = false;
  }
}

struct Press {
  SDL_Keycode key;
  const char* text;  // what the press typed (null: nothing, as for Enter and Escape)
};

// Sends the presses as SDL reports them and lets the host hand them to the player.
void press(PlayerHost* host, Player* p, const std::vector<Press>& presses) {
  for (const Press& k : presses) {
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = k.key;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    if (k.text) {
      SDL_zero(e);
      e.type = SDL_TEXTINPUT;
      std::strncpy(e.text.text, k.text, sizeof e.text.text - 1);
      ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
  }
  for (int i = 0; i < 100 && host->poll(host->ctx, p) != kPollIdle; ++i) {
  }
}

TEST_F(SdlHostTest, KeysArriveOnceOnEveryLayout) {
  ASSERT_NE(open_window(0), nullptr) << SDL_GetError();
  struct Case {
    const char* layout;
    std::vector<Press> presses;
    bool skip;
    uint32_t pause_state;
    int32_t end_request;
  };
  const Case kCases[] = {
      {"US '.'", {{SDLK_PERIOD, "."}}, true, 0, 0},
      {"French Shift+';' types '.'", {{SDLK_SEMICOLON, "."}}, true, 0, 0},
      {"French ';' alone", {{SDLK_SEMICOLON, ";"}}, false, 0, 0},
      {"French ':' on the US '.' key", {{SDLK_COLON, ":"}}, false, 0, 0},
      {"keypad '.'", {{SDLK_KP_PERIOD, "."}}, true, 0, 0},
      {"Space pauses once", {{SDLK_SPACE, " "}}, false, ~0u, 0},
      {"Space twice resumes", {{SDLK_SPACE, " "}, {SDLK_SPACE, " "}}, false, 0, 0},
      {"Enter while running", {{SDLK_RETURN, nullptr}}, false, 0, 0},
      {"Escape", {{SDLK_ESCAPE, nullptr}}, false, 0, 1},
  };
  static Player p;  // the player's record is large
  for (const Case& c : kCases) {
    std::memset(static_cast<void*>(&p), 0, sizeof p);
    p.host = &host;
    press(&host, &p, c.presses);
    EXPECT_EQ(p.skip_movie, c.skip) << c.layout;
    EXPECT_EQ(p.pause_state, c.pause_state) << c.layout;
    EXPECT_EQ(p.end_request, c.end_request) << c.layout;
  }
}

}  // namespace
