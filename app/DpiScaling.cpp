#include "DpiScaling.h"

#include <climits>
#include <cstdint>

int MulDivRound(int value, int numerator, int denominator) {
    if (denominator == 0) {
        return -1;
    }
    std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const std::int64_t half = divisor / 2;
    const std::int64_t result =
        product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > INT_MAX || result < INT_MIN) {
        return -1;
    }
    return static_cast<int>(result);
}

Position ScalePosition(const Position& position, int from, int to) {
    return {MulDivRound(position.left, to, from), MulDivRound(position.top, to, from)};
}

Bounds ScaleBounds(const Bounds& bounds, int from, int to) {
    const int left = MulDivRound(bounds.left, to, from);
    const int top = MulDivRound(bounds.top, to, from);
    const int right = MulDivRound(bounds.left + bounds.width, to, from);
    const int bottom = MulDivRound(bounds.top + bounds.height, to, from);
    return {left, top, right - left, bottom - top};
}
