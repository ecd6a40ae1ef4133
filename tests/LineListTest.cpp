// Loading, splitting and saving texts, from bytes to lines and back.

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/CaseName.h"
#include "support/SavedLines.h"
#include "support/TempFolder.h"
#include "text/Error.h"
#include "text/LineList.h"

namespace {

using Lines = std::vector<Text>;

struct RoundTrip {
    const char* name;
    std::string bytes;
    TextEncoding encoding;
    Lines lines;
    std::string saved;
};

using namespace std::string_literals;

const RoundTrip roundTrips[] = {
    {"empty file", "", TextEncoding::SystemCodePage, {}, ""},
    {"utf8 mark only", "\xEF\xBB\xBF", TextEncoding::Utf8, {}, "\xEF\xBB\xBF"},
    {"utf16le mark only", "\xFF\xFE", TextEncoding::Utf16Le, {}, "\xFF\xFE"},
    {"utf16be mark only", "\xFE\xFF", TextEncoding::Utf16Be, {}, "\xFE\xFF"},
    {"crlf", "a\r\nb", TextEncoding::SystemCodePage, {u"a", u"b"}, "a\r\nb\r\n"},
    {"lf only", "a\nb\n", TextEncoding::SystemCodePage, {u"a", u"b"}, "a\r\nb\r\n"},
    {"lone cr", "a\rb", TextEncoding::SystemCodePage, {u"a", u"b"}, "a\r\nb\r\n"},
    {"lf then cr", "a\n\rb", TextEncoding::SystemCodePage, {u"a", u"", u"b"}, "a\r\n\r\nb\r\n"},
    {"cr cr", "a\r\rb", TextEncoding::SystemCodePage, {u"a", u"", u"b"}, "a\r\n\r\nb\r\n"},
    {"one break only", "\r\n", TextEncoding::SystemCodePage, {u""}, "\r\n"},
    {"two breaks at the end", "a\n\n", TextEncoding::SystemCodePage, {u"a", u""}, "a\r\n\r\n"},
    {"nul in a line", "a\0b\n"s, TextEncoding::SystemCodePage, {u"a\0b"s}, "a\0b\r\n"s},
    {"utf8 text",
     "\xEF\xBB\xBF"
     "caf\xC3\xA9 \xF0\x9F\x97\xBA\n",
     TextEncoding::Utf8,
     {u"café \U0001F5FA"},
     "\xEF\xBB\xBF"
     "caf\xC3\xA9 \xF0\x9F\x97\xBA\r\n"},
    {"utf16le text",
     "\xFF\xFE"
     "a\0\xE9\0\n\0"s,
     TextEncoding::Utf16Le,
     {u"aé"},
     "\xFF\xFE"
     "a\0\xE9\0\r\0\n\0"s},
    {"utf16be text",
     "\xFE\xFF\0a\0\r\0\n\0b"s,
     TextEncoding::Utf16Be,
     {u"a", u"b"},
     "\xFE\xFF\0a\0\r\0\n\0b\0\r\0\n"s},
    {"utf16le odd last byte dropped",
     "\xFF\xFE"
     "a\0b"s,
     TextEncoding::Utf16Le,
     {u"a"},
     "\xFF\xFE"
     "a\0\r\0\n\0"s},
    {"utf16le nul first",
     "\xFF\xFE\0\0"s,
     TextEncoding::Utf16Le,
     {u"\0"s},
     "\xFF\xFE\0\0\r\0\n\0"s},
    {"utf16le lone surrogate kept",
     "\xFF\xFE\x00\xD8x\0"s,
     TextEncoding::Utf16Le,
     {u"\xD800x"},
     "\xFF\xFE\x00\xD8x\0\r\0\n\0"s},
    {"short mark is text",
     "\xEF\xBB",
     TextEncoding::SystemCodePage,
     {u"\u00EF\u00BB"},
     "\xEF\xBB\r\n"},
};

class RoundTripTest : public testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, LoadsLinesAndSavesThemBack) {
    const RoundTrip& row = GetParam();
    LineList list;
    list.LoadBytes(row.bytes);
    EXPECT_EQ(SavedLines(list), row.lines);
    EXPECT_EQ(list.SaveBytes(), row.saved);
    EXPECT_TRUE(row.saved.starts_with(ByteOrderMark(row.encoding)));
}

