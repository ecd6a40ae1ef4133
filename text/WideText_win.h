#pragma once

// A Text is passed to the platform's wide-character functions as it is (file/System_win.h).

#include <algorithm>
#include <cstddef>
#include <vector>

#include "file/System_win.h"
#include "text/Text.h"

using file::FromWide;
using file::Wide;

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
