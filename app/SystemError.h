#pragma once

#include <cstdint>

#include "text/Error.h"
#include "text/Text.h"

// The message of a failed platform call: "Erreur système.  Code : <code>.", CR LF and the
// system's text for the code; the message without a code when the platform reported none (0).
Text SystemErrorMessage(std::uint32_t code, TextView systemText);

// A platform call on which the window system depends has failed with `code`.
class SystemError : public Error {
  public:
    explicit SystemError(std::uint32_t code);
};

// Raises a SystemError with the calling thread's last error code (Windows only).
[[noreturn]] void RaiseLastSystemError();
