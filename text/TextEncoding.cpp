#include "TextEncoding.h"

#include "Platform.h"

std::string_view ByteOrderMark(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8:
            return "\xEF\xBB\xBF";
        case TextEncoding::Utf16Le:
            return "\xFF\xFE";
        case TextEncoding::Utf16Be:
            return "\xFE\xFF";
        case TextEncoding::SystemCodePage:
            return platform::SystemCodePageIsUtf8() ? "\xEF\xBB\xBF" : "";
    }
    return "";
}
