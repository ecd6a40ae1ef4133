// Windows converts texts with int counts: a text of more code units or bytes than an int holds
// must convert whole and unchanged all the same, as it does on other systems.

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>

#include "text/Platform.h"

namespace {

// Code units of three bytes each in UTF-8, so many that the bytes pass INT_MAX while the units do
// not; with surrogate pairs astride every power of two where a conversion might cut its pieces.
constexpr std::size_t units = std::size_t{INT_MAX} / 3 + 1000;
constexpr int firstCut = 16;
constexpr int lastCut = 29;

Text LongText() {
    Text text(units, u'\u20AC');
    for (int power = firstCut; power <= lastCut; ++power) {
        const std::size_t at = (std::size_t{1} << power) - 1;
        text[at] = 0xD83D;
        text[at + 1] = 0xDE00;
    }
    return text;
}

TEST(LongText, Utf8BeyondIntCountsConvertsWholeBothWays) {
    if constexpr (sizeof(void*) < 8) {
        GTEST_SKIP() << "five gigabytes do not fit in a 32-bit process; the 64-bit build runs this";
    }
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    constexpr unsigned long long needed = 5ull << 30;
    if (!GlobalMemoryStatusEx(&memory) || memory.ullAvailPhys < needed) {
        GTEST_SKIP() << "needs 5 GiB of free memory, " << (memory.ullAvailPhys >> 20)
                     << " MiB are free";
    }
    std::string bytes;
    {
        const Text text = LongText();
        platform::EncodeUtf8(text, bytes);
    }
    // Each pair takes four bytes for its two units, each other unit three.
    constexpr std::size_t pairs = lastCut - firstCut + 1;
    ASSERT_EQ(bytes.size(), 3 * units - 2 * pairs);
    for (int power = firstCut; power <= lastCut; ++power) {
        const std::size_t pairsBefore = power - firstCut;
        const std::size_t at = 3 * ((std::size_t{1} << power) - 1) - 2 * pairsBefore;
        EXPECT_EQ(bytes.substr(at - 3, 10), "\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x82\xAC") << power;
    }
    EXPECT_TRUE(platform::ValidUtf8(bytes));
    Text back;
    platform::DecodeUtf8(bytes, back);
    bytes = std::string();
    EXPECT_TRUE(back == LongText());
}

}  // namespace
