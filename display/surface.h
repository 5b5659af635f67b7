// Surfaces: where a movie's frames are converted into and shown from, bound to the player's
// window. There are ten kinds, numbered as the player's blitting styles:
//
//   1  the screen itself (written in place)        6..8  YV12 / YUY2 / UYVY off-screen surfaces
//   2  a DIB-style RGB surface, scaled to the window 9   RGB off-screen surface, video memory
//   3..5  YV12 / YUY2 / UYVY overlays               10   RGB off-screen surface, system memory
//
// This layer is written once: the automatic order, the error texts, placement, the output size,
// the blit rectangles and clearing. A display system (one per platform: DirectDraw and GDI on
// Windows, SDL on Linux, memory for tests and tools) is installed with surface_use_system into
// the SurfaceSystem its owner holds, and opens the single kinds; an open kind fills a table of
// operations in the Surface.
//
//   SurfaceSystem display{};
//   surface_use_system(&display, &kSdlDisplay, window_state);
//   Surface* s = surface_open(&display, window, movie->width, movie->height, surface_flags);
//   if (!s) show(surface_last_error(&display));
//   if (surface_lock(s)) {
//     SurfaceCopyArea a;  // the whole picture, or the part of it that the lock reaches
//     if (surface_copy_area(s, doubling_mode, &a)) movie_copy_to_surface(m, a.buffer, s->pitch, ...);
//     surface_unlock(s);
//   }
//   surface_blit(s, m->rects, movie_changed_rects(s->flags, m));
//   surface_close(s);
#pragma once
#include <cstddef>
#include <cstdint>

#include "playback/stats.h"

struct Surface;
struct ConvertContext;

// The surface's flags word (ORed into every copy's CopyFlags by the player).
constexpr uint32_t kSurfaceFormatMask = 0x0000000F;  // copy format code
constexpr uint32_t kSurfaceOnScreen = 0x04000000;    // pixels are on screen without a blit
constexpr uint32_t kSurfaceStretched = 0x08000000;   // the blit stretches the picture
constexpr uint32_t kSurfaceCopyWhole = 0x80000000;   // the next copy converts the whole picture

// Stretch words (bits 24..31): what a kind can do, and what a caller needs.
constexpr uint32_t kStretchMask = 0xFF000000;
constexpr uint32_t kStretchWidthIntUp = 0x80000000;
constexpr uint32_t kStretchWidthUp = 0x40000000;
constexpr uint32_t kStretchWidthIntDown = 0x20000000;
constexpr uint32_t kStretchWidthDown = 0x10000000;
constexpr uint32_t kStretchHeightIntUp = 0x08000000;
constexpr uint32_t kStretchHeightUp = 0x04000000;
constexpr uint32_t kStretchHeightIntDown = 0x02000000;
constexpr uint32_t kStretchHeightDown = 0x01000000;

constexpr uint32_t kSurfaceStyles = 10;

// The kinds, numbered as the player's blitting styles (0 in a SurfaceFlags word: automatic).
enum SurfaceStyle : uint32_t {
  kStyleAutomatic = 0,
  kStyleScreen = 1,          // the screen itself, written in place
  kStyleDib = 2,             // an RGB surface scaled to the window
  kStyleOverlayYv12 = 3,     // overlays: 3..5
  kStyleOverlayYuy2 = 4,
  kStyleOverlayUyvy = 5,
  kStyleOffscreenYv12 = 6,   // YUV off-screen surfaces: 6..8
  kStyleOffscreenYuy2 = 7,
  kStyleOffscreenUyvy = 8,
  kStyleRgbVideo = 9,        // RGB off-screen surfaces: video memory, system memory
  kStyleRgbSystem = 10,
};
constexpr bool surface_style_is_overlay(uint32_t style) { return style >= kStyleOverlayYv12 && style <= kStyleOverlayUyvy; }
constexpr bool surface_style_is_offscreen(uint32_t style) { return style >= kStyleOffscreenYv12; }
constexpr bool surface_style_is_yuv(uint32_t style) { return style >= kStyleOverlayYv12 && style <= kStyleOffscreenUyvy; }
constexpr bool surface_style_is_yv12(uint32_t style) { return style == kStyleOverlayYv12 || style == kStyleOffscreenYv12; }

