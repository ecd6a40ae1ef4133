#include "Text.h"

#include "Codec.h"

std::string ToUtf8(TextView text) {
    std::string bytes;
    codec::EncodeUtf8(text, bytes);
    return bytes;
}

Text FromUtf8(std::string_view utf8) {
    Text text;
    codec::DecodeUtf8Lenient(utf8, text);
    return text;
}
