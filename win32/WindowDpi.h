#pragma once

// The DPI of a window's monitor and the window size for a client size at that DPI, with the
// functions of the running system: newer user32 and shcore entry points are looked up at run
// time, so that the executable still starts where they are missing.

#include <windows.h>

// The DPI of the monitor nearest to `window`; the system DPI on systems without per-monitor DPI.
int WindowDpi(HWND window);

// The outer size of a window with these styles whose client area is `width` x `height` at `dpi`.
SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, int dpi);
