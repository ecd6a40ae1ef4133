#pragma once

#include <windows.h>

#include <memory>

// What the application knows of its main window: an object that it owns and destroys at the end,
// the platform window that it shows, which the window names once it exists, and the window's look
// at every key message before the message is dispatched.
class MainWindow {
  public:
    MainWindow() = default;
    virtual ~MainWindow() = default;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND PlatformWindow() const { return platformWindow_; }
    // Offered each key message before it is dispatched; true when the window has consumed the
    // key, which then goes no further. A window without keys of its own consumes none.
    virtual bool DialogKey(const MSG& /*message*/) { return false; }

  protected:
    void SetPlatformWindow(HWND window) { platformWindow_ = window; }

  private:
    HWND platformWindow_ = nullptr;
};

// Creates the main window, hidden; raises an Error when the platform refuses it.
using MainWindowFactory = std::unique_ptr<MainWindow> (*)();
