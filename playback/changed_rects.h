// The changed-area rectangles of a frame: at most kMaxChangedRects rectangles, in display
// pixels, that together cover every changed 16 x 16 block of the change map, so that only the
// changed parts of the picture are blitted.
//
// The rectangles start as the bounding box of all changed blocks; unless the blit stretches the
// picture, the box is split again and again where a split saves the most area (each part shrunk
// to the bounding box of its own changed blocks), until nothing is saved or there are eight.
// They come out sorted by top, then left, scaled for the doubling mode of the last copy and
// clipped to the display size.
#pragma once
#include <cstdint>

#include "playback/stats.h"

// change_map: one byte per 16 x 16 block, non-zero where the frame changed; `map_columns` bytes
// per row and luma_height / 16 rows (the caller's map must hold that many bytes). luma_stride x
// luma_height is the padded picture in pixels (both multiples of 16; only the map columns inside
// luma_stride are read). stretched: the blit stretches the picture, so only the bounding box is
// given. doubling_mode (0..7, from the last copy): 1 and 2 double top and height, 3 doubles
// left and width, 4 and 5 double all four; others change nothing. A rectangle is cut to
// display_width - left and display_height - top; one left with nothing on the display is
// dropped. Returns the number of rectangles written to out (0 when nothing changed).
uint32_t changed_rects_find(const uint8_t* change_map, uint32_t map_columns, uint32_t luma_stride,
                            uint32_t luma_height, bool stretched, uint32_t doubling_mode,
                            int32_t display_width, int32_t display_height,
                            MovieRect out[kMaxChangedRects]);
