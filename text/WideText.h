#pragma once

// On Windows wchar_t and char16_t are both UTF-16 code units: a Text is passed to the platform's
// wide-character functions as it is.

#include "text/Text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const Text& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline Text FromWide(const wchar_t* text, std::size_t length) {
    return Text(reinterpret_cast<const char16_t*>(text), length);
}
