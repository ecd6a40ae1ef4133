#pragma once

// POSIX file names are bytes in no fixed encoding. They pass through a text without loss: valid
// UTF-8 decodes as usual, and each byte that is not part of a valid sequence becomes the lone
// surrogate U+DC80..U+DCFF that encodes back to it, so that a name reaches the system exactly as
// it was given.

#include <string>
#include <string_view>

#include "Text.h"

Text NameFromBytes(std::string_view bytes);
// Other lone surrogates, which no name decodes to, become U+FFFD.
std::string NameToBytes(TextView name);
