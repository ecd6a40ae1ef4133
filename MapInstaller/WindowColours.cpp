#include "MapInstaller/WindowColours.h"

#include <algorithm>
#include <cmath>

namespace {

// One sRGB channel made linear.
double Linear(std::uint8_t channel) {
    const double value = channel / 255.0;
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double RelativeLuminance(Rgb colour) {
    return 0.2126 * Linear(colour.red) + 0.7152 * Linear(colour.green) +
           0.0722 * Linear(colour.blue);
}

}  // namespace

double ContrastRatio(Rgb first, Rgb second) {
    const double a = RelativeLuminance(first);
    const double b = RelativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

WindowColours ChooseWindowColours(const SystemColours& system) {
    if (system.highContrast || ContrastRatio(system.windowText, whiteRgb) < minimumTextContrast) {
        return {system.window, system.windowText};
    }
    return {whiteRgb, system.windowText};
}
