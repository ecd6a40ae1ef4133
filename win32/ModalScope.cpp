#include "ModalScope.h"

ModalScope::ModalScope(HWND owner) : owner_(owner) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM context) CALLBACK -> BOOL {
            auto& scope = *reinterpret_cast<ModalScope*>(context);
            if (window != scope.owner_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
                EnableWindow(window, FALSE);
                scope.disabled_.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
}

ModalScope::~ModalScope() {
    for (HWND window : disabled_) {
        if (IsWindow(window)) {
            EnableWindow(window, TRUE);
        }
    }
    if (owner_ != nullptr && IsWindow(owner_)) {
        SetActiveWindow(owner_);
    }
}
