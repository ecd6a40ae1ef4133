#pragma once

// Reading another process's windows: finding them, and their class, caption, styles and places.

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

std::wstring ClassName(HWND window);
std::wstring Caption(HWND window);
LONG_PTR Style(HWND window);
LONG_PTR ExStyle(HWND window);

// The visible or hidden top-level windows of process `processId` with class `className`; with an
// `owner`, only those that it owns.
std::vector<HWND> TopLevelWindows(DWORD processId, const std::wstring& className,
                                  HWND owner = nullptr);
// The first direct child of `parent` with class `className`, or null.
HWND ChildOfClass(HWND parent, const std::wstring& className);

// The file-open dialog's name box, or null when `dialog` has none: an Edit (id 0x480) under Wine,
// an Edit inside a ComboBoxEx32 (id 0x47C) on Windows.
HWND FileNameBox(HWND dialog);

// A window's rectangle in the client coordinates of `parent`.
RECT RectInClient(HWND window, HWND parent);
SIZE ClientSize(HWND window);
// The client area in screen coordinates.
RECT ClientOnScreen(HWND window);

// The window that has the keyboard focus in thread `threadId` (another process's), or null.
HWND FocusOfThread(DWORD threadId);
HWND ActiveOfThread(DWORD threadId);

}  // namespace e2e
