#pragma once

// The only way the application reports a failure: an error box over the window that was active.

#include <windows.h>

#include "text/ErrorMessage.h"
#include "text/Text.h"

// Shows `message` (with a full stop added where it ends in a letter, digit...) in the platform's
// message box with the error icon and the application title, modal to the application's windows,
// and returns once the user has closed it. Never raises.
void ReportError(TextView message) noexcept;

// The guard that the window procedures and each turn of the event loop put around their work:
// an error that escapes `work` is reported, and the work ends normally. No C++ exception crosses
// it, so none reaches the platform's code that called the window procedure.
template <typename Work>
void Guarded(Work&& work) noexcept {
    try {
        work();
    } catch (...) {
        ReportCurrentError(&ReportError);
    }
}

// The message guard: the message's result is what the handling had set when an error arose, 0
// unless it had set one.
template <typename Handling>
LRESULT GuardedMessage(Handling&& handling) noexcept {
    LRESULT result = 0;
    Guarded([&] { handling(result); });
    return result;
}
