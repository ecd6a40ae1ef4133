#pragma once

// What the Windows files of the platform layer share.

#include <windows.h>

#include "Platform.h"
#include "WideText_win.h"

namespace platform {

inline ErrorCode LastError() {
    return static_cast<ErrorCode>(GetLastError());
}

// ReadFile and WriteFile take DWORD counts: larger blocks go through in pieces.
constexpr std::size_t ioPiece = 1 << 30;

// A file handle, closed when its owner goes.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        const bool closed = !Valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

ErrorCode StampOf(HANDLE file, FileStamp& stamp);

}  // namespace platform
