// Searching a loaded text in its bytes, checked against a plain search of its code units.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/EncodedText.h"

namespace {

struct Encoded {
    std::string bytes;
    TextEncoding encoding;
};

Encoded Encode(const Text& units, TextEncoding encoding) {
    Encoded encoded{"", encoding};
    for (const char16_t unit : units) {
        const auto low = static_cast<char>(unit & 0xFF);
        const auto high = static_cast<char>(unit >> 8);
        if (encoding == TextEncoding::Utf16Le) {
            encoded.bytes += {low, high};
        } else if (encoding == TextEncoding::Utf16Be) {
            encoded.bytes += {high, low};
        } else {
            encoded.bytes += low;
        }
    }
    return encoded;
}

std::size_t PlainFind(const Text& units, std::size_t from, std::size_t to, char16_t a, char16_t b) {
    for (std::size_t i = from; i < to; ++i) {
        if (units[i] == a || units[i] == b) {
            return i;
        }
    }
    return to;
}

std::size_t PlainFindLast(const Text& units, std::size_t from, std::size_t to, char16_t a,
                          char16_t b) {
    for (std::size_t i = to; i > from; --i) {
        if (units[i - 1] == a || units[i - 1] == b) {
            return i - 1;
        }
    }
    return to;
}

std::uint64_t PlainBreaks(const Text& units, std::size_t from, std::size_t to, bool& allCrLf) {
    std::uint64_t breaks = 0;
    allCrLf = true;
    for (std::size_t i = from; i < to; ++i) {
        if (units[i] == u'\r' && i + 1 < to && units[i + 1] == u'\n') {
            ++breaks;
            ++i;
        } else if (units[i] == u'\r' || units[i] == u'\n') {
            ++breaks;
            allCrLf = false;
        }
    }
    return breaks;
}

// Where a copy of at most `units` units from `from` stops: a CR LF across that bound goes whole.
std::size_t PlainCrLfStop(const Text& units, std::size_t from, std::size_t to, std::size_t most) {
    std::size_t stop = from;
    while (stop < to && stop - from < most) {
        stop += units[stop] == u'\r' && stop + 1 < to && units[stop + 1] == u'\n' ? 2 : 1;
    }
    return stop;
}

// The units from `from` to `stop` with each break made CR LF, a CR's LF looked for up to `to`.
Text PlainWithCrLf(const Text& units, std::size_t from, std::size_t stop, std::size_t to) {
    Text copy;
    for (std::size_t i = from; i < stop; ++i) {
        if (units[i] == u'\r' || units[i] == u'\n') {
            copy += u"\r\n";
            i += units[i] == u'\r' && i + 1 < to && units[i + 1] == u'\n' ? 1 : 0;
        } else {
            copy += units[i];
        }
    }
    return copy;
}

// Random texts of the characters that the searches look for, in every length around the 16 bytes
// that are compared at once, and in each encoding: matches at the edges of a comparison, a CR LF
// across two of them, and characters whose other byte equals a sought byte in UTF-16.
TEST(EncodedText, SearchesAgreeWithAPlainSearch) {
    const Text alphabet = u"\r\n<>ms \tx\u0A0D\u3C00\u0D0A";
    std::mt19937 random(8);
    for (int round = 0; round < 3000; ++round) {
        Text units(random() % 70, u'x');
        for (char16_t& unit : units) {
            unit = alphabet[random() % alphabet.size()];
        }
        for (const TextEncoding encoding :
             {TextEncoding::Utf8, TextEncoding::Utf16Le, TextEncoding::Utf16Be}) {
            Text sought = units;
            if (encoding == TextEncoding::Utf8) {
                // One byte per unit: the characters above 0xFF are left out.
                std::erase_if(sought, [](char16_t unit) { return unit > 0xFF; });
            }
            const Encoded encoded = Encode(sought, encoding);
            const EncodedText text(encoded.bytes, encoding);
            const std::size_t unit = text.UnitSize();
            const std::size_t size = sought.size();
            const std::size_t from = size == 0 ? 0 : random() % (size + 1);
            const std::size_t to = from + (size == from ? 0 : random() % (size - from + 1));
            const std::string name = testing::PrintToString(encoded.bytes);

            EXPECT_EQ(text.Find(from * unit, to * unit, u'\r', u'\n'),
                      PlainFind(sought, from, to, u'\r', u'\n') * unit)
                << name;
            EXPECT_EQ(text.Find(from * unit, to * unit, u'<', u'<'),
                      PlainFind(sought, from, to, u'<', u'<') * unit)
                << name;
            EXPECT_EQ(text.FindLast(from * unit, to * unit, u'\r', u'\n'),
                      PlainFindLast(sought, from, to, u'\r', u'\n') * unit)
                << name;
            // The copy with CR LF breaks: as much as the room surely holds, no CR LF split and
            // nothing written past the room.
            const std::size_t room = 4 + random() % 60;
            std::string copy(room * unit + 16, '#');
            std::size_t written = 0;
            const std::size_t stop =
                text.CopyWithCrLf(from * unit, to * unit, copy.data(), room * unit, written);
            const std::size_t plainStop = PlainCrLfStop(sought, from, to, room / 2);
            EXPECT_EQ(stop, plainStop * unit) << name;
            EXPECT_EQ(copy.substr(0, written),
                      Encode(PlainWithCrLf(sought, from, plainStop, to), encoding).bytes)
                << name;
            EXPECT_EQ(copy.substr(room * unit), std::string(16, '#')) << name;

            bool allCrLf = true;
            const std::uint64_t breaks = PlainBreaks(sought, from, to, allCrLf);
            EXPECT_EQ(text.CountBreaks(from * unit, to * unit).count, breaks) << name;
            EXPECT_EQ(text.CountBreaks(from * unit, to * unit).allCrLf, allCrLf) << name;
            PlainBreaks(sought, 0, size, allCrLf);
            EXPECT_EQ(text.OnlyCrLf(), allCrLf) << name;

            std::size_t pair = from;
            while (pair < size && !Text(sought, pair).starts_with(u"<m") &&
                   !Text(sought, pair).starts_with(u"<s")) {
                ++pair;
            }
            EXPECT_EQ(text.FindEither(from * unit, u"<m", u"<s"), pair * unit) << name;
        }
    }
}

TEST(EncodedText, LinesAndBlanks) {
    const std::string bytes = "a\r\n\t <b\r\rc\n";
    const EncodedText text(bytes, TextEncoding::Utf8);
    EXPECT_EQ(text.LineEnd(0), 1u);
    EXPECT_EQ(text.AfterBreak(1), 3u);
    EXPECT_EQ(text.LineStart(5, 0), 3u);
    EXPECT_EQ(text.LineStart(5, 4), 4u);  // no break after the floor
    EXPECT_EQ(text.AfterBreak(7), 8u);    // CR CR: two breaks
    EXPECT_EQ(text.AfterBreak(text.Size()), text.Size());
    EXPECT_TRUE(text.IsBlank(3, 5));
    EXPECT_FALSE(text.IsBlank(3, 6));
    EXPECT_TRUE(text.HasAt(5, u"<b"));
    EXPECT_FALSE(text.HasAt(10, u"\n\n"));
}

}  // namespace
