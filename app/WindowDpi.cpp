#include "WindowDpi.h"

#include "app/Win32Handles.h"

namespace {

// GetProcAddress gives a generic pointer; the detour through void (*)() tells the compiler that
// the cast to the real signature is meant.
template <typename Function>
Function Entry(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HMODULE User32() {
    return GetModuleHandleW(L"user32.dll");
}

// shcore.dll is no known DLL: it is loaded from the system folder only, never from the folder
// that the installer was started from.
HMODULE Shcore() {
    static const HMODULE module =
        LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

int SystemDpi() {
    const WindowDc screen(nullptr);
    return GetDeviceCaps(screen.Get(), LOGPIXELSX);
}

}  // namespace

int WindowDpi(HWND window) {
    // Windows 10 1607 and later.
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    if (const auto getDpiForWindow = Entry<GetDpiForWindowFunction>(User32(), "GetDpiForWindow")) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return static_cast<int>(dpi);
        }
    }
    // Windows 8.1: the effective DPI of the window's monitor (MDT_EFFECTIVE_DPI is 0).
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    if (const auto getDpiForMonitor =
            Entry<GetDpiForMonitorFunction>(Shcore(), "GetDpiForMonitor")) {
        UINT x = 0;
        UINT y = 0;
        if (SUCCEEDED(
                getDpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y))) {
            return static_cast<int>(x);
        }
    }
    return SystemDpi();
}

SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, int dpi) {
    RECT rect{0, 0, width, height};
    using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjustForDpi = Entry<AdjustForDpiFunction>(User32(), "AdjustWindowRectExForDpi");
    if (adjustForDpi != nullptr) {
        adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi));
    } else {
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    }
    return {rect.right - rect.left, rect.bottom - rect.top};
}
