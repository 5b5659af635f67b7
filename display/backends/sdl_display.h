// The SDL display system of the Linux player. A window is drawn either through its own
// surface or through a renderer, never both:
//
//   1      the window's surface, written in place and shown by its changed rectangles
//   2      an RGB surface in the window surface's format, scaled onto the window surface
//   3..5   YV12 / YUY2 / UYVY streaming textures shown at every unlock (the overlays)
//   6..8   the same textures shown by their blits (the YUV off-screen surfaces)
//   9      an RGB texture on the accelerated renderer
//   10     an RGB texture on the software renderer
//
// Renderer kinds draw the whole window at each presentation (black, the picture at its output
// size, the statistics line), since a renderer keeps no back buffer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "display/surface.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

// What the front end hands to surface_open as the window.
struct SdlWindow {
  SDL_Window* window;
  SDL_Renderer* renderer;    // while renderer kinds use it
  uint32_t renderer_users;
  bool software_renderer;
  Surface* shown;            // the surface a renderer presentation draws
  // The statistics line: its text, the area (client coordinates) and its texture.
  char stats_text[192];
  int32_t stats_centre, stats_top, stats_right, stats_bottom;
  bool has_stats;
  SDL_Texture* stats_texture;
  int32_t stats_texture_w;
};

extern const DisplaySystem kSdlDisplay;

// Painting the client area outside the picture, for the front end.
void sdl_window_fill_black(SdlWindow* w);
void sdl_window_draw_stats(SdlWindow* w, const char* text, int32_t centre_x, int32_t top, int32_t right,
                           int32_t bottom);
// Draws the window again (a renderer presentation, or the window surface's update).
void sdl_window_refresh(SdlWindow* w);
// Forgets the renderer and the statistics texture (the window is about to go).
void sdl_window_release(SdlWindow* w);
// The copy format code of an SDL pixel format (0 when none fits).
uint32_t sdl_format_code(uint32_t sdl_format);
