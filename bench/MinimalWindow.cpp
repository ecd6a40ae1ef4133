// The least that a Windows program does to put a picture on screen: one white window of the
// installer's size and styles, with one rectangle where the installer draws its logo. The start-up
// benchmark measures the installer against it.

#include <windows.h>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint{};
        const HDC dc = BeginPaint(window, &paint);
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        const RECT logo{0, 0, 168, 169};
        FillRect(dc, &logo, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"MinimalWindow";
    RegisterClassW(&windowClass);
    constexpr DWORD style = WS_CAPTION | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT outer{0, 0, 489, 172};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const HWND window = CreateWindowExW(
        exStyle, L"MinimalWindow", L"Minimal window", style, CW_USEDEFAULT, CW_USEDEFAULT,
        outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
