#include "LogoReference.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "win32/Handles.h"

namespace e2e {
namespace {

struct Decoded {
    int width;
    int height;
    std::vector<unsigned char> bgrRows;  // bottom-up rows padded to 4 bytes, as a DIB wants
};

Decoded Decode(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty()) {
        throw std::runtime_error("cannot read " + path.string());
    }
    jpeg_decompress_struct info = {};
    jpeg_error_mgr errors = {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    Decoded decoded{width, height, std::vector<unsigned char>(stride * height)};
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = {row.data()};
        const int y = static_cast<int>(info.output_scanline);
        jpeg_read_scanlines(&info, rows, 1);
        unsigned char* out = &decoded.bgrRows[stride * (height - 1 - y)];
        for (int x = 0; x < width; ++x) {
            out[x * 3 + 0] = row[x * 3 + 2];
            out[x * 3 + 1] = row[x * 3 + 1];
            out[x * 3 + 2] = row[x * 3 + 0];
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return decoded;
}

}  // namespace

ScreenImage LogoReference(const std::filesystem::path& jpeg, SIZE picture) {
    const Decoded source = Decode(jpeg);
    BITMAPINFO sourceInfo = {};
    sourceInfo.bmiHeader.biSize = sizeof(sourceInfo.bmiHeader);
    sourceInfo.bmiHeader.biWidth = source.width;
    sourceInfo.bmiHeader.biHeight = source.height;
    sourceInfo.bmiHeader.biPlanes = 1;
    sourceInfo.bmiHeader.biBitCount = 24;
    sourceInfo.bmiHeader.biCompression = BI_RGB;

    const WindowDc screen(nullptr);
    const MemoryDc sourceDc(screen.Get());
    void* sourceBits = nullptr;
    const Bitmap sourceBitmap(
        CreateDIBSection(screen.Get(), &sourceInfo, DIB_RGB_COLORS, &sourceBits, nullptr, 0));
    if (!sourceBitmap || sourceDc.Get() == nullptr) {
        throw std::runtime_error("no bitmap for the logo");
    }
    std::copy(source.bgrRows.begin(), source.bgrRows.end(),
              static_cast<unsigned char*>(sourceBits));
    const SelectedObject sourceSelected(sourceDc.Get(), sourceBitmap.Get());

    return ScreenImage::Render(picture, [&](HDC target) {
        SetStretchBltMode(target, COLORONCOLOR);
        StretchBlt(target, 0, 0, picture.cx, picture.cy, sourceDc.Get(), 0, 0, source.width,
                   source.height, SRCCOPY);
    });
}

int PixelsDifferingFrom(const ScreenImage& image, const ScreenImage& reference, int tolerance) {
    int different = 0;
    for (int y = 0; y < reference.Height(); ++y) {
        for (int x = 0; x < reference.Width(); ++x) {
            const uint32_t a = image.At(x, y);
            const uint32_t b = reference.At(x, y);
            for (int shift = 0; shift <= 16; shift += 8) {
                const int channelA = static_cast<int>((a >> shift) & 0xFF);
                const int channelB = static_cast<int>((b >> shift) & 0xFF);
                if (std::abs(channelA - channelB) > tolerance) {
                    ++different;
                    break;
                }
            }
        }
    }
    return different;
}

}  // namespace e2e
