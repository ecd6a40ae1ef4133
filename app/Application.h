#pragma once

// The application object: set up at start, the event loop on which every handler runs, and the
// orderly end of the process.

#include <windows.h>

#include "app/MainWindow.h"

// Posts the quit request with exit code 0 and returns at once.
void RequestTermination();

// The record of the application's focused window. Claims it for `window` and answers whether it
// named another window or none before: the window's activation handler runs only then.
bool ClaimFocusRecord(HWND window);
// A destroyed window leaves the record naming none.
void ReleaseFocusRecord(HWND window);

// The main routine: sets the application up, creates the main window with `createMainWindow`,
// shows it, runs the event loop until termination is requested, and ends the process with exit
// code 0.
[[noreturn]] void RunApplication(MainWindowFactory createMainWindow);

// The end of the process: the main window is destroyed, COM and OLE uninitialised, and the
// process exits with code 0. Also called straight from the end of the user's session, without
// going back to the event loop.
[[noreturn]] void EndApplication();
