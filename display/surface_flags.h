// SurfaceFlags: the flag word given to surface_open.
#pragma once
#include <cstdint>

constexpr uint32_t kSurfaceStyleMask = 0xff;          // blitting style 0..10 in the low bits
constexpr uint32_t kSurfaceSetDisplayMode = 0x800000; // change the display mode (/D)
// Stretch bits added by fit_output_size: width uses 0x10000000 × {1, 2, 4, 8}, height 0x1000000 × ...
constexpr uint32_t kSurfaceWidthBit = 0x10000000;
constexpr uint32_t kSurfaceHeightBit = 0x1000000;
constexpr uint32_t kStretchReduce = 1, kStretchIntReduce = 2, kStretchEnlarge = 4, kStretchIntEnlarge = 8;
