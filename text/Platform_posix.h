#pragma once

// What the POSIX files of the platform layer share.

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

#include "Platform.h"

namespace platform {

inline ErrorCode LastError() {
    return static_cast<ErrorCode>(errno);
}

// A file descriptor, closed when its owner goes.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closing reports the error that a delayed write may only show then.
    int Close() {
        const int result = fd_ >= 0 ? close(fd_) : 0;
        fd_ = -1;
        return result;
    }

  private:
    int fd_ = -1;
};

FileStamp StampOf(const struct stat& info);

// Takes the lock of the open file `fd`, shared (LOCK_SH) or exclusive (LOCK_EX), waiting up to
// half a minute for the holder to let it go; EWOULDBLOCK when it does not.
ErrorCode LockFile(int fd, int operation);

}  // namespace platform
