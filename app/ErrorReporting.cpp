#include "ErrorReporting.h"

#include "app/ApplicationIdentity.h"
#include "text/ErrorMessage.h"
#include "text/WideText_win.h"
#include "win32/ModalScope.h"

void ReportError(TextView message) noexcept {
    // A window that holds the mouse capture (a button being pressed, say) lets it go first.
    if (const HWND capture = GetCapture(); capture != nullptr) {
        SendMessageW(capture, WM_CANCELMODE, 0, 0);
    }
    try {
        const Text text = WithFullStop(message);
        // The box goes over the window that was active; when the user has switched to another
        // program meanwhile, over the application's last active pop-up or its hidden window.
        HWND owner = GetActiveWindow();
        if (owner == nullptr && ApplicationWindow() != nullptr) {
            owner = GetLastActivePopup(ApplicationWindow());
        }
        if (owner == nullptr) {
            owner = ApplicationWindow();
        }
        const ModalScope modal(owner);
        MessageBoxW(owner, Wide(text), Wide(ApplicationTitle()), MB_OK | MB_ICONERROR);
    } catch (...) {
        // Not even the text of the box could be made: nothing more can be shown.
    }
}
