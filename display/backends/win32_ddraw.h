// Shared by the Windows display system's files (win32_display.cpp: the system, GDI and the DIB
// section; win32_ddraw.cpp: DirectDraw). Not for other users: it brings in the system headers.
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ddraw.h>

#include <cstdint>

#include "display/surface.h"

// Process-wide state of the display system.
struct Win32DisplayState {
  // DirectDraw: the module (loaded once; a failed load is not tried again), the object and the
  // primary surface, alive while any reference is held.
  HMODULE module;
  bool load_failed;
  HRESULT(WINAPI* create)(GUID*, LPDIRECTDRAW*, IUnknown*);
  IDirectDraw* dd;
  IDirectDrawSurface* primary;
  uint32_t dd_refs;
  // Stretch words, OR-ed each time the object is made.
  uint32_t overlay_abilities, blit_abilities;
  // The display as last read.
  int32_t screen_width, screen_height, bits;
  uint32_t bytes_per_pixel;
  uint32_t key_colour;
  // Surfaces holding a display mode set through GDI, and whether GDI changed it.
  uint32_t gdi_refs;
  bool gdi_changed_mode;
};
extern Win32DisplayState g_win32;

// One open kind's state, kept in Surface::backend.
struct Win32Kind {
  HWND window;
  bool holds_dd, holds_gdi;  // references this surface gives back at close
  // DirectDraw kinds.
  IDirectDrawSurface* surface;  // the primary (not owned), an overlay or an off-screen surface
  IDirectDrawClipper* clipper;
  void* locked;                 // the memory of the current lock
  bool overlay_shown;
  bool software_cursor;         // the cursor is drawn into screen memory (primary only)
  int32_t cursor_hidden;        // ShowCursor(FALSE) calls made for the current lock
  // The DIB section.
  HBITMAP dib;
  uint8_t* dib_bits;
  int32_t dib_pitch;
  BITMAPINFO* info;
  HDC memory_dc;
  HGDIOBJ old_bitmap;
};
static_assert(sizeof(Win32Kind) <= kSurfaceBackendBytes, "Win32Kind must fit in Surface::backend");

inline Win32Kind* win32_kind(Surface* s) { return reinterpret_cast<Win32Kind*>(s->backend); }

// Reads the screen size and bits per pixel through GDI into g_win32.
void win32_read_screen();
// The screen's bits per pixel (PLANES × BITSPIXEL of the screen's device context).
int32_t win32_screen_bits();

// DirectDraw references: the first makes the object (loading DDRAW.DLL once), sets the
// cooperative level and the display mode of the request when change_mode, makes the primary
// surface and probes the abilities. False when there is no object (no reference taken).
bool win32_ddraw_acquire(bool change_mode, DisplayRequest* request, HWND window);
void win32_ddraw_release();
// Opens DirectDraw style 1 or 3..10 (a reference is held); fills s and k.
int32_t win32_ddraw_open(Surface* s, Win32Kind* k, uint32_t style, uint32_t stretch);
// Releases a DirectDraw kind's surface and clipper (not the references).
void win32_ddraw_close_kind(Win32Kind* k, bool overlay);
// SurfaceKind::close of every kind: its objects, then the references it holds.
void win32_kind_close(Surface* s);
