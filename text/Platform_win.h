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

// Reads exactly `size` bytes at `offset`; fewer is an error. Moves the file's position.
ErrorCode ReadAt(HANDLE file, char* buffer, std::size_t size, std::uint64_t offset);
// Writes all of `bytes` at `offset`. Moves the file's position.
ErrorCode WriteAt(HANDLE file, std::string_view bytes, std::uint64_t offset);
// Makes the file `size` bytes long.
ErrorCode SetSize(HANDLE file, std::uint64_t size);

}  // namespace platform
