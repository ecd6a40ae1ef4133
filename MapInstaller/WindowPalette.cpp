#include "MapInstaller/WindowPalette.h"

#include "app/SystemError.h"

namespace {

Rgb ToRgb(COLORREF colour) {
    return {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

COLORREF ToColorRef(Rgb colour) {
    return RGB(colour.red, colour.green, colour.blue);
}

// Wine 8 always reports high contrast as off; the colours themselves still say when white would
// hide the text.
SystemColours CurrentSystemColours() {
    HIGHCONTRASTW highContrast{};
    highContrast.cbSize = sizeof(highContrast);
    const bool highContrastOn =
        SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(highContrast), &highContrast, 0) &&
        (highContrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
    return {highContrastOn, ToRgb(GetSysColor(COLOR_WINDOW)), ToRgb(GetSysColor(COLOR_WINDOWTEXT))};
}

Brush SolidBrush(Rgb colour) {
    Brush brush(CreateSolidBrush(ToColorRef(colour)));
    if (!brush) {
        RaiseLastSystemError();
    }
    return brush;
}

}  // namespace

WindowPalette::WindowPalette()
    : colours_(ChooseWindowColours(CurrentSystemColours())),
      background_(SolidBrush(colours_.background)) {}

bool WindowPalette::Refresh() {
    const WindowColours colours = ChooseWindowColours(CurrentSystemColours());
    if (colours == colours_) {
        return false;
    }
    background_ = SolidBrush(colours.background);
    colours_ = colours;
    return true;
}

COLORREF WindowPalette::Text() const {
    return ToColorRef(colours_.text);
}
