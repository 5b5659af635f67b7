// A small bitmap font of our own for the SDL player's statistics line (SDL draws no text): printable ASCII
// in cells of 8 × 16 pixels, each glyph drawn 5 × 7 and doubled in height.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int kFontWidth = 8, kFontHeight = 16;

// The glyph of a printable ASCII character (32..126): 16 rows, bit 7 of each byte the leftmost
// pixel; other characters get the glyph of '?'.
const uint8_t* font_glyph(unsigned char c);
// Width and height in pixels of a one-line text.
void font_measure(const char* text, size_t length, int32_t* width, int32_t* height);
// Draws a text into 32-bit pixels (0x00RRGGBB words): foreground where a glyph bit is set,
// background elsewhere, clipped to the w × h buffer; x, y may be negative.
void font_draw32(uint32_t* pixels, int32_t pitch_pixels, int32_t w, int32_t h, int32_t x, int32_t y,
                 const char* text, size_t length, uint32_t foreground, uint32_t background);