// The display mode asked for with /D; consumed (zeroed) by the first open that acts on it.
// depth: 8, 16, 24, 32, or a sequence code 1 (16, 32, 24), 2 (32, 24, 16), 3 (32, 24).
struct DisplayRequest {
  int32_t width, height, depth;
};
// The depths to try for a request's depth value, in order; returns how many (at most 3).
uint32_t surface_depth_sequence(int32_t depth, int32_t out[3]);

// One rectangle to show: `src` in picture pixels, `dst` in the window's client area (the
// picture's position and the output scale applied).
struct SurfaceBlitRect {
  MovieRect src, dst;
};

// Operations of one open kind, filled by the display system's open_style.
struct SurfaceKind {
  // Locks the kind's memory: the address and pitch of the picture's first pixel. A kind that
  // reaches only a part of the picture narrows s->part (the whole picture when called) to it
  // and gives that part's first pixel. False on failure (the caller sets the whole-copy bit).
  bool (*lock)(Surface* s, uint8_t** buffer, int32_t* pitch);
  void (*unlock)(Surface* s);
  // Shows rectangles (whole: the whole picture once; rects then holds that one rectangle).
  void (*blit)(Surface* s, const SurfaceBlitRect* rects, uint32_t count, bool whole);
  // The picture moved (or its output size changed); may be null.
  void (*moved)(Surface* s);
  // Releases the kind (and what its open took from the system).
  void (*close)(Surface* s);
};

// Results of open_style.
enum SurfaceOpenResult : int32_t {
  kStyleOpened = 1,
  kStyleFailed = 0,       // the kind cannot be had; an error text may have been set
  kStyleUnavailable = -1  // the system this kind needs is missing (e.g. no DirectDraw)
};

// A display system: how the kinds are made on one platform. `context` is the one given to
// surface_use_system (s->system->context in open_style).
struct DisplaySystem {
  const char* name;
  // Opens `style` (1..10) for s->width × s->height on s->window with the stretch request
  // (a stretch word) and the display-mode change (s->system->request); fills s->kind, s->flags
  // (copy format code and the bits above), s->abilities, the screen fields and its private
  // state. On failure it gives back all it took.
  int32_t (*open_style)(Surface* s, uint32_t style, uint32_t stretch, bool change_mode);
  // The window's frame: the client area's offset inside the window rectangle and the frame's
  // extra width and height; and the client area's origin on the screen.
  void (*window_geometry)(void* context, void* window, int32_t* client_x, int32_t* client_y, int32_t* frame_w,
                          int32_t* frame_h);
  void (*client_origin)(void* context, void* window, int32_t* x, int32_t* y);
  // The screen's size and bits per pixel now (bits 0 when unknown).
  void (*screen_info)(void* context, int32_t* width, int32_t* height, int32_t* bits);
  // Called once at the end of every surface_open, after its last open_style: lets a system
  // keep what one open shares between its tries (e.g. a display object and a display-mode
  // change) and give back what no opened kind took. May be null.
  void (*open_finished)(void* context) = nullptr;
};

// The surfaces' system as its owner holds it (the player one): the display system with its
// context, the display mode asked for and the text of the last failed open. Zeroed: no display
// system (every open fails).
struct SurfaceSystem {
  const DisplaySystem* display;
  void* context;
  DisplayRequest request;
  char error[64];
};

// Installs the display system into `sys`; `context` is kept for it.
void surface_use_system(SurfaceSystem* sys, const DisplaySystem* display, void* context);

constexpr size_t kSurfaceBackendBytes = 512;

