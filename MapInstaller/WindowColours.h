#pragma once

// Which colours the window paints in: white behind text in the system's window-text colour, as
// designed, unless that text would not stand out from white or the user asked for high contrast;
// then the user's own window and window-text colours, so that the text stays legible.

#include <cstdint>

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb whiteRgb{255, 255, 255};

// The contrast ratio of two sRGB colours as accessibility guidelines (WCAG 2) measure it: the
// lighter colour's relative luminance plus 0.05 over the darker one's plus 0.05, from 1 (the same
// colour) to 21 (black on white).
double ContrastRatio(Rgb first, Rgb second);

// Body text needs at least this ratio against its background to be read by most users with low
// vision.
inline constexpr double minimumTextContrast = 4.5;

// The system's colours that the window may take.
struct SystemColours {
    bool highContrast = false;
    Rgb window;
    Rgb windowText;

    friend bool operator==(const SystemColours&, const SystemColours&) = default;
};

struct WindowColours {
    Rgb background;
    Rgb text;

    friend bool operator==(const WindowColours&, const WindowColours&) = default;
};

WindowColours ChooseWindowColours(const SystemColours& system);
