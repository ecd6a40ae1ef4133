// POSIX file names are bytes: every name passes through a text and back unchanged.

#include <gtest/gtest.h>

#include "support/CaseName.h"
#include "text/PosixName.h"

namespace {

struct NameCase {
    std::string name;
    std::string bytes;
    Text text;
};

void PrintTo(const NameCase& row, std::ostream* out) {
    *out << row.name;
}

const NameCase nameCases[] = {
    {"ascii", "p.xml", u"p.xml"},
    {"utf8", "caf\xC3\xA9.xml", u"café.xml"},
    {"four_byte_utf8", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"replacement_character_itself", "caf\xEF\xBF\xBD", u"caf\uFFFD"},
    {"latin1_byte", "caf\xE9.xml", u"caf\xDCE9.xml"},
    {"cut_sequence", "\xE2\x82", u"\xDCE2\xDC82"},
    {"cut_sequence_before_ascii", "\xE2\x82x", u"\xDCE2\xDC82x"},
    {"overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
    {"encoded_surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
    {"beyond_u10ffff", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
    {"lone_continuation", "\x80", u"\xDC80"},
    {"ff", "\xFF", u"\xDCFF"},
};

class NameTest : public testing::TestWithParam<NameCase> {};

TEST_P(NameTest, PassesThroughATextUnchanged) {
    const NameCase& row = GetParam();
    EXPECT_EQ(NameFromBytes(row.bytes), row.text);
    EXPECT_EQ(NameToBytes(row.text), row.bytes);
}

INSTANTIATE_TEST_SUITE_P(Names, NameTest, testing::ValuesIn(nameCases), CaseName());

TEST(NameTest, SurrogateThatNoNameGivesBecomesTheReplacementCharacter) {
    EXPECT_EQ(NameToBytes(u"a\xD800"), "a\xEF\xBF\xBD");
    EXPECT_EQ(NameToBytes(u"a\xDC7F"), "a\xEF\xBF\xBD");
}

}  // namespace