struct Surface {
  uint32_t width, height;              // the picture size the surface was opened for
  int32_t window_width, window_height; // the outer window size that shows it at the output size
  uint32_t flags;                      // format code and the bits above
  uint8_t* buffer;                     // valid between lock and unlock: the first pixel of `part`
  int32_t pitch;
  // The part of the picture that buffer and pitch reach, valid with them (picture pixels): the
  // whole picture, except on the screen itself (style 1) when the picture lies partly off it.
  MovieRect part;
  int32_t client_x, client_y;          // the client area's offset inside the window rectangle
  int32_t screen_width, screen_height, screen_bits;
  int32_t frame_width, frame_height;   // window size minus client size
  uint32_t abilities;                  // stretch word of the kind
  int32_t output_width, output_height; // the size the picture is shown at
  int32_t picture_screen_x, picture_screen_y;
  int32_t picture_x, picture_y;        // inside the client area
  void* window;
  SurfaceSystem* system;               // the system that opened it
  ConvertContext* convert;             // the converters of the copies into it
  uint32_t style;                      // 1..10
  uint32_t bytes_per_pixel;            // of the display (alignment of window positions)
  bool is_primary, is_overlay, is_offscreen;
  SurfaceKind kind;
  // The kind's private state.
  alignas(16) uint8_t backend[kSurfaceBackendBytes];
};

// Opens a surface for a width × height picture on `window` with SurfaceFlags (style in the low
// 5 bits, 0 = automatic: 1, 2, 3 .. 10 in turn; 0x800000 change the display mode; the stretch
// request in the top byte). Null on failure, with surface_last_error(sys) set.
Surface* surface_open(SurfaceSystem* sys, void* window, uint32_t width, uint32_t height, uint32_t flags);
void surface_close(Surface* s);
const char* surface_last_error(const SurfaceSystem* sys);
void surface_set_last_error(SurfaceSystem* sys, const char* text);  // for display systems; null clears it
const char* surface_description(const Surface* s);
const char* surface_style_description(uint32_t style);

uint32_t surface_lock(Surface* s);
uint32_t surface_unlock(Surface* s);

// Where the copy after a successful lock goes: the locked part of the picture (s->part) with
// its first pixel, its left and top edges moved in to whole source pixels and rows of the
// doubling mode (2 pixels where the mode doubles the width; 2 rows where it doubles or
// interlaces the height, and in mode 6), so that a picture cut at a screen edge keeps every
// pixel in its place and its interlaced rows on their rows. False when nothing is left.
struct SurfaceCopyArea {
  uint8_t* buffer;  // the area's first pixel
  MovieRect rect;   // in picture pixels
};
bool surface_copy_area(const Surface* s, uint32_t doubling_mode, SurfaceCopyArea* out);

// Shows the rectangles (picture pixels); null rects with a non-zero count: the whole picture.
void surface_blit(Surface* s, const MovieRect* rects, uint32_t count);
uint32_t surface_clear(Surface* s);
uint32_t surface_set_position(int32_t x, Surface* s, int32_t y);
void surface_fit_position(int32_t* x, Surface* s, int32_t* y);
uint32_t surface_set_output_size(int32_t width, Surface* s, int32_t height);

// Black for a copy format code over `rows` rows of `width` pixels (YV12: then the two chroma
// planes of rows / 2 rows directly after the luma rows, pitch / 2 apart). bytes_per_pixel is used for the RGB
// codes; codes 2 and 4..8 are cleared to zero bytes too.
void surface_fill_black(uint8_t* buffer, int32_t pitch, uint32_t width, uint32_t rows, uint32_t code,
                        uint32_t bytes_per_pixel);
// The stretch word a w × h output of a width × height picture needs (0 when it is the same).
uint32_t surface_needed_width_stretch(int32_t w, uint32_t width);
uint32_t surface_needed_height_stretch(int32_t h, uint32_t height);
