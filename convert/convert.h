// Pixel conversion: copying a decoded frame into a block of destination memory (a locked
// surface) in its pixel format, whole or by changed 16 × 16 blocks, with the doubling modes,
// grey scale, the chroma-order swap and skipping of late copies.
//
// The driver does not know the Movie record: the movie layer fills a CopySource with what the
// copy needs (the planes, the sizes, the flag word, its converter context and hooks into its
// clock and reader) and calls convert_copy_to_surface; movie_copy_to_surface is that thin
// wrapper. Everything a copy changes (the chosen converters, their tuning words, the cursor and
// its scratch rows) lives in a ConvertContext, one per destination; the colour tables are built
// by the compiler and only read. Two contexts can copy at the same time in different threads.
#pragma once
#include <cstdint>

struct FramePlanes;

// CopyFlags: the flag word given to the copy.
constexpr uint32_t kCopyFormatMask = 0x0000000F;    // copy format code (below); 0 copies nothing
constexpr uint32_t kCopyChromaSwap = 0x00010000;    // first chroma plane is Cb, second Cr
constexpr uint32_t kCopyGrey = 0x00020000;          // grey scale: only luma is read
constexpr uint32_t kCopyNoSimd = 0x00040000;        // integer converters only
constexpr uint32_t kCopyNeverSkip = 0x00080000;     // copy late frames too (still reported late)
constexpr uint32_t kCopyNoThread = 0x08000000;      // (movie flag word) no background reader
constexpr uint32_t kCopyDoublingMask = 0x70000000;  // doubling mode 0..7
constexpr uint32_t kCopyDoublingShift = 28;
constexpr uint32_t kCopyWhole = 0x80000000;         // convert the whole rectangle
// The bits of the movie flag word merged into every copy's flags.
constexpr uint32_t kCopyMovieBits = 0x70030000;

// Copy format codes (bytes per pixel in brackets).
enum : uint32_t {
  kFormatNone = 0,
  kFormatBgr24 = 1,       // B, G, R (3)
  kFormatRgb24 = 2,       // R, G, B (3)
  kFormatBgr32 = 3,       // B, G, R, 0 (4)
  kFormatRgb32 = 4,       // R, G, B, 0 (4)
  kFormatBgra32 = 5,      // B, G, R, A; code 3 without an alpha plane (4)
  kFormatRgba32 = 6,      // R, G, B, A; code 4 without an alpha plane (4)
  kFormat4444 = 7,        // 4-4-4-4 with alpha in bits 12..15; 4-4-4 without alpha plane (2)
  kFormat5551 = 8,        // 5-5-5-1 with alpha in bit 15; 5-5-5 without alpha plane (2)
  kFormat555 = 9,         // (2)
  kFormat565 = 10,        // (2)
  kFormat655 = 11,        // red 6 bits on top (2)
  kFormat664 = 12,        // blue 4 bits at the bottom (2)
  kFormatYuy2 = 13,       // per pixel pair Y0, Cb, Y1, Cr (2)
  kFormatUyvy = 14,       // per pixel pair Cb, Y0, Cr, Y1 (2)
  kFormatYv12 = 15,       // luma plane, then Cr plane, then Cb plane (1)
};

// Doubling modes (bits 28..30 of the flags).
enum : uint32_t {
  kDoubleNone = 0,        // and 7
  kDoubleRows = 1,        // every row written to two adjacent rows
  kDoubleInterlace = 2,   // every row written to every second row; rows between untouched
  kDoubleWidth = 3,       // every pixel written twice side by side
  kDoubleBoth = 4,        // modes 1 and 3
  kDoubleBothInterlace = 5,  // modes 2 and 3
  kDoubleField = 6,       // only every second source row, into every second row
};

// Bytes per pixel of a format code (0 for 0; 1 for YV12, whose chroma planes follow the luma).
uint32_t convert_bytes_per_pixel(uint32_t format);
// Destination rows per source row (2 for modes 1, 2, 4, 5) and pixels per source pixel.
uint32_t convert_row_factor(uint32_t mode);
uint32_t convert_width_factor(uint32_t mode);

// Everything the copies into one destination change. Made with the tables of the instruction
// sets the processor has and KORVA_CPU (or cpu_set_limit) allows at that moment, and scratch
// rows for pictures up to `max_width` source pixels wide (wider ones are copied all the same,
// their duplicated rows converted twice). Null when memory runs out.
struct ConvertContext;
ConvertContext* convert_context_create(uint32_t max_width);
void convert_context_destroy(ConvertContext* cx);

// What the late-frame rule says of a copy.
enum : uint32_t {
  kCopyOnTime = 0,
  kCopyLate = 1,      // late, copied all the same
  kCopyLateSkip = 2,  // late, not copied
};

// What one copy needs from the movie.
struct CopySource {
  ConvertContext* context;          // the destination's converters; null copies nothing
  const FramePlanes* planes;        // current set and its alpha plane are read; the movie has
                                    // alpha when alpha_planes[0] is non-null
  uint32_t width, height;           // display size (the doubling included)
  uint32_t coded_width, coded_height;
  uint32_t movie_flags;             // the movie's flag word (OpenFlags)
  uint32_t* last_copy_flags;        // may be null

  // Hooks (each may be null), all given `hook_context`: `set_busy` brackets the copy
  // (engine_busy); `late_check` applies the movie's late-frame rule to a copy with these flags
  // (kCopyOnTime, kCopyLate or kCopyLateSkip); `foreground_fill` is called once per copy after
  // it and does the reader's foreground top-up when it sees fit.
  void* hook_context;
  void (*set_busy)(void* context, bool busy);
  uint32_t (*late_check)(void* context, uint32_t flags);
  void (*foreground_fill)(void* context);
};

// Converts the current frame of `src` into `dest` (first byte of the destination memory,
// `dest_pitch` signed bytes per row: negative for bottom-up memory, `dest_height` rows), at
// (dest_x, dest_y), from the rectangle (src_x, src_y, src_w, src_h) in display pixels.
// Returns 1 when the frame was found late (copied or not), else 0. The caller guarantees that
// the rectangle, with its doubling, fits the destination.
uint32_t convert_copy_to_surface(CopySource* src, uint8_t* dest, int32_t dest_pitch,
                                 uint32_t dest_height, uint32_t dest_x, uint32_t dest_y,
                                 uint32_t src_x, uint32_t src_y, uint32_t src_w, uint32_t src_h,
                                 uint32_t flags);

// A copy of the whole picture of `planes` without the late check, for tools and tests:
// coded size w × h at (0, 0) of the destination.
void convert_copy_planes(ConvertContext* cx, const FramePlanes* planes, uint32_t coded_width,
                         uint32_t coded_height, uint8_t* dest, int32_t dest_pitch, uint32_t dest_height,
                         uint32_t flags);
