// korvaplay: the Korva player on Linux, over SDL2.
#include <SDL.h>

#include <cstdlib>

#include "app/options.h"
#include "sdl/default_options.h"
#include "sdl/host.h"

namespace {

bool display_named() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv) {
  // The window's own surface (styles 1 and 2) is the display's memory as the system shares it,
  // not a texture on a renderer.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Without a display the boxes go to standard error and no window can be made.
  const bool have_display = display_named() && SDL_Init(SDL_INIT_VIDEO) == 0;
  static char line[kOptionsTextCap];
  if (!sdl_command_line(argc, argv, line, sizeof line)) line[0] = 0;
  static SdlHost state;
  PlayerHost host;
  sdl_host_init(&host, &state, have_display);
  const int code = player_main(&host, default_options_store(), line);
  SDL_Quit();
  return code;
}
