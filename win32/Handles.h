#pragma once

// Move-only owners of the platform's handles: copying is deleted, moving leaves the source empty,
// and the destructor is the only place that frees.

#include <windows.h>

#include <utility>

// A GDI object (font, bitmap, brush...), deleted with DeleteObject.
template <typename Handle>
class GdiObject {
  public:
    GdiObject() = default;
    explicit GdiObject(Handle handle) : handle_(handle) {}
    ~GdiObject() {
        if (handle_ != nullptr) {
            DeleteObject(handle_);
        }
    }
    GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept {
        GdiObject(std::move(other)).Swap(*this);
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    void Swap(GdiObject& other) noexcept { std::swap(handle_, other.handle_); }
    Handle handle_ = nullptr;
};

using Font = GdiObject<HFONT>;
using Bitmap = GdiObject<HBITMAP>;

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

// A kernel object's handle (a process, a thread...), closed with CloseHandle. Null is the empty
// value: the calls that fail with INVALID_HANDLE_VALUE instead (files) need an owner of their own.
class KernelHandle {
  public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    ~KernelHandle() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
    }
    KernelHandle(KernelHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    KernelHandle& operator=(KernelHandle&& other) noexcept {
        KernelHandle old(std::exchange(handle_, std::exchange(other.handle_, nullptr)));
        return *this;
    }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    HANDLE handle_ = nullptr;
};

// A platform window, destroyed with its owner object.
class Window {
  public:
    Window() = default;
    explicit Window(HWND window) : window_(window) {}
    ~Window() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    Window(Window&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
    Window& operator=(Window&& other) noexcept {
        Window old(std::exchange(window_, std::exchange(other.window_, nullptr)));
        return *this;
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Get() const { return window_; }

  private:
    HWND window_ = nullptr;
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
