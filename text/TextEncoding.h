#pragma once

#include <string_view>

enum class TextEncoding { Utf8, Utf16Le, Utf16Be, SystemCodePage };

// The byte-order mark written before a text in this encoding; empty when none is written.
std::string_view ByteOrderMark(TextEncoding encoding);
