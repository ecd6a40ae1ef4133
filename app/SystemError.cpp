#include "SystemError.h"

#include <string>

#include "text/ErrorMessage.h"
#include "text/Platform.h"

Text SystemErrorMessage(std::uint32_t code, TextView systemText) {
    if (code == 0) {
        return Text(unknownFailureMessage);
    }
    // The code prints as the platform's signed int: an HRESULT such as 0x80004005 is negative.
    const std::string digits = std::to_string(static_cast<std::int32_t>(code));
    return u"Erreur système.  Code : " + Text(digits.begin(), digits.end()) + u".\r\n" +
           Text(systemText);
}

SystemError::SystemError(std::uint32_t code)
    : Error(SystemErrorMessage(code, TrimSystemText(platform::SystemErrorText(code)))) {}
