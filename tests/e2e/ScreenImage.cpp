#include "ScreenImage.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "win32/Handles.h"

namespace e2e {

ScreenImage::ScreenImage(int width, int height, std::vector<uint32_t> pixels)
    : width_(width), height_(height), pixels_(std::move(pixels)) {}

ScreenImage ScreenImage::Render(SIZE size, const std::function<void(HDC)>& draw) {
    if (size.cx <= 0 || size.cy <= 0) {
        throw std::invalid_argument("empty picture");
    }
    const WindowDc screen(nullptr);
    const MemoryDc memory(screen.Get());
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const Bitmap bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || memory.Get() == nullptr) {
        throw std::runtime_error("no memory bitmap for a picture");
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(size.cx) * size.cy, kWhite);
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(uint32_t));
    {
        const SelectedObject selected(memory.Get(), bitmap.Get());
        draw(memory.Get());
    }
    GdiFlush();
    std::memcpy(pixels.data(), bits, pixels.size() * sizeof(uint32_t));
    for (auto& pixel : pixels) {
        pixel &= 0xFFFFFF;
    }
    return ScreenImage(size.cx, size.cy, std::move(pixels));
}

ScreenImage ScreenImage::Capture(const RECT& area) {
    const WindowDc screen(nullptr);
    return Render({area.right - area.left, area.bottom - area.top}, [&](HDC target) {
        if (!BitBlt(target, 0, 0, area.right - area.left, area.bottom - area.top, screen.Get(),
                    area.left, area.top, SRCCOPY)) {
            throw std::runtime_error("BitBlt from the screen failed");
        }
    });
}

RECT ScreenImage::Clip(const RECT& area) const {
    return {std::max(area.left, LONG{0}), std::max(area.top, LONG{0}),
            std::min(area.right, LONG{width_}), std::min(area.bottom, LONG{height_})};
}

int ScreenImage::CountNonWhite(const RECT& area) const {
    const RECT r = Clip(area);
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            count += At(x, y) != kWhite ? 1 : 0;
        }
    }
    return count;
}

int ScreenImage::Count(const RECT& area, uint32_t colour) const {
    const RECT r = Clip(area);
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            count += At(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

std::optional<RECT> ScreenImage::NonWhiteBounds(const RECT& area) const {
    const RECT r = Clip(area);
    std::optional<RECT> bounds;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (At(x, y) == kWhite) {
                continue;
            }
            if (!bounds) {
                bounds = RECT{x, y, x + 1, y + 1};
            } else {
                bounds->left = std::min(bounds->left, LONG{x});
                bounds->right = std::max(bounds->right, LONG{x + 1});
                bounds->bottom = std::max(bounds->bottom, LONG{y + 1});
            }
        }
    }
    return bounds;
}

void ScreenImage::SaveBmp(const std::filesystem::path& path) const {
    const int rowBytes = (width_ * 3 + 3) & ~3;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width_;
    header.biHeight = height_;  // bottom-up rows, the format's usual order
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(rowBytes * height_);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;

    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    std::vector<char> row(static_cast<size_t>(rowBytes), 0);
    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const uint32_t pixel = At(x, y);
            row[x * 3 + 0] = static_cast<char>(pixel & 0xFF);
            row[x * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
        out.write(row.data(), rowBytes);
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace e2e
