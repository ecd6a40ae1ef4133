#pragma once

// The window's layout is given at 96 DPI and scaled to the monitor's DPI by these rules.

constexpr int designDpi = 96;

// value * numerator / denominator rounded to the nearest integer, halves away from zero, as the
// platform's MulDiv computes it; -1 when the denominator is 0 or the result does not fit in an int.
int MulDivRound(int value, int numerator, int denominator);

// A rectangle by its left and top edges and its size.
struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const Bounds&, const Bounds&) = default;
};

// The top left corner of something that sizes itself (a label).
struct Position {
    int left = 0;
    int top = 0;

    friend bool operator==(const Position&, const Position&) = default;
};

Position ScalePosition(const Position& position, int from, int to);

// Scales every edge, the right (left + width) and bottom (top + height) ones included, from DPI
// `from` to DPI `to`; width and height are the differences of the scaled edges, so neighbouring
// controls stay neighbours.
Bounds ScaleBounds(const Bounds& bounds, int from, int to);
