#pragma once

// Where the window's parts should be, at 96 DPI and scaled to the DPI of a run. Written out here
// by hand, not taken from the installer's code, so that a mistake there shows as a difference.

#include <windows.h>

#include <optional>

namespace e2e {

// Measured facts that the 96-DPI figures do not give by scaling: the client area and the logo's
// picture are rounded and truncated in their own ways.
struct ExpectedWindow {
    int dpi;
    SIZE client;
    SIZE picture;
    RECT button1;  // client coordinates
};

// The rows for 96, 120 and 144 DPI; nothing for another DPI.
std::optional<ExpectedWindow> ExpectedAt(int dpi);

// A rectangle given at 96 DPI, its edges scaled to `dpi` with MulDiv's rounding.
RECT Scaled(const RECT& at96, int dpi);

// Areas of the client (at 96 DPI) where each control's ink must appear and no other's can: the
// lines of Label2 and Label3 overlap by two pixels, so each band stops at the other's edge.
struct Areas {
    RECT logo;
    RECT label1;
    RECT label2;
    RECT label3;
    RECT label4;
    RECT button1;
    // White at the first paint whatever the font: right of "Credits :", above Button1.
    RECT blank;
};

Areas AreasAt(int dpi, SIZE client);

}  // namespace e2e
