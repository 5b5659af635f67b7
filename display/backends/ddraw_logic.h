// The arithmetic of the DirectDraw and GDI display system, apart from the system calls so that
// every build can test it: which copy format a pixel format is, what the driver's effects
// capabilities allow to stretch, the key colour, the DIB section's geometry and masks, where the
// picture lies in screen memory, and the part of an overlay that is on screen. The lock of the
// DirectDraw kinds is written here too, against a small table of surface operations that
// win32_ddraw.cpp fills with the DirectDraw calls and the tests with a fake surface.
#pragma once
#include <cstdint>

struct Surface;

// Pixel format flags (DDPIXELFORMAT::dwFlags).
constexpr uint32_t kDdpfAlphaPixels = 0x00000001;
constexpr uint32_t kDdpfFourCC = 0x00000004;
constexpr uint32_t kDdpfRgb = 0x00000040;

// FourCC codes, the four characters in memory order.
constexpr uint32_t ddraw_fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kFourCCYv12 = ddraw_fourcc('Y', 'V', '1', '2');
constexpr uint32_t kFourCCYuy2 = ddraw_fourcc('Y', 'U', 'Y', '2');
constexpr uint32_t kFourCCUyvy = ddraw_fourcc('U', 'Y', 'V', 'Y');

// Effects capabilities of the driver (DDCAPS::dwFXCaps) that concern stretching.
constexpr uint32_t kFxBltShrinkX = 0x00000400;
constexpr uint32_t kFxBltShrinkXN = 0x00000800;
constexpr uint32_t kFxBltShrinkY = 0x00001000;
constexpr uint32_t kFxBltShrinkYN = 0x00002000;
constexpr uint32_t kFxBltStretchX = 0x00004000;
constexpr uint32_t kFxBltStretchXN = 0x00008000;
constexpr uint32_t kFxBltStretchY = 0x00010000;
constexpr uint32_t kFxBltStretchYN = 0x00020000;
constexpr uint32_t kFxOverlayShrinkX = 0x00080000;
constexpr uint32_t kFxOverlayShrinkXN = 0x00100000;
constexpr uint32_t kFxOverlayShrinkY = 0x00200000;
constexpr uint32_t kFxOverlayShrinkYN = 0x00400000;
constexpr uint32_t kFxOverlayStretchX = 0x00800000;
constexpr uint32_t kFxOverlayStretchXN = 0x01000000;
constexpr uint32_t kFxOverlayStretchY = 0x02000000;
constexpr uint32_t kFxOverlayStretchYN = 0x04000000;

// A surface's pixel format as the driver reports it.
struct DdPixelFormat {
  uint32_t flags;   // kDdpf* bits
  uint32_t fourcc;  // with kDdpfFourCC
  uint32_t bits;    // bits per pixel of RGB formats
  uint32_t red, green, blue, alpha;  // masks; alpha counts only with kDdpfAlphaPixels
};

// The copy format code of a pixel format: 1..15, 0 for 8-bit palettes (not usable), -1 when
// no converter writes it.
int32_t ddraw_copy_format(const DdPixelFormat& pf);

// ORs the stretching that the effects capabilities allow into the overlay and blit stretch
// words; an ability by any factor implies the integer one.
void ddraw_map_abilities(uint32_t fx_caps, uint32_t* overlay, uint32_t* blit);

// The colour the overlays are keyed to: 253 on an 8-bit display, else the lowest red step plus
// the lowest blue step of the display's format (0x0801 for 5-6-5, 0x00010001 for 32 bits).
uint32_t ddraw_key_colour(uint32_t display_bits, uint32_t red_mask, uint32_t blue_mask);

// The DIB section of a width-pixel picture: its header width (rows a multiple of 32 bytes,
// in whole pixels) and its bytes per row.
uint32_t dib_block_width(uint32_t width, uint32_t bytes_per_pixel);
uint32_t dib_row_bytes(uint32_t block_width, uint32_t bytes_per_pixel);
// The red, green and blue masks of a DIB section like the display (16 bits: 5-6-5 when the
// display's red mask is 0xF800, else 5-5-5) and its copy format code.
uint32_t dib_masks(uint32_t bytes_per_pixel, uint32_t display_red_mask, uint32_t masks[3]);

