#include <gtest/gtest.h>

#include "MapInstaller/WindowColours.h"

namespace {

constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};

struct RatioCase {
    Rgb first;
    Rgb second;
    double ratio;
};

// Figures as the guidelines' own examples and common checkers give them, to two decimals. The
// greys on either side of 4.5 are the pair where a rounding or threshold mistake shows.
TEST(ContrastRatio, MatchesTheGuidelinesFigures) {
    const RatioCase cases[] = {
        {black, white, 21.0},
        {white, black, 21.0},
        {white, white, 1.0},
        {black, black, 1.0},
        {{0x76, 0x76, 0x76}, white, 4.54},
        {{0x77, 0x77, 0x77}, white, 4.48},
        {{255, 0, 0}, white, 4.00},
        {{0, 0, 255}, white, 8.59},
        {{255, 255, 0}, black, 19.56},
        {{0x59, 0x59, 0x59}, white, 7.00},
    };
    for (const RatioCase& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.first.red} << "," << int{c.first.green} << ","
                                        << int{c.first.blue} << " against " << int{c.second.red}
                                        << "," << int{c.second.green} << "," << int{c.second.blue});
        EXPECT_NEAR(ContrastRatio(c.first, c.second), c.ratio, 0.005);
    }
}

struct SchemeCase {
    const char* name;
    SystemColours system;
    WindowColours painted;
};

TEST(WindowColours, WhiteUnlessHighContrastOrTextThatWouldNotStandOutFromWhite) {
    constexpr Rgb beige{245, 245, 220};
    constexpr Rgb dark{32, 32, 32};
    constexpr Rgb lightGrey{0x77, 0x77, 0x77};
    constexpr Rgb darkGrey{0x76, 0x76, 0x76};
    constexpr Rgb ivory{255, 251, 240};
    const SchemeCase cases[] = {
        {"default scheme", {false, white, black}, {white, black}},
        {"a window colour of the user's own, with dark text",
         {false, beige, black},
         {white, black}},
        {"high-contrast black, flag reported (Windows)", {true, black, white}, {black, white}},
        {"high-contrast black, flag not reported (Wine)", {false, black, white}, {black, white}},
        {"high contrast with dark text on a light window", {true, ivory, black}, {ivory, black}},
        {"grey text just under 4.5 to 1 against white",
         {false, dark, lightGrey},
         {dark, lightGrey}},
        {"grey text just over 4.5 to 1 against white", {false, dark, darkGrey}, {white, darkGrey}},
    };
    for (const SchemeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ChooseWindowColours(c.system), c.painted);
    }
}

}  // namespace
