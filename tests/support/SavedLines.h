#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "text/Codec.h"
#include "text/LineList.h"
#include "text/Platform.h"
#include "text/Text.h"

// The lines of bytes that a list saved: decoded by their byte-order mark and cut after every
// CR LF, which the list writes after each line.
inline std::vector<Text> SavedLines(std::string_view bytes) {
    Text text;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        platform::DecodeUtf8(bytes.substr(3), text);
    } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        codec::DecodeUtf16(bytes.substr(2), bytes[0] == '\xFE', text);
    } else {
        platform::DecodeSystemCodePage(bytes, text);
    }
    std::vector<Text> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(u"\r\n", at), text.size());
        lines.emplace_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

inline std::vector<Text> SavedLines(const LineList& list) {
    return SavedLines(list.SaveBytes());
}
