#include "MapInstaller/FormLayout.h"

FormLayout DesignLayout() {
    return {
        .dpi = designDpi,
        .clientWidth = 489,
        .clientHeight = 172,
        .windowFontHeight = 12,
        .creditsFontHeight = 16,
        .logo = {0, 0, 169, 169},
        .label1 = {192, 0},
        .label2 = {192, 27},
        .label3 = {192, 46},
        .label4 = {192, 88},
        .button1 = {192, 139, 284, 25},
    };
}

FormLayout ScaleLayout(const FormLayout& layout, int dpi) {
    const int from = layout.dpi;
    return {
        .dpi = dpi,
        .clientWidth = MulDivRound(layout.clientWidth, dpi, from),
        .clientHeight = MulDivRound(layout.clientHeight, dpi, from),
        .windowFontHeight = MulDivRound(layout.windowFontHeight, dpi, from),
        .creditsFontHeight = MulDivRound(layout.creditsFontHeight, dpi, from),
        .logo = ScaleBounds(layout.logo, from, dpi),
        .label1 = ScalePosition(layout.label1, from, dpi),
        .label2 = ScalePosition(layout.label2, from, dpi),
        .label3 = ScalePosition(layout.label3, from, dpi),
        .label4 = ScalePosition(layout.label4, from, dpi),
        .button1 = ScaleBounds(layout.button1, from, dpi),
    };
}
