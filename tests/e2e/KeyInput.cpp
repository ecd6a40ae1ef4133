#include "KeyInput.h"

namespace e2e {

void PostKeyPress(HWND window, UINT key) {
    const LPARAM scanCode = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    // Repeat count 1; the release also has its previous-state and transition bits set.
    PostMessageW(window, WM_KEYDOWN, key, scanCode | 1);
    PostMessageW(window, WM_KEYUP, key, scanCode | 1 | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

}  // namespace e2e
