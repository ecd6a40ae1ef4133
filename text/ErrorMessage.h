#pragma once

#include "text/Text.h"

// The text that the error box shows for an error's message: one full stop is added when the
// message is not empty and its last code unit comes after "." (a letter, a digit, "?", ...).
Text WithFullStop(TextView message);

// What is shown when memory is exhausted.
constexpr TextView outOfMemoryMessage = u"Mémoire insuffisante";

// What is shown for a failure that carries no message of its own: a platform call that failed
// without an error code, or an exception of no known kind.
constexpr TextView unknownFailureMessage =
    u"Un appel à une fonction du système d'exploitation a échoué";

// Hands the message of the exception being handled to `report`: an Error's own message, the
// out-of-memory text (without allocating), a standard exception's text, else
// unknownFailureMessage. To be called from a catch block only.
void ReportCurrentError(void (*report)(TextView message));
