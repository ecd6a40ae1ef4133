#pragma once

// What the POSIX code above the file layer may reach of it: the descriptors behind its files and
// folders, and the signals that end a process.

#include <cerrno>
#include <csignal>
#include <utility>

#include <unistd.h>

#include "System.h"

namespace file {

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
    int Release() { return std::exchange(fd_, -1); }
    // Closing reports the error that a delayed write may only show then.
    int Close() {
        const int result = fd_ >= 0 ? close(fd_) : 0;
        fd_ = -1;
        return result;
    }

  private:
    int fd_ = -1;
};

struct SystemFile::Handle {
    explicit Handle(Descriptor descriptor) : fd(std::move(descriptor)) {}
    Descriptor fd;
};

struct SystemFolder::Handle {
    explicit Handle(Descriptor descriptor) : fd(std::move(descriptor)) {}
    Descriptor fd;
};

// Makes a system call again for as long as a signal interrupts it.
template <class Call>
auto RetriedOnInterrupt(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
}

// Takes the lock of the open file `fd`, exclusive or shared, waiting up to half a minute for the
// holder to let it go: 0, or the error (EWOULDBLOCK when it did not).
SystemCode LockDescriptor(int fd, bool exclusive);

// The folder `fd` only takes new names, and never lets one go (`chattr +a`).
bool AppendOnlyFolder(int fd);

// The path joined to the current folder where it is relative.
Path AbsolutePath(const Path& path);

// Every signal that ends the process and can be caught, but for those that report a fault of
// its own: requests (the terminal closing, Ctrl-C, quit, terminate), timers, the users' signals,
// a broken pipe, the processor-time limit, and the real-time signals.
sigset_t EndingSignals();

}  // namespace file
