#include "Codec.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace codec {
namespace {

static_assert(std::endian::native == std::endian::little);

constexpr char16_t replacementCharacter = 0xFFFD;

// Whether the four code units at `units` are all ASCII.
bool IsAscii4(const char16_t* units) {
    std::uint64_t word;
    std::memcpy(&word, units, sizeof word);
    return (word & 0xFF80FF80FF80FF80u) == 0;
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes one sequence at `p`; returns its code point, or -1 when it is invalid. `length` gets
// the number of bytes used (1 for an invalid lead or a cut sequence).
std::int32_t DecodeSequence(const unsigned char* p, const unsigned char* end, std::size_t& length) {
    const unsigned lead = p[0];
    length = 1;
    std::size_t needed;
    std::uint32_t cp;
    std::uint32_t minimum;
    if (lead < 0x80) {
        return static_cast<std::int32_t>(lead);
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return -1;
    }
    if (static_cast<std::size_t>(end - p) <= needed) {
        return -1;
    }
    for (std::size_t i = 1; i <= needed; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return -1;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return -1;
    }
    length = needed + 1;
    return static_cast<std::int32_t>(cp);
}

template <bool strict>
bool DecodeUtf8(std::string_view bytes, Text& text) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    const std::size_t start = text.size();
    // Each byte gives at most one code unit: size once, then shrink.
    text.resize(start + bytes.size());
    char16_t* out = text.data() + start;
    while (p < end) {
        // Runs of ASCII, the bulk of a profile, are widened eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080u) {
                break;
            }
            for (int i = 0; i < 8; ++i) {
                out[i] = p[i];
            }
            p += 8;
            out += 8;
        }
        if (p == end) {
            break;
        }
        if (*p < 0x80) {
            *out++ = *p++;
            continue;
        }
        std::size_t length;
        const std::int32_t cp = DecodeSequence(p, end, length);
        p += length;
        if (cp < 0) {
            if (strict) {
                text.resize(start);
                return false;
            }
            *out++ = replacementCharacter;
        } else if (cp < 0x10000) {
            *out++ = static_cast<char16_t>(cp);
        } else {
            const std::uint32_t v = static_cast<std::uint32_t>(cp) - 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (v >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        }
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return true;
}

// Windows-1252 bytes 0x80 to 0x9F; the unassigned ones map to themselves.
constexpr std::array<char16_t, 32> windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

bool DecodeUtf8Strict(std::string_view bytes, Text& text) {
    return DecodeUtf8<true>(bytes, text);
}

void DecodeUtf8Lenient(std::string_view bytes, Text& text) {
    DecodeUtf8<false>(bytes, text);
}

bool ValidUtf8(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    // Sixteen bytes at a time; a non-ASCII byte among them is found at once (the first byte of a
    // word read from memory is its lowest on the little-endian hosts this is built for) and its
    // sequence checked, and the next sixteen start right after it.
    constexpr std::uint64_t highBits = 0x8080808080808080u;
    while (end - p >= 16) {
        std::uint64_t low;
        std::uint64_t high;
        std::memcpy(&low, p, 8);
        std::memcpy(&high, p + 8, 8);
        low &= highBits;
        high &= highBits;
        if ((low | high) == 0) {
            p += 16;
            continue;
        }
        p += low != 0 ? std::countr_zero(low) / 8 : 8 + std::countr_zero(high) / 8;
        std::size_t length;
        if (DecodeSequence(p, end, length) < 0) {
            return false;
        }
        p += length;
    }
    while (p < end) {
        std::size_t length;
        if (DecodeSequence(p, end, length) < 0) {
            return false;
        }
        p += length;
    }
    return true;
}

void EncodeUtf8(TextView text, std::string& bytes) {
    // Measure first, so that the bytes are written in place rather than appended one by one.
    std::size_t size = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 4 <= text.size() && IsAscii4(text.data() + i)) {
            size += 4;
            i += 3;
            continue;
        }
        const char16_t unit = text[i];
        if (unit < 0x80) {
            size += 1;
        } else if (unit < 0x800) {
            size += 2;
        } else if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            size += 4;
            ++i;
        } else {
            size += 3;
        }
    }
    const std::size_t start = bytes.size();
    bytes.resize(start + size);
    auto out = reinterpret_cast<unsigned char*>(bytes.data() + start);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 4 <= text.size() && IsAscii4(text.data() + i)) {
            for (int k = 0; k < 4; ++k) {
                out[k] = static_cast<unsigned char>(text[i + k]);
            }
            out += 4;
            i += 3;
            continue;
        }
        std::uint32_t cp = text[i];
        if (cp < 0x80) {
            *out++ = static_cast<unsigned char>(cp);
            continue;
        }
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            cp = replacementCharacter;
        }
        if (cp < 0x800) {
            *out++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
        } else if (cp < 0x10000) {
            *out++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
            *out++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        } else {
            *out++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
            *out++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        }
        *out++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
}

void DecodeUtf16(std::string_view bytes, bool bigEndian, Text& text) {
    const std::size_t units = bytes.size() / 2;
    const std::size_t start = text.size();
    text.resize(start + units);
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    char16_t* out = text.data() + start;
    for (std::size_t i = 0; i < units; ++i, p += 2) {
        out[i] = bigEndian ? static_cast<char16_t>(p[0] << 8 | p[1])
                           : static_cast<char16_t>(p[1] << 8 | p[0]);
    }
}

void EncodeUtf16(TextView text, bool bigEndian, std::string& bytes) {
    const std::size_t start = bytes.size();
    bytes.resize(start + 2 * text.size());
    char* out = bytes.data() + start;
    for (const char16_t unit : text) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        *out++ = bigEndian ? high : low;
        *out++ = bigEndian ? low : high;
    }
}

void DecodeWindows1252(std::string_view bytes, Text& text) {
    const std::size_t start = text.size();
    text.resize(start + bytes.size());
    char16_t* out = text.data() + start;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = byte >= 0x80 && byte < 0xA0 ? windows1252High[byte - 0x80] : byte;
    }
}

void EncodeWindows1252(TextView text, std::string& bytes) {
    const std::size_t start = bytes.size();
    bytes.resize(start + text.size());
    char* out = bytes.data() + start;
    const char16_t* unit = text.data();
    const char16_t* const end = unit + text.size();
    for (; unit != end; ++unit) {
        if (*unit < 0x80 || (*unit >= 0xA0 && *unit <= 0xFF)) {
            *out++ = static_cast<char>(*unit);
            continue;
        }
        char byte = '?';
        for (std::size_t k = 0; k < windows1252High.size(); ++k) {
            if (windows1252High[k] == *unit) {
                byte = static_cast<char>(0x80 + k);
                break;
            }
        }
        // A surrogate pair is one character and gives one default character.
        if (IsHighSurrogate(*unit) && unit + 1 != end && IsLowSurrogate(unit[1])) {
            ++unit;
        }
        *out++ = byte;
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
}

}  // namespace codec