INSTANTIATE_TEST_SUITE_P(Texts, RoundTripTest, testing::ValuesIn(roundTrips), CaseName());

#ifndef _WIN32
// Without a mark the bytes go through Windows-1252, whose every byte maps to one character and
// back, the five unassigned ones included: such files come back byte for byte.
TEST(SystemCodePage, EveryByteComesBack) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            bytes.push_back(static_cast<char>(b));
        }
    }
    bytes += "\r\n";
    LineList list;
    list.LoadBytes(bytes);
    ASSERT_EQ(list.LineCount(), 1);
    const Text line = SavedLines(list).at(0);
    EXPECT_EQ(line[0x80 - 3], u'\u20AC');  // 0x80 is the euro sign (CR and LF left out before)
    EXPECT_EQ(line.find(u'\u0081'), 0x81u - 3);
    EXPECT_EQ(line.find(u'\u009D'), 0x9Du - 3);
    EXPECT_EQ(list.SaveBytes(), bytes);
}

TEST(SystemCodePage, Utf8WithoutMarkReadsByteByByte) {
    LineList list;
    list.LoadBytes("caf\xC3\xA9");
    EXPECT_EQ(SavedLines(list), Lines{u"caf\u00C3\u00A9"});
    EXPECT_EQ(list.SaveBytes(), "caf\xC3\xA9\r\n");
}

TEST(SystemCodePage, CharacterOutsideItIsWrittenAsDefault) {
    LineList list;
    list.InsertLine(0, u"\u0100\u20AC");
    EXPECT_EQ(list.SaveBytes(), "?\x80\r\n");
}
#endif

TEST(Encoding, InvalidBytesRaiseAndKeepTheLines) {
    const std::string invalid[] = {
        "\xFF\xFE"
        "a",  // one byte after a UTF-16 mark
        "\xFE\xFF"
        "a",  // the same, big-endian
        "\xEF\xBB\xBF"
        "a\xFF",  // a byte that is never UTF-8
        "\xEF\xBB\xBF"
        "\xC0\xAF",  // an overlong form
        "\xEF\xBB\xBF"
        "\xED\xA0\x80",  // an encoded surrogate
        "\xEF\xBB\xBF"
        "ok\xE2\x82",  // a sequence cut by the end of the file
        "\xEF\xBB\xBF"
        "a long ASCII run, then \xE2\x82\xAC\xC3\xA9 and an overlong \xC0\xAF",
        "\xEF\xBB\xBF"
        "a long ASCII run, then a surrogate \xED\xB0\x80 and more ASCII after it",
    };
    for (const std::string& bytes : invalid) {
        LineList list;
        list.LoadBytes("old");
        EXPECT_THROW(list.LoadBytes(bytes), EncodingError) << testing::PrintToString(bytes);
        EXPECT_EQ(list.LineCount(), 1);
        // Saved in the encoding of the mark that the failed load found.
        EXPECT_TRUE(list.SaveBytes().starts_with(bytes.substr(0, 2)));
        try {
            list.LoadBytes(bytes);
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.Message(),
                      u"Aucun mappage pour le caractère Unicode n'existe dans la page de code "
                      u"multi-octet cible");
        }
    }
}

// After a failed load the lines stay, and are saved in the encoding that the failed load detected.
TEST(Encoding, LinesKeptAfterAFailedLoadAreSavedInTheNewEncoding) {
    LineList list;
    list.LoadBytes("cafe\n");
    EXPECT_THROW(list.LoadBytes("\xFF\xFE"
                                "a"),
                 EncodingError);
    EXPECT_EQ(list.SaveBytes(),
              "\xFF\xFE"
              "c\0a\0f\0e\0\r\0\n\0"s);
}

TEST(Encoding, NeverLoadedListSavesInSystemCodePage) {
    LineList list;
    list.InsertLine(0, u"x");
    EXPECT_EQ(list.SaveBytes(), "x\r\n");
}

