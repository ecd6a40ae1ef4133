#pragma once

// GoogleTest's customisation header, found before its own empty one (tests/CMakeLists.txt). The
// win32 thread model of MinGW's GCC 12 has no std::mutex, with which GoogleTest writes its
// Notification; this one is a Windows event. The rest of GoogleTest already uses Win32's own
// locks on Windows.

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
  public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

  private:
    HANDLE event_;
};

}  // namespace testing::internal
