// The player's closing picture: a one-frame movie of 224 × 252 pixels at 10 frames a second,
// no sound, showing the product's mark (a ring with a play triangle) and its name, drawn here
// and coded with the writers. The player carries its bytes (app/closing_picture_data.cpp, made
// from this by the tests with KORVA_REGENERATE set).
#pragma once
#include <cstdint>
#include <vector>

constexpr uint32_t kClosingPictureWidth = 224, kClosingPictureHeight = 252;

// The picture as 8-bit R, G, B rows.
std::vector<uint8_t> closing_picture_rgb();
// The movie's bytes.
std::vector<uint8_t> closing_picture_write();
