#pragma once

// Input for another process's window, posted into its queue as the keyboard would put it there.

#include <windows.h>

namespace e2e {

// Posts a press and a release of virtual key `key` to `window`.
void PostKeyPress(HWND window, UINT key);

}  // namespace e2e
