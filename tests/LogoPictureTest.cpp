#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "MapInstaller/LogoPicture.h"
#include "text/Error.h"

namespace {

constexpr Size logo{490, 492};

TEST(LogoPlacement, ShrunkByTruncationNeverEnlargedNotCentred) {
    struct Row {
        int dpi;
        Size control;
        Size drawn;
    };
    const Row rows[] = {
        {96, {169, 169}, {168, 169}},   // 169 * 490 / 492 = 168.31
        {120, {211, 211}, {210, 211}},  // 210.14
        {144, {254, 254}, {252, 254}},  // 252.97: truncated, where rounding would give 253
        {288, {507, 507}, {490, 492}},  // fits: drawn at its own size
    };
    for (const Row& r : rows) {
        EXPECT_EQ(LogoDrawSize(logo, r.control), r.drawn) << r.dpi << " DPI";
    }
}

TEST(LogoPlacement, WidePicturesAndTightControls) {
    // Wider than high: the width fills the control first.
    EXPECT_EQ(LogoDrawSize({400, 200}, {100, 100}), (Size{100, 50}));
    // ...unless the height then overflows: then the height fills it.
    EXPECT_EQ(LogoDrawSize({400, 200}, {300, 100}), (Size{200, 100}));
    // A high picture in a low, wide control.
    EXPECT_EQ(LogoDrawSize({492, 490}, {169, 169}), (Size{169, 168}));
    EXPECT_EQ(LogoDrawSize({100, 300}, {20, 200}), (Size{20, 60}));
    // Square: height first, both sides equal.
    EXPECT_EQ(LogoDrawSize({300, 300}, {120, 200}), (Size{120, 120}));
    // Exactly the control's size is a fit.
    EXPECT_EQ(LogoDrawSize({169, 169}, {169, 169}), (Size{169, 169}));
}

std::vector<std::uint8_t> ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(LogoPicture, DecodesTheShippedLogoTo24BitPixels) {
    const std::vector<std::uint8_t> jpeg = ReadFile(LOGO_JPEG_PATH);
    ASSERT_FALSE(jpeg.empty()) << LOGO_JPEG_PATH;
    const Picture picture = DecodeJpeg(jpeg);
    EXPECT_EQ(picture.size, logo);
    EXPECT_EQ(picture.rgb.size(), 490u * 492u * 3u);

    // Rows of a 24-bit bitmap: blue, green, red, padded to four bytes (490 * 3 = 1470 -> 1472).
    const std::vector<std::uint8_t> rows = BitmapRows(picture);
    ASSERT_EQ(rows.size(), 1472u * 492u);
    const std::size_t x = 245;
    const std::size_t y = 300;
    EXPECT_EQ(rows[y * 1472 + 3 * x], picture.rgb[(y * 490 + x) * 3 + 2]);
    EXPECT_EQ(rows[y * 1472 + 3 * x + 2], picture.rgb[(y * 490 + x) * 3]);
}

TEST(LogoPicture, DataThatIsNoJpegRaisesTheDecodersMessage) {
    const std::vector<std::uint8_t> truncatedHeader{0xFF, 0xD8, 0xFF};
    const std::vector<std::uint8_t> text{'n', 'o', ' ', 'j', 'p', 'e', 'g'};
    for (const auto& bytes : {truncatedHeader, text}) {
        try {
            DecodeJpeg(bytes);
            ADD_FAILURE() << "decoded " << bytes.size() << " bytes";
        } catch (const Error& error) {
            EXPECT_FALSE(error.Message().empty());
        }
    }
}

}  // namespace
