#pragma once

// The logo as the window should show it, drawn by the driver itself from the repository's JPEG:
// decoded at full size to 24 bits with the decoder's defaults, then shrunk with StretchBlt in
// COLORONCOLOR mode, as on a display of more than 8 bits per pixel.

#include <windows.h>

#include <filesystem>

#include "ScreenImage.h"

namespace e2e {

ScreenImage LogoReference(const std::filesystem::path& jpeg, SIZE picture);

}  // namespace e2e