// Whether two rectangles (position and size) overlap.
bool ddraw_rects_overlap(int32_t ax, int32_t ay, int32_t aw, int32_t ah, int32_t bx, int32_t by, int32_t bw,
                         int32_t bh);

struct DdRect {
  int32_t left, top, right, bottom;
};

// The screen itself (style 1) is written only where the picture is on the screen: the part of a
// width × height picture at screen position (x, y) that lies on a screen_width × screen_height
// screen, in picture pixels (*part), and the byte offset of that part's first pixel in locked
// screen memory. -1 when no pixel of the picture is on the screen (*part then empty).
int64_t ddraw_primary_part(int32_t x, int32_t y, uint32_t width, uint32_t height, int32_t screen_width,
                           int32_t screen_height, uint32_t bytes_per_pixel, int32_t pitch, DdRect* part);

// The part of an overlay on screen: the picture (width × height) shown at (x, y) with the
// output size, cut to the screen; the source is cut by the same share. False when nothing of
// it is on screen.
bool ddraw_overlay_rects(int32_t x, int32_t y, int32_t output_width, int32_t output_height, uint32_t width,
                         uint32_t height, int32_t screen_width, int32_t screen_height, DdRect* src, DdRect* dst);

// ---- Locking DirectDraw surfaces ----------------------------------------------------------

constexpr int32_t kDdErrSurfaceLost = int32_t(0x887601C2u);  // DDERR_SURFACELOST

// A locked surface as the driver describes it.
struct DdLocked {
  uint8_t* memory;               // the surface's first byte
  int32_t pitch;
  uint32_t width, height, bits;  // the surface's size (the screen's for the primary), bits per pixel
};

// The surface operations the portable parts use. Results are the system's (negative on failure).
struct DdSurfaceOps {
  int32_t (*lock)(void* surface, DdLocked* out);  // the whole surface, waiting while it is busy
  void (*unlock)(void* surface, void* memory);
  int32_t (*restore)(void* surface);
};

// Locks a whole surface, restoring it while the lock reports it lost, `restores` times at most.
// *restored tells whether a restore was made: the surface's memory then no longer holds what
// was written into it. Returns the last lock's result.
int32_t ddraw_lock_restoring(const DdSurfaceOps* ops, void* surface, int32_t restores, DdLocked* out,
                             bool* restored);

// The lock of an open DirectDraw kind on its surface: a lost surface is restored
// once and locked again. *buffer is the picture's first pixel, *pitch the surface's, *locked
// the memory to give to the unlock. For the primary surface the buffer lies in screen memory
// at the picture's screen position; a picture partly off the screen gives only its part on the
// screen (s->part, and *buffer that part's first pixel), and a picture wholly off it no lock.
// A restored surface lost the picture, so the lock sets the whole-copy bit (kSurfaceCopyWhole)
// in s->flags, as a failed lock does (surface_lock): the next copy then converts the whole
// picture, not only the blocks that changed. False on failure.
bool ddraw_lock_kind(const DdSurfaceOps* ops, void* surface, Surface* s, uint8_t** buffer, int32_t* pitch,
                     void** locked);

// The middle of the software-cursor test, with the cursor drawn at the pointer's
// screen position (x, y): one byte there is written straight into the primary surface's memory
// (0xFF when the first colour, read with the cursor hidden, is 0, else 0); `look` then hides
// the cursor and reads the colour there again. When it is the first colour, the cursor saved
// the screen under it and painted it back over the write: a software cursor (1). Otherwise the
// write is visible: a hardware cursor (0). Whatever the answer, the byte's old value goes back
// through a lock of the same surface, as the write was made (GDI is not called while the
// surface is locked): where the primary surface is not the memory that GDI reads (Wine, and
// systems that emulate the primary surface) nothing paints over the write, which would stay
// on the screen in every frame. A pointer off the surface writes nothing. -1 when the surface
// cannot be locked (nothing written, `look` not called). `restores`: as ddraw_lock_restoring.
int32_t ddraw_cursor_probe(const DdSurfaceOps* ops, void* primary, int32_t restores, int32_t x, int32_t y,
                           uint32_t first_colour, uint32_t (*look)(void* context), void* context);
