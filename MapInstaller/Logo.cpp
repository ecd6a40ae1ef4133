#include "Logo.h"

#include <cstring>

#include "app/SystemError.h"

void LogoImage::Paint(HDC dc, const Bounds& control) {
    if (!bitmap_) {
        Load(dc);
    }
    const Size drawn = LogoDrawSize(size_, {control.width, control.height});
    const MemoryDc memory(dc);
    const SelectedObject picture(memory.Get(), bitmap_.Get());
    // Above 8 bits per pixel rows and columns are dropped without smoothing; on palette displays
    // HALFTONE keeps the colours close.
    const int bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
    const int previousMode = SetStretchBltMode(dc, bitsPerPixel > 8 ? COLORONCOLOR : HALFTONE);
    if (bitsPerPixel <= 8) {
        SetBrushOrgEx(dc, 0, 0, nullptr);
    }
    StretchBlt(dc, control.left, control.top, drawn.width, drawn.height, memory.Get(), 0, 0,
               size_.width, size_.height, SRCCOPY);
    SetStretchBltMode(dc, previousMode);
}

void LogoImage::Load(HDC dc) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, L"LOGO", RT_RCDATA);
    const HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        RaiseLastSystemError();
    }
    const Picture decoded =
        DecodeJpeg({static_cast<const std::uint8_t*>(bytes), SizeofResource(module, resource)});

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = decoded.size.width;
    info.bmiHeader.biHeight = -decoded.size.height;  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    Bitmap bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!bitmap) {
        RaiseLastSystemError();
    }
    std::memcpy(pixels, decoded.rows.data(), decoded.rows.size());
    bitmap_ = std::move(bitmap);
    size_ = decoded.size;
}
