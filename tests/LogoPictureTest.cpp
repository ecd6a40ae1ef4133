#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

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

// The library's own decoding with its defaults, red, green and blue, rows unpadded: what the
// picture must show, value for value.
std::vector<std::uint8_t> DecodeToRgb(const std::vector<std::uint8_t>& jpeg) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
    std::vector<std::uint8_t> rgb(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgb.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return rgb;
}

TEST(LogoPicture, DecodesTheShippedLogoIntoBitmapRowsPixelForPixel) {
    const std::vector<std::uint8_t> jpeg = ReadFile(LOGO_JPEG_PATH);
    ASSERT_FALSE(jpeg.empty()) << LOGO_JPEG_PATH;
    const Picture picture = DecodeJpeg(jpeg);
    EXPECT_EQ(picture.size, logo);
    // Rows of a 24-bit bitmap, padded to four bytes: 490 * 3 = 1470 -> 1472.
    ASSERT_EQ(picture.stride, 1472u);
    ASSERT_EQ(picture.rows.size(), 1472u * 492u);

    // Blue, green, red: every pixel the library's red, green and blue in the bitmap's order.
    const std::vector<std::uint8_t> rgb = DecodeToRgb(jpeg);
    ASSERT_EQ(rgb.size(), 490u * 492u * 3u);
    int different = 0;
    for (std::size_t y = 0; y < 492; ++y) {
        for (std::size_t x = 0; x < 490; ++x) {
            const std::uint8_t* bgr = &picture.rows[y * 1472 + 3 * x];
            const std::uint8_t* expected = &rgb[(y * 490 + x) * 3];
            different += bgr[0] != expected[2] || bgr[1] != expected[1] || bgr[2] != expected[0];
        }
    }
    EXPECT_EQ(different, 0);
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
