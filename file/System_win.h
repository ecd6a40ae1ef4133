#pragma once

// What the Windows code above the file layer may reach of it: the handles behind its files, and
// the lock that holds back the end of the process.

#include <windows.h>

#include "System.h"

namespace file {

// On Windows wchar_t and char16_t are both UTF-16 code units: a path is passed to the system's
// wide-character functions as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const Path& path) {
    return reinterpret_cast<const wchar_t*>(path.c_str());
}

inline Path FromWide(const wchar_t* text, std::size_t length) {
    return Path(reinterpret_cast<const char16_t*>(text), length);
}

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

struct SystemFile::Handle {
    FileHandle file;
};

// The folder, held open so that nobody renames or removes it meanwhile; names in it are made and
// removed by their paths.
struct SystemFolder::Handle {
    FileHandle folder;
};

// Waits for every step that holds EndingHeld to end, and keeps any other from starting, for the
// rest of the process: the console handler takes it before it ends the process, which then never
// cuts such a step short. Console events come on a thread of their own, so this is a lock; the
// thread that holds it may take it again.
void HoldEndingForGood();

}  // namespace file
