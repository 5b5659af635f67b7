// The Windows display system: the screen itself, the overlays and the off-screen surfaces of
// DirectDraw (DDRAW.DLL, loaded at run time: the program starts without it), and the GDI DIB
// section shown with StretchBlt.
//
//   static Win32DisplayContext ctx = {hinstance, LoadCursorA(hinstance, MAKEINTRESOURCEA(101))};
//   surface_use_system(&display, &kWin32Display, &ctx);
//   Surface* s = surface_open(&display, hwnd, width, height, flags);   // the window is the HWND
//
// The display-mode change of /D goes through DirectDraw (for the DirectDraw kinds) or GDI (for
// a DIB section opened while no DirectDraw surface is open); a GDI change is undone when the
// last surface holding it closes, a DirectDraw one when the DirectDraw object goes.
#pragma once

#include "display/surface.h"

// Given to surface_use_system as the display system's context; must outlive every surface.
struct Win32DisplayContext {
  void* instance;  // HINSTANCE of the program
  void* cursor;    // HCURSOR of the program's window class (resource 101)
};

extern const DisplaySystem kWin32Display;
