#pragma once

// The colours that the main window paints in, as the system's current scheme decides them, and
// the brush of its background.

#include <windows.h>

#include "MapInstaller/WindowColours.h"
#include "win32/Handles.h"

class WindowPalette {
  public:
    // Reads the system's scheme. Raises Error when the platform refuses the brush.
    WindowPalette();

    // Reads the system's scheme again; true when the colours changed, the brush then being new.
    // Raises Error when the platform refuses the new brush; the old colours then stay.
    bool Refresh();

    HBRUSH Background() const { return background_.Get(); }
    COLORREF Text() const;

  private:
    WindowColours colours_;
    Brush background_;
};
