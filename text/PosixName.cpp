#include "PosixName.h"

#include "Codec.h"

namespace {

constexpr char16_t firstEscape = 0xDC80;
constexpr char16_t lastEscape = 0xDCFF;

// The length of the UTF-8 sequence that a byte starts, 0 when it starts none.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

}  // namespace

Text NameFromBytes(std::string_view bytes) {
    Text name;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = SequenceLength(lead);
        if (length != 0 && length <= bytes.size() - at &&
            codec::DecodeUtf8Strict(bytes.substr(at, length), name)) {
            at += length;
        } else {
            name.push_back(static_cast<char16_t>(0xDC00 + lead));
            ++at;
        }
    }
    return name;
}

std::string NameToBytes(TextView name) {
    std::string bytes;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && (name[i] < firstEscape || name[i] > lastEscape)) {
            continue;
        }
        codec::EncodeUtf8(name.substr(runStart, i - runStart), bytes);
        if (i < name.size()) {
            bytes.push_back(static_cast<char>(name[i] - 0xDC00));
        }
        runStart = i + 1;
    }
    return bytes;
}
