#include "Layout.h"

namespace e2e {

std::optional<ExpectedWindow> ExpectedAt(int dpi) {
    static const ExpectedWindow rows[] = {
        {96, {489, 172}, {168, 169}, {192, 139, 192 + 284, 139 + 25}},
        {120, {611, 215}, {210, 211}, {240, 174, 240 + 355, 174 + 31}},
        {144, {734, 258}, {252, 254}, {288, 209, 288 + 426, 209 + 37}},
    };
    for (const auto& row : rows) {
        if (row.dpi == dpi) {
            return row;
        }
    }
    return std::nullopt;
}

RECT Scaled(const RECT& at96, int dpi) {
    return {MulDiv(at96.left, dpi, 96), MulDiv(at96.top, dpi, 96), MulDiv(at96.right, dpi, 96),
            MulDiv(at96.bottom, dpi, 96)};
}

Areas AreasAt(int dpi, SIZE client) {
    const LONG right = client.cx;
    return {
        Scaled({0, 0, 169, 169}, dpi),
        Scaled({192, 0, 489, 21}, dpi),
        Scaled({192, 27, 489, 46}, dpi),
        Scaled({192, 48, 489, 67}, dpi),
        Scaled({192, 88, 489, 139}, dpi),
        Scaled({192, 139, 476, 164}, dpi),
        {Scaled({312, 0, 0, 0}, dpi).left, 0, right, Scaled({0, 0, 0, 21}, dpi).bottom},
    };
}

}  // namespace e2e
