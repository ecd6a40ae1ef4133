#pragma once

// What the application shows of itself wherever a window of its own is needed: its title, its
// icon and its hidden top-level window. Set up once at start by the application object; the
// error reporting and the windows read it.

#include <windows.h>

#include "text/Text.h"
#include "win32/Handles.h"

struct ApplicationIdentity {
    // Computed once at start from the executable's file name.
    Text title;
    // MAINICON, else the platform's standard application icon.
    HICON icon = nullptr;
    // Never shown: it owns the error box when no window of the application is active.
    Window hiddenWindow;
};

// Makes `identity` the one that the functions below read, for as long as it lives; null ends it.
void SetApplicationIdentity(const ApplicationIdentity* identity);

// Empty, null and null before start-up has made them.
const Text& ApplicationTitle();
HICON ApplicationIcon();
HWND ApplicationWindow();