TEST(Lines, TextsAreStoredUnaltered) {
    LineList list;
    list.InsertLine(0, u" a\r\nb ");
    EXPECT_EQ(list.LineCount(), 1);
    EXPECT_EQ(list.SaveBytes(), " a\r\nb \r\n");
}

TEST(Lines, InsertAtCountAppends) {
    LineList list;
    list.LoadBytes("a\nb\n");
    list.InsertLine(2, u"c");
    list.InsertLine(0, u"z");
    EXPECT_EQ(SavedLines(list), (Lines{u"z", u"a", u"b", u"c"}));
}

struct EditCase {
    const char* name;
    std::string bytes;
    std::function<void(LineList&)> change;
    Lines lines;
    std::string saved;
};

std::size_t At(const std::string& bytes, const std::string& part) {
    return bytes.find(part);
}

// Changes are kept beside the loaded bytes; lines read and saved afterwards show them, wherever
// they fall: at an empty line, after a last line without break, on a changed or inserted line.
const EditCase editCases[] = {
    {"replace, then insert before the replaced line",
     "a\nb\nc",
     [](LineList& list) {
         list.ReplaceText(2, 3, list.AddText(u"B"));
         list.InsertLine(1, u"x");
     },
     {u"a", u"x", u"B", u"c"},
     "a\r\nx\r\nB\r\nc\r\n"},
    {"insert after a last line without break",
     "a\nb",
     [](LineList& list) { list.InsertLine(2, u"c"); },
     {u"a", u"b", u"c"},
     "a\r\nb\r\nc\r\n"},
    {"insert at an empty line",
     "a\n\nb",
     [](LineList& list) { list.InsertLine(1, u"x"); },
     {u"a", u"x", u"", u"b"},
     "a\r\nx\r\n\r\nb\r\n"},
    {"replace an empty line",
     "a\r\n\r\n",
     [](LineList& list) { list.ReplaceText(3, 3, list.AddText(u"z")); },
     {u"a", u"z"},
     "a\r\nz\r\n"},
    {"replace with an empty text keeps the line",
     "a\nb",
     [](LineList& list) { list.ReplaceText(2, 3, list.AddText(u"")); },
     {u"a", u""},
     "a\r\n\r\n"},
    {"insert before and after every line",
     "a\nb",
     [](LineList& list) {
         list.InsertLine(2, u"3");
         list.InsertLine(1, u"2");
         list.InsertLine(0, u"1");
         list.InsertLine(0, u"0");
     },
     {u"0", u"1", u"a", u"2", u"b", u"3"},
     "0\r\n1\r\na\r\n2\r\nb\r\n3\r\n"},
    {"loaded bytes replaced across lines join them",
     "<a>\r\n<e>1\r\n2\r\n3</e><f>\r\nz",
     [](LineList& list) {
         const std::string bytes = "<a>\r\n<e>1\r\n2\r\n3</e><f>\r\nz";
         list.ReplaceText(At(bytes, "<e>"), At(bytes, "<f>"), list.AddText(u"<E/>"));
     },
     {u"<a>", u"<E/><f>", u"z"},
     "<a>\r\n<E/><f>\r\nz\r\n"},
    {"a joined line, then a line inserted after it",
     "<e>\n</e>x\ny",
     [](LineList& list) {
         list.ReplaceText(0, 8, list.AddText(u"E"));
         list.InsertLine(1, u"i");
     },
     {u"Ex", u"i", u"y"},
     "Ex\r\ni\r\ny\r\n"},
    {"edits far apart and long, then a line inserted between them",
     std::string(20000, 'a') + "\n<e>" + std::string(300, 'b') + "\n</e>",
     [](LineList& list) {
         list.ReplaceText(20001, 20001 + 3 + 300 + 1 + 4, list.AddText(u"E"));
         list.InsertLine(1, u"i");
     },
     {Text(20000, u'a'), u"i", u"E"},
     std::string(20000, 'a') + "\r\ni\r\nE\r\n"},
    {"utf16 bytes replaced",
     "\xFF\xFE<\0e\0>\0\n\0x\0"s,
     [](LineList& list) { list.ReplaceText(0, 8, list.AddText(u"é")); },
     {u"éx"},
     "\xFF\xFE\xE9\0x\0\r\0\n\0"s},
};

