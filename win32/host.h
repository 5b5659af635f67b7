// The Windows front end: the window class "KorvaWin", its window procedure and the message
// loop, done with Win32; the window procedure calls the player's handlers.
#pragma once
#include "app/player.h"
#include "display/backends/win32_display.h"

struct Win32Host {
  void* instance;        // HINSTANCE
  void* window;          // HWND; null when there is none (yet, or any more)
  void* paint_dc;        // HDC between BeginPaint and EndPaint
  Player* player;
  bool class_registered;
  Win32DisplayContext display;
};

// Fills `host` with the Win32 front end's operations on `state`.
void win32_host_init(PlayerHost* host, Win32Host* state, void* instance);
// Reads string resource 1 (the stored default options, 512 characters padded with '~') into
// `out` (at least 513 bytes); false when the program has none.
bool win32_stored_defaults(void* instance, char* out, size_t cap);
