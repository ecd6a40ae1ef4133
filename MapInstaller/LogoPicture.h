#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The logo: a JPEG decoded once into 24-bit pixels, and the rule that places it in its control.

struct Size {
    int width = 0;
    int height = 0;

    friend bool operator==(const Size&, const Size&) = default;
};

// The size at which a picture is drawn into a control whose top left corner it shares: its own
// size when it fits (never enlarged), else shrunk to the control keeping its proportions, each
// side truncated toward zero. Not centred: what the picture leaves of the control stays blank.
Size LogoDrawSize(Size picture, Size control);

// Decoded pixels laid out as the rows of a top-down 24-bit device-independent bitmap: blue, green,
// red, each row padded to a multiple of four bytes.
struct Picture {
    Size size;
    std::size_t stride = 0;
    std::vector<std::uint8_t> rows;
};

// Decodes a JPEG at full size with the decoder's default settings, its colours written straight
// in the bitmap's order. Raises Error with the decoder's message when the data is not a JPEG it
// can read.
Picture DecodeJpeg(std::span<const std::uint8_t> jpeg);
