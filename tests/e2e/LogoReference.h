#pragma once

// The logo as the window should show it, drawn by the driver itself from the repository's JPEG:
// decoded at full size to 24 bits with the decoder's defaults, then shrunk with StretchBlt in
// COLORONCOLOR mode, as on a display of more than 8 bits per pixel.

#include <windows.h>

#include <filesystem>

#include "ScreenImage.h"

namespace e2e {

ScreenImage LogoReference(const std::filesystem::path& jpeg, SIZE picture);

// How many pixels of the reference's size, from the top left of `image`, differ from the reference
// by more than `tolerance` in a channel. Small differences of colour come from another decoder
// build; a picture one pixel wider, moved, or smoothed differs in most of its fine lines.
int PixelsDifferingFrom(const ScreenImage& image, const ScreenImage& reference, int tolerance);
inline constexpr int kLogoTolerance = 24;

}  // namespace e2e
