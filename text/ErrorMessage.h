#pragma once

#include "text/Text.h"

// The text that the error box shows for an error's message: one full stop is added when the
// message is not empty and its last code unit comes after "." (a letter, a digit, "?", ...).
Text WithFullStop(TextView message);

// What is shown when memory is exhausted.
constexpr TextView outOfMemoryMessage = u"Mémoire insuffisante";
