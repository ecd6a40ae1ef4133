#include "WindowQuery.h"

namespace e2e {

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

std::wstring Caption(HWND window) {
    // Asked of another process, so the text goes through WM_GETTEXT and may be of any length.
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(copied > 0 ? copied : 0);
    return text;
}

LONG_PTR Style(HWND window) {
    return GetWindowLongPtrW(window, GWL_STYLE);
}

LONG_PTR ExStyle(HWND window) {
    return GetWindowLongPtrW(window, GWL_EXSTYLE);
}

std::vector<HWND> TopLevelWindows(DWORD processId, const std::wstring& className, HWND owner) {
    struct Search {
        DWORD processId;
        const std::wstring* className;
        HWND owner;
        std::vector<HWND> found;
    } search{processId, &className, owner, {}};
    EnumWindows(
        [](HWND window, LPARAM context) CALLBACK -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            DWORD windowProcess = 0;
            GetWindowThreadProcessId(window, &windowProcess);
            if (windowProcess == s.processId && ClassName(window) == *s.className &&
                (s.owner == nullptr || GetWindow(window, GW_OWNER) == s.owner)) {
                s.found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ChildOfClass(HWND parent, const std::wstring& className) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == className) {
            return child;
        }
    }
    return nullptr;
}

HWND FileNameBox(HWND dialog) {
    if (const HWND edit = GetDlgItem(dialog, 0x480); edit != nullptr) {
        return edit;
    }
    const HWND combo = GetDlgItem(dialog, 0x47C);
    return combo != nullptr ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
}

RECT RectInClient(HWND window, HWND parent) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE ClientSize(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

RECT ClientOnScreen(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

namespace {

GUITHREADINFO ThreadInfo(DWORD threadId) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(threadId, &info);
    return info;
}

}  // namespace

HWND FocusOfThread(DWORD threadId) {
    return ThreadInfo(threadId).hwndFocus;
}

HWND ActiveOfThread(DWORD threadId) {
    return ThreadInfo(threadId).hwndActive;
}

}  // namespace e2e
