#pragma once

// The Logo control: the maker's logo built into the executable (resource LOGO), decoded at its
// first paint and kept decoded.

#include <windows.h>

#include "MapInstaller/LogoPicture.h"
#include "app/DpiScaling.h"
#include "win32/Handles.h"

class LogoImage {
  public:
    // Draws the picture from the control's top left corner, shrunk to the control when it does
    // not fit; the rest of the control is left as it is.
    void Paint(HDC dc, const Bounds& control);

  private:
    void Load(HDC dc);

    Bitmap bitmap_;
    Size size_;
};
