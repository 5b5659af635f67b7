// korvaplay.exe: the Korva player on Windows.
#include <windows.h>

#include "app/options.h"
#include "win32/host.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  static char defaults[kDefaultOptionsStore + 1];
  static Win32Host state;
  PlayerHost host;
  win32_host_init(&host, &state, instance);
  const bool stored = win32_stored_defaults(instance, defaults, sizeof defaults);
  return player_main(&host, stored ? defaults : nullptr, command_line ? command_line : "");
}