class EditTest : public testing::TestWithParam<EditCase> {};

TEST_P(EditTest, LinesAndSavedBytesShowTheChanges) {
    const EditCase& row = GetParam();
    LineList list;
    list.LoadBytes(row.bytes);
    row.change(list);
    EXPECT_EQ(list.LineCount(), static_cast<std::int32_t>(row.lines.size()));
    EXPECT_EQ(SavedLines(list), row.lines);
    EXPECT_EQ(list.SaveBytes(), row.saved);
}

INSTANTIATE_TEST_SUITE_P(Changes, EditTest, testing::ValuesIn(editCases), CaseName());

TEST(Lines, SavesAsLoadedOnlyWhenNothingChanges) {
    const struct {
        std::string bytes;
        bool same;
    } cases[] = {
        {"a\r\nb\r\n", true},
        {"\xEF\xBB\xBF"
         "a\r\n",
         true},
        {"a\r\nb", false},         // the last break is added
        {"a\nb\r\n", false},       // LF becomes CR LF
        {"\xFF\xFEx\0y"s, false},  // the odd last byte is dropped
    };
    for (const auto& c : cases) {
        LineList list;
        list.LoadBytes(c.bytes);
        EXPECT_EQ(list.SavesAsLoaded(), c.same) << testing::PrintToString(c.bytes);
    }
    LineList list;
    list.LoadBytes("a\r\nb\r\n");
    list.ReplaceText(0, 1, list.AddText(u"a"));
    EXPECT_TRUE(list.SavesAsLoaded());
    list.ReplaceText(3, 4, list.AddText(u"c"));
    EXPECT_FALSE(list.SavesAsLoaded());
}

#ifndef TALVOR_SANITIZE
// A text of more lines than a line list counts is refused whole, and a list at that count takes
// no more. (Two gigabytes of line breaks: left to the optimised builds.)
TEST(Lines, MoreLinesThanTheLargestCountAreRefused) {
    if constexpr (sizeof(void*) < 8) {
        GTEST_SKIP() << "two gigabytes do not fit in a 32-bit process; the 64-bit builds run this";
    }
    std::string breaks(std::size_t{1} << 31, '\n');
    LineList list;
    list.LoadBytes("kept");
    try {
        list.LoadBytes(breaks);
        ADD_FAILURE() << "2^31 lines loaded";
    } catch (const TooManyLinesError& error) {
        EXPECT_EQ(error.Message(), u"Le fichier a trop de lignes (plus de 2147483647)");
    }
    EXPECT_EQ(SavedLines(list), Lines{u"kept"});
    breaks.pop_back();
    list.LoadBytes(breaks);
    EXPECT_EQ(list.LineCount(), std::numeric_limits<std::int32_t>::max());
    EXPECT_THROW(list.InsertLine(0, u"x"), TooManyLinesError);
    EXPECT_EQ(list.LineCount(), std::numeric_limits<std::int32_t>::max());
}
#endif

struct IndexCase {
    std::int32_t lines;
    std::int32_t index;
    const char16_t* message;
};

TEST(Lines, IndexErrorsNameIndexAndBound) {
    const IndexCase cases[] = {
        {2, -1, u"Index de liste hors limites (-1).  L'intervalle de LineList est 0..2"},
        {2, 3, u"Index de liste hors limites (3).  L'intervalle de LineList est 0..2"},
        {0, 4, u"Index de liste hors limites (4).  L'intervalle de LineList est 0..0"},
    };
    for (const IndexCase& c : cases) {
        LineList list;
        for (std::int32_t i = 0; i < c.lines; ++i) {
            list.InsertLine(i, u"line");
        }
        try {
            list.InsertLine(c.index, u"x");
            ADD_FAILURE() << c.index << " did not raise";
        } catch (const LineIndexError& error) {
            EXPECT_EQ(error.Message(), c.message) << c.index;
        }
        EXPECT_EQ(list.LineCount(), c.lines);
    }
}

