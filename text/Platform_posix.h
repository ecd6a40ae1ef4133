#pragma once

// What the POSIX files of the platform layer share.

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>

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

// Makes a system call again for as long as a signal interrupts it.
template <class Call>
auto RetriedOnInterrupt(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
}

// Writes all of `bytes` at `offset`; a write that makes no progress is an error.
ErrorCode WriteAll(int fd, std::string_view bytes, off_t offset);
// Reads exactly `size` bytes at `offset`; a file that ends before is an error.
ErrorCode ReadExactly(int fd, char* data, std::size_t size, off_t offset);
// Forces the file's bytes to the disk; special files that keep nothing refuse, and need not.
ErrorCode Sync(int fd);

// The path joined to the current folder where it is relative.
std::string AbsolutePath(const std::string& path);

// Follows symbolic links at the end of `path` until it names something that is not a link, or
// nothing; the folders on the way need not be resolved, since the file's name stays in them.
ErrorCode ResolveLinks(std::string& path);

// The signals that end the process by default and may be caught.
sigset_t EndingSignals();

// Holds the ending signals back for as long as it lives, so that a step that must not be cut
// short runs to its end first.
class InterruptsHeld {
  public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

  private:
    sigset_t previous_;
};

// Takes the lock of the open file `fd`, shared (LOCK_SH) or exclusive (LOCK_EX), waiting up to
// half a minute for the holder to let it go; EWOULDBLOCK when it does not.
ErrorCode LockFile(int fd, int operation);

}  // namespace platform
