#include "win32/CommonControls.h"

#include <commctrl.h>

#include "win32/SystemLibrary.h"

HMODULE StandardControls() {
    // Named without a folder, so that the activation context gives version 6: the system
    // folder's copy is version 5.82, which has no button of its own.
    static const SystemLibrary library(L"comctl32.dll", SystemLibrary::Source::sideBySide);
    static const bool registered = [] {
        const auto initialise =
            library.Procedure<decltype(&InitCommonControlsEx)>("InitCommonControlsEx");
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES};
        return initialise != nullptr && initialise(&classes) != FALSE;
    }();
    return registered ? library.Module() : nullptr;
}
