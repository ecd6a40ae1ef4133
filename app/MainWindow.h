#pragma once

#include <windows.h>

#include <memory>

// What the application knows of its main window: an object that it owns and destroys at the end,
// the platform window that it shows, and the window's look at every key message before the
// message is dispatched.
class MainWindow {
  public:
    MainWindow() = default;
    virtual ~MainWindow() = default;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    virtual HWND PlatformWindow() const = 0;
    // Offered each key message before it is dispatched; true when the window has consumed the
    // key, which then goes no further.
    virtual bool DialogKey(const MSG& message) = 0;
};

// Creates the main window, hidden; raises an Error when the platform refuses it.
using MainWindowFactory = std::unique_ptr<MainWindow> (*)();
