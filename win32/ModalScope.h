#pragma once

#include <windows.h>

#include <vector>

// The modality of the platform's dialogs and of the error box: while one is open, the other
// visible and enabled top-level windows of the thread are disabled; when it closes they are
// enabled again (those that still exist) and the owner is made the active window again.
class ModalScope {
  public:
    // Disables every top-level window of the calling thread that is visible, enabled and not
    // `owner`. `owner` may be null.
    explicit ModalScope(HWND owner);
    // Enables the disabled windows that still exist, then SetActiveWindow(owner) if it exists.
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    HWND owner_;
    std::vector<HWND> disabled_;
};
