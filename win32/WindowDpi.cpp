#include "win32/WindowDpi.h"

#include "win32/Handles.h"
#include "win32/SystemLibrary.h"

namespace {

HMODULE User32() {
    return GetModuleHandleW(L"user32.dll");
}

// shcore.dll is no known DLL: loaded once, from the system folder.
const SystemLibrary& Shcore() {
    static const SystemLibrary library(L"shcore.dll");
    return library;
}

int SystemDpi() {
    const WindowDc screen(nullptr);
    return GetDeviceCaps(screen.Get(), LOGPIXELSX);
}

}  // namespace

int WindowDpi(HWND window) {
    // Windows 10 1607 and later.
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    if (const auto getDpiForWindow =
            ProcedureAddress<GetDpiForWindowFunction>(User32(), "GetDpiForWindow")) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return static_cast<int>(dpi);
        }
    }
    // Windows 8.1: the effective DPI of the window's monitor (MDT_EFFECTIVE_DPI is 0).
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    if (const auto getDpiForMonitor =
            Shcore().Procedure<GetDpiForMonitorFunction>("GetDpiForMonitor")) {
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
    const auto adjustForDpi =
        ProcedureAddress<AdjustForDpiFunction>(User32(), "AdjustWindowRectExForDpi");
    if (adjustForDpi != nullptr) {
        adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi));
    } else {
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    }
    return {rect.right - rect.left, rect.bottom - rect.top};
}
