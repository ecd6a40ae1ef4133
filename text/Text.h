#pragma once

#include <string>
#include <string_view>

// A text is a sequence of UTF-16 code units of any value: U+0000 and lone surrogates included.
using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 for the outside world (terminals, POSIX file names). A lone surrogate becomes U+FFFD,
// as the platform's own conversion makes it.
std::string ToUtf8(TextView text);

// Lenient decoding of an outside UTF-8 string: an invalid sequence becomes U+FFFD.
Text FromUtf8(std::string_view utf8);
