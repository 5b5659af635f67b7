// The Linux front end over SDL's dummy video driver: the window styles that have no caption get
// no frame.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>

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

}  // namespace
