// The memory surface: a plain block of memory in any copy format code, with a pitch (negative
// for bottom-up rows) and the picture placed at an offset inside it. Headless playback, the
// tools and the tests copy frames into it.
#pragma once
#include <cstddef>
#include <cstdint>

struct CopySource;

struct MemorySurface {
  uint32_t format;              // copy format code 1..15
  uint32_t width, height;       // pixels and rows of the surface
  int32_t pitch;                // bytes per row; negative: the rows are stored bottom-up
  uint32_t picture_x, picture_y;  // where the picture's first pixel goes
  uint8_t* memory;              // first byte of the block (the bottom row when bottom-up)
  size_t bytes;                 // the whole block (YV12: luma rows, then V and U planes)
};

// Opens a surface of `width` × `height` pixels. `pitch` 0 takes the smallest pitch (rounded up
// to 4 bytes); a given pitch must hold a row and, for YV12, be even and positive. Returns null
// when the format or sizes are invalid or memory runs out. The block starts zero-filled, except
// YV12 chroma and packed-YUV chroma bytes, which start at 128 (black).
MemorySurface* memory_surface_open(uint32_t format, uint32_t width, uint32_t height, int32_t pitch,
                                   uint32_t picture_x, uint32_t picture_y);
void memory_surface_close(MemorySurface* s);

// Address of row y counted from the top (the surface's first visible row).
uint8_t* memory_surface_row(const MemorySurface* s, uint32_t y);

// Copies the current frame of `src` into the surface at its picture offset: the whole display
// picture, clipped to the surface. `flags` are CopyFlags without the format code (the surface
// gives it). Returns the copy's result (1 when the frame was late).
uint32_t memory_surface_copy(MemorySurface* s, CopySource* src, uint32_t flags);

// What the surface shows, as 8-bit R, G, B: `rgb` holds width × height × 3 bytes. Packed and
// planar YUV go back through the integer colour arithmetic.
void memory_surface_to_rgb(const MemorySurface* s, uint8_t* rgb);
