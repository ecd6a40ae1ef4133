#pragma once

// Move-only owners of the platform's handles: copying is deleted, moving leaves the source empty,
// and the destructor is the only place that frees.

#include <windows.h>

#include <utility>

// The owner of one handle that `Free` releases; null is the empty value.
template <typename Handle, auto Free>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (handle_ != nullptr) {
            Free(handle_);
        }
    }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    // The handle held before is freed, by the temporary that takes it, once this holds the new one.
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        UniqueHandle old(std::exchange(handle_, std::exchange(other.handle_, nullptr)));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    Handle handle_ = nullptr;
};

// GDI objects, deleted with DeleteObject.
using Font = UniqueHandle<HFONT, DeleteObject>;
using Bitmap = UniqueHandle<HBITMAP, DeleteObject>;
using Brush = UniqueHandle<HBRUSH, DeleteObject>;

// A platform window, destroyed with its owner object.
using Window = UniqueHandle<HWND, DestroyWindow>;

// The device context of a window's client area (GetDC), released with its window.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_ != nullptr) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(WindowDc&& other) noexcept
        : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc& operator=(WindowDc&&) = delete;
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// A memory device context (CreateCompatibleDC), deleted with DeleteDC.
class MemoryDc {
  public:
    explicit MemoryDc(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc() {
        if (dc_ != nullptr) {
            DeleteDC(dc_);
        }
    }
    MemoryDc(MemoryDc&& other) noexcept : dc_(std::exchange(other.dc_, nullptr)) {}
    MemoryDc& operator=(MemoryDc&&) = delete;
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;

    HDC Get() const { return dc_; }

  private:
    HDC dc_;
};

// An object selected into a device context; the previous one is selected back at the end, so
// that the object can be deleted afterwards.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            SelectObject(dc_, previous_);
        }
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// BeginPaint and EndPaint of one WM_PAINT.
class PaintScope {
  public:
    explicit PaintScope(HWND window) : window_(window) { BeginPaint(window_, &paint_); }
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC Dc() const { return paint_.hdc; }
    const RECT& Dirty() const { return paint_.rcPaint; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
};

// A window whose procedure reaches an object of the program through GWLP_USERDATA. The link is
// cut before the window is destroyed, so that no message sent during the destruction reaches an
// object that is itself going away.
class LinkedWindow {
  public:
    LinkedWindow() = default;
    ~LinkedWindow() { Destroy(); }
    LinkedWindow(const LinkedWindow&) = delete;
    LinkedWindow& operator=(const LinkedWindow&) = delete;

    HWND Get() const { return window_; }

    // Takes ownership of a window that has just been made.
    void Adopt(HWND window) {
        Destroy();
        window_ = window;
    }
    // The platform has destroyed the window itself.
    void Forget() { window_ = nullptr; }
    void Destroy() {
        if (const HWND window = std::exchange(window_, nullptr); window != nullptr) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
    }

  private:
    HWND window_ = nullptr;
};
