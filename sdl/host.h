// The Linux front end: what the player asks of its window, done with SDL2. Events become the
// player's handler calls (focus, expose = paint, keys, mouse button up, moves, close).
#pragma once
#include "app/player.h"
#include "display/backends/sdl_display.h"

struct SdlHost {
  SdlWindow window;
  bool have_display;   // SDL video runs; without it boxes go to standard error
  bool window_gone;    // destroyed: poll reports the quit
  bool paint_pending;  // invalidated: a paint comes at the next poll
  bool cursor_hidden;
};

// Fills `host` with the SDL front end's operations on `state`.
void sdl_host_init(PlayerHost* host, SdlHost* state, bool have_display);
// The player's command line from the program's arguments. Movie names are quoted, so that the
// slashes of their paths are not read as switches: an argument is a name unless it begins with
// '/' and holds no further '/' and names no existing file.
bool sdl_command_line(int argc, char** argv, char* out, size_t cap);
