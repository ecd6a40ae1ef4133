#include <gtest/gtest.h>

#include <string>

#include "MapInstaller/FormLayout.h"
#include "app/ApplicationTitle.h"
#include "app/DpiScaling.h"

namespace {

Text AsciiLowerCase(Text text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

struct TitleCase {
    const char16_t* path;
    const char16_t* title;
};

TEST(ApplicationTitle, FileNameUpToFirstFullStopLowerCasedAfterFirstCharacter) {
    const TitleCase cases[] = {
        {u"C:\\Users\\a\\Downloads\\Talvor_Skarnel_Installer.exe", u"Talvor_skarnel_installer"},
        {u"C:\\Setup\\INSTALL.EXE", u"Install"},
        {u"D:\\x.y\\Setup.V2.exe", u"Setup"},
        {u"C:\\tools\\NoExtension", u"Noextension"},
        {u"\\\\server\\share\\.hidden.exe", u""},
        {u"Relative.exe", u"Relative"},
        {u"C:\\folder\\", u""},
        {u"C:\\a\\tALVOR.exe", u"talvor"},
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(ApplicationTitleFromPath(c.path, AsciiLowerCase), c.title) << ToUtf8(c.path);
    }
}

TEST(ApplicationTitle, ReadsAPathLongerThanAnyFixedBuffer) {
    // A path of 600 characters: a 256-character buffer would cut it inside the folder names.
    Text path = u"\\\\?\\C:";
    while (path.size() < 580) {
        path += u"\\Dossier_tres_long";
    }
    path += u"\\Talvor_Skarnel_Installer.exe";
    ASSERT_GT(path.size(), 600u);
    EXPECT_EQ(ApplicationTitleFromPath(path, AsciiLowerCase), u"Talvor_skarnel_installer");
}

TEST(DpiScaling, MulDivRoundsHalvesAwayFromZero) {
    struct Row {
        int value, numerator, denominator, result;
    };
    const Row rows[] = {
        {169, 144, 96, 254},     // 253.5
        {489, 120, 96, 611},     // 611.25
        {139, 144, 96, 209},     // 208.5
        {-3, 1, 2, -2},          // -1.5
        {3, -1, 2, -2},          // -1.5
        {5, 3, -2, -8},          // -7.5
        {7, 0, 96, 0},           //
        {1, 1, 0, -1},           // no divisor
        {2147483647, 2, 1, -1},  // does not fit
        {2147483647, 96, 96, 2147483647},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(MulDivRound(r.value, r.numerator, r.denominator), r.result)
            << r.value << " * " << r.numerator << " / " << r.denominator;
    }
}

TEST(DpiScaling, SizesAreTheDifferencesOfScaledEdges) {
    // 192 + 284 = 476: the right edge 714 at 144 DPI, so the width is 714 - 288 = 426, not
    // MulDiv(284) = 426 by chance only; at 120 DPI the edges give 595 - 240 = 355.
    EXPECT_EQ(ScaleBounds({192, 139, 284, 25}, 96, 144), (Bounds{288, 209, 426, 37}));
    EXPECT_EQ(ScaleBounds({192, 139, 284, 25}, 96, 120), (Bounds{240, 174, 355, 31}));
    // Two edges that meet at 96 DPI still meet when scaled, whatever the rounding.
    const Bounds upper = ScaleBounds({0, 0, 10, 27}, 96, 125);
    const Bounds lower = ScaleBounds({0, 27, 10, 21}, 96, 125);
    EXPECT_EQ(upper.top + upper.height, lower.top);
}

TEST(FormLayout, ScalingToTheSameDpiChangesNothing) {
    EXPECT_EQ(ScaleLayout(DesignLayout(), 96), DesignLayout());
}

TEST(FormLayout, ScaledTo144And120Dpi) {
    const FormLayout at144 = ScaleLayout(DesignLayout(), 144);
    EXPECT_EQ(at144.dpi, 144);
    EXPECT_EQ(at144.clientWidth, 734);
    EXPECT_EQ(at144.clientHeight, 258);
    EXPECT_EQ(at144.logo, (Bounds{0, 0, 254, 254}));
    EXPECT_EQ(at144.button1, (Bounds{288, 209, 426, 37}));
    EXPECT_EQ(at144.creditsFontHeight, 24);
    EXPECT_EQ(at144.windowFontHeight, 18);
    EXPECT_EQ(at144.label3, (Position{288, 69}));

    const FormLayout at120 = ScaleLayout(DesignLayout(), 120);
    EXPECT_EQ(at120.clientWidth, 611);
    EXPECT_EQ(at120.clientHeight, 215);
    EXPECT_EQ(at120.logo, (Bounds{0, 0, 211, 211}));
    EXPECT_EQ(at120.windowFontHeight, 15);
    EXPECT_EQ(at120.creditsFontHeight, 20);
}

TEST(FormLayout, RescalingStartsFromTheCurrentDpi) {
    // A move from a 144-DPI monitor to a 120-DPI one scales the 144-DPI values, as the window
    // holds them, not the 96-DPI layout: the rounding of both steps shows.
    const FormLayout moved = ScaleLayout(ScaleLayout(DesignLayout(), 144), 120);
    EXPECT_EQ(moved.dpi, 120);
    EXPECT_EQ(moved.clientWidth, 612);  // 734 * 120 / 144 = 611.67, where 489 gives 611
    EXPECT_EQ(moved.logo, (Bounds{0, 0, 212, 212}));
    EXPECT_EQ(moved.button1, (Bounds{240, 174, 355, 31}));
}

TEST(Announcement, TwoLinesWithTheEnglishOneIndentedByFourSpaces) {
    EXPECT_EQ(announcement.size(), 107u);
    EXPECT_EQ(announcement.substr(0, 55), label4Caption);
    EXPECT_EQ(announcement.substr(55, 2), u"\r\n");
    EXPECT_EQ(announcement.substr(57), u"    The map will now be applied to your LX profile");
    EXPECT_NE(announcement.back(), u'\n');
}

}  // namespace
