#pragma once

// Portable conversions between bytes and texts. They append to their output.

#include <string>
#include <string_view>

#include "Text.h"

namespace codec {

// Strict UTF-8, as Windows decodes it with MB_ERR_INVALID_CHARS: overlong forms, encoded
// surrogates, code points above U+10FFFF and cut sequences make the whole conversion fail.
bool DecodeUtf8Strict(std::string_view bytes, Text& text);
bool ValidUtf8(std::string_view bytes);
// Every invalid sequence becomes U+FFFD.
void DecodeUtf8Lenient(std::string_view bytes, Text& text);
// A lone surrogate becomes U+FFFD, as Windows encodes it.
void EncodeUtf8(TextView text, std::string& bytes);

// Two bytes per code unit; an odd last byte is ignored.
void DecodeUtf16(std::string_view bytes, bool bigEndian, Text& text);
void EncodeUtf16(TextView text, bool bigEndian, std::string& bytes);

// Windows-1252 exactly as Windows converts it: the five unassigned bytes 0x81, 0x8D, 0x8F, 0x90
// and 0x9D map to the control characters of the same value and back, so that any byte sequence
// comes back unchanged. A character outside the code page becomes "?".
void DecodeWindows1252(std::string_view bytes, Text& text);
void EncodeWindows1252(TextView text, std::string& bytes);

}  // namespace codec