// A large file is read and decoded in blocks: characters cut by a block's end must survive.
TEST(Blocks, CharactersAcrossBlockEndsSurvive) {
    std::string bytes = "\xEF\xBB\xBF";
    std::string expected = bytes;
    std::int32_t count = 0;
    while (bytes.size() < (9u << 20)) {
        const std::string line =
            "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x97\xBA" + std::to_string(bytes.size());
        bytes += line + "\n";
        expected += line + "\r\n";
        ++count;
    }
    TempFolder folder;
    WriteBytes(folder / "big.xml", bytes);
    LineList list;
    list.LoadFile(AsText(folder / "big.xml"));
    EXPECT_EQ(list.LineCount(), count);
    EXPECT_TRUE(list.SaveBytes() == expected);
}

// Lines that gain a CR are copied into the save's blocks as they are found: lines of every length
// around a vector, the room kept in a block and a block itself, lines longer than a block, and
// runs of empty lines longer than a block, in both widths of code unit.
TEST(Blocks, LinesGainTheirCrAcrossBlockEnds) {
    const std::size_t lengths[] = {1, 15, 16, 17, 4095, 4096, 4097, 65535, 65536, 65537, 300001};
    for (const bool utf16 : {false, true}) {
        std::string loaded;
        std::string expected;
        std::int32_t lines = 0;
        for (int round = 0; round < 3; ++round) {
            for (const std::size_t length : lengths) {
                const std::string line(length, static_cast<char>('a' + round));
                const char* const lineBreak = length % 2 == 0 ? "\r" : "\n";
                loaded += line + lineBreak;
                expected += line + "\r\n";
                ++lines;
            }
            loaded += std::string(200000, '\n');
            for (int empty = 0; empty < 200000; ++empty) {
                expected += "\r\n";
            }
            lines += 200000;
        }
        const auto widened = [utf16](const std::string& bytes) {
            std::string wide = utf16 ? "\xFF\xFE" : "\xEF\xBB\xBF";
            for (const char byte : bytes) {
                wide += byte;
                if (utf16) {
                    wide += '\0';
                }
            }
            return wide;
        };
        LineList list;
        list.LoadBytes(widened(loaded));
        EXPECT_EQ(list.LineCount(), lines) << utf16;
        EXPECT_TRUE(list.SaveBytes() == widened(expected)) << utf16;
    }
}

// A loaded text is checked in pieces of 256 KiB: a character, a broken sequence or a CR LF that
// straddles the end of a piece is taken as one.
TEST(Blocks, CharactersAndBreaksAcrossPieceEnds) {
    constexpr std::size_t piece = 256 << 10;
    const std::string mark = "\xEF\xBB\xBF";
    for (std::size_t before = 1; before <= 3; ++before) {
        LineList list;
        const std::string text = std::string(piece - before, 'a') + "\xE2\x82\xAC\r\nb\r\n";
        list.LoadBytes(mark + text);
        EXPECT_EQ(list.LineCount(), 2) << before;
        EXPECT_TRUE(list.SavesAsLoaded()) << before;
        const std::string broken = std::string(piece - before, 'a') + "\xE2\x82z";
        EXPECT_THROW(list.LoadBytes(mark + broken), EncodingError) << before;
    }
    LineList list;
    list.LoadBytes(mark + std::string(piece - 1, 'a') + "\r\nb\r\n");
    EXPECT_EQ(list.LineCount(), 2);
    EXPECT_TRUE(list.SavesAsLoaded());
    std::string utf16 = "\xFF\xFE";
    for (std::size_t i = 0; i < piece / 2 - 1; ++i) {
        utf16 += "a"s + '\0';
    }
    list.LoadBytes(utf16 + "\r\0\n\0b\0\r\0\n\0"s);
    EXPECT_EQ(list.LineCount(), 2);
    EXPECT_TRUE(list.SavesAsLoaded());
}

}  // namespace
