#pragma once

// On Windows wchar_t and char16_t are both UTF-16 code units: a Text is passed to the platform's
// wide-character functions as it is.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "text/Text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const Text& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline Text FromWide(const wchar_t* text, std::size_t length) {
    return Text(reinterpret_cast<const char16_t*>(text), length);
}

// The text that a platform call writes into a buffer of the size it is given, however long.
// `call(buffer, size)` returns the text's length; the size of the buffer or more when the text
// did not fit (some calls then give the size they need); 0 on failure, which gives an empty text.
template <typename Call>
Text GrowingWideText(const Call& call) {
    std::vector<wchar_t> buffer(260);
    for (;;) {
        const std::size_t length = call(buffer.data(), buffer.size());
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return FromWide(buffer.data(), length);
        }
        buffer.resize(std::max(length, buffer.size() * 2));
    }
}
