#pragma once

#include <windows.h>

#include <memory>

// What the application knows of its main window: an object that it owns and destroys at the end,
// the platform window that it shows, and the window's look at every key message before the
// message is dispatched. The window fills both in once its platform window exists.
class MainWindow {
  public:
    // True when the window has consumed the key, which then goes no further.
    using DialogKeyHook = bool (*)(MainWindow& window, const MSG& message);

    MainWindow() = default;
    virtual ~MainWindow() = default;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND PlatformWindow() const { return platformWindow_; }
    bool OfferDialogKey(const MSG& message) {
        return dialogKey_ != nullptr && dialogKey_(*this, message);
    }

  protected:
    void Attach(HWND platformWindow, DialogKeyHook dialogKey) {
        platformWindow_ = platformWindow;
        dialogKey_ = dialogKey;
    }

  private:
    HWND platformWindow_ = nullptr;
    DialogKeyHook dialogKey_ = nullptr;
};

// Creates the main window, hidden; raises an Error when the platform refuses it.
using MainWindowFactory = std::unique_ptr<MainWindow> (*)();
