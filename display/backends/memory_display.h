// A display system of memory surfaces: every kind opens a MemorySurface in one configured
// format, nothing reaches a screen. Headless playback and the player's own tests use it; the
// configuration says which kinds exist, what they can stretch and where the window stands,
// and counts what was shown.
//
//   MemoryDisplay d;
//   memory_display_default(&d);
//   SurfaceSystem display{};
//   surface_use_system(&display, &kMemoryDisplay, &d);
#pragma once
#include <cstdint>

#include "display/surface.h"

struct MemorySurface;

struct MemoryDisplay {
  uint32_t format;             // copy format code of every kind
  uint32_t styles;             // bit n set: style n can be opened (bit 0 unused)
  uint32_t overlay_abilities;  // stretch words of the overlays and of the off-screen kinds
  uint32_t blit_abilities;
  int32_t screen_width, screen_height, screen_bits;
  int32_t window_x, window_y;  // the client area's origin on the screen
  int32_t client_x, client_y, frame_width, frame_height;
  // What was shown: blit calls, rectangles, whole-picture blits, locks.
  uint32_t blits, rects, whole_blits, locks;
  MemorySurface* last;         // the most recently opened surface's memory
};

void memory_display_default(MemoryDisplay* d);
extern const DisplaySystem kMemoryDisplay;
// The memory behind an open surface of the memory display.
MemorySurface* memory_display_surface(const Surface* s);
