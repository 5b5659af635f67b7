// OpenFlags: the flag word given to movie_open and kept as the movie's flag word.
#pragma once
#include <cstdint>

constexpr uint32_t kOpenRateOverride = 0x1000;       // use the frame-rate override
constexpr uint32_t kOpenPreload = 0x2000;            // read the whole movie into memory
constexpr uint32_t kOpenTrackList = 0x4000;          // sound-track identifiers were given
constexpr uint32_t kOpenOldColours = 0x8000;         // decoder variant: older colour coding
constexpr uint32_t kOpenSwapChroma = 0x10000;        // decoder variant: chroma planes swapped
constexpr uint32_t kOpenGrey = 0x20000;              // grey scale
constexpr uint32_t kOpenNoSimd = 0x40000;            // no packed-integer routines
constexpr uint32_t kOpenNeverSkip = 0x80000;         // never skip blits when late
constexpr uint32_t kOpenAlpha = 0x100000;            // decode the alpha plane
constexpr uint32_t kOpenNoInitialFill = 0x200000;    // don't fill the read-ahead buffer at open
constexpr uint32_t kOpenReadSpeed = 0x400000;        // simulate a read speed
constexpr uint32_t kOpenFromHandle = 0x800000;       // source is an open file handle
constexpr uint32_t kOpenBufferSize = 0x1000000;      // read-ahead size given
constexpr uint32_t kOpenUseOpener = 0x2000000;       // open through the installed reader opener
constexpr uint32_t kOpenFromMemory = 0x4000000;      // source is a movie image in memory
constexpr uint32_t kOpenNoThread = 0x8000000;        // no background reading thread
constexpr uint32_t kOpenDoublingMask = 0x70000000;   // display doubling mode 0..7
constexpr uint32_t kOpenDoublingShift = 28;
// The caller's doubling field 7: no doubling, whatever the header asks for.
constexpr uint32_t kOpenDoublingNone = 7;
