#pragma once

// Pictures of the screen, read the way a user sees them: what another process's window shows is
// copied from the screen's device context.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace e2e {

class ScreenImage {
  public:
    // The screen's pixels inside `area` (screen coordinates).
    static ScreenImage Capture(const RECT& area);
    // A picture of `size` drawn by `draw` into a 32-bit memory bitmap that starts white.
    static ScreenImage Render(SIZE size, const std::function<void(HDC)>& draw);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // 0x00RRGGBB of the pixel at (x, y), relative to the captured area.
    uint32_t At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

    // How many pixels inside `area` (clipped to the image) are not pure white.
    int CountNonWhite(const RECT& area) const;
    // How many pixels inside `area` (clipped to the image) are exactly `colour` (0x00RRGGBB).
    int Count(const RECT& area, uint32_t colour) const;
    bool SameAs(const ScreenImage& other) const {
        return width_ == other.width_ && height_ == other.height_ && pixels_ == other.pixels_;
    }
    // The smallest rectangle around the non-white pixels inside `area`, if there are any.
    std::optional<RECT> NonWhiteBounds(const RECT& area) const;

    // Writes a 24-bit Windows bitmap file.
    void SaveBmp(const std::filesystem::path& path) const;

  private:
    ScreenImage(int width, int height, std::vector<uint32_t> pixels);
    RECT Clip(const RECT& area) const;

    int width_;
    int height_;
    std::vector<uint32_t> pixels_;
};

inline constexpr uint32_t kWhite = 0xFFFFFF;

}  // namespace e2e
