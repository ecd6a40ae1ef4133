#include "Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Codec.h"

namespace platform {
namespace {

std::string NativePath(TextView path) {
    return ToUtf8(path);
}

ErrorCode LastError() {
    return static_cast<ErrorCode>(errno);
}

std::string CurrentFolder() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return "/";
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// A descriptor closed when its owner goes.
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

}  // namespace

Text FullPath(TextView path) {
    const std::string native = NativePath(path);
    std::string joined =
        !native.empty() && native.front() == '/' ? native : CurrentFolder() + "/" + native;
    // Fold "." and ".." without resolving links, as Windows completes a path.
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find('/', start);
        if (end == std::string::npos) {
            end = joined.size();
        }
        const std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string full;
    for (const std::string& part : parts) {
        full += "/" + part;
    }
    const bool trailingSlash = !native.empty() && native.back() == '/' && !parts.empty();
    if (full.empty() || trailingSlash) {
        full += "/";
    }
    return FromUtf8(full);
}

Text SystemErrorText(ErrorCode code) {
    return FromUtf8(std::strerror(static_cast<int>(code)));
}

struct InputFile::Handle {
    Descriptor fd;
};

InputFile::InputFile() = default;
InputFile::~InputFile() = default;
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;

ErrorCode InputFile::Open(TextView path) {
    const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    handle_ = std::make_unique<Handle>(Handle{Descriptor(fd)});
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        handle_.reset();
        return EISDIR;
    }
    return noError;
}

ErrorCode InputFile::Size(std::uint64_t& size) const {
    struct stat info {};
    if (fstat(handle_->fd.Get(), &info) != 0) {
        return LastError();
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return noError;
}

ErrorCode InputFile::Read(char* buffer, std::size_t capacity, std::size_t& got) {
    ssize_t result;
    do {
        result = read(handle_->fd.Get(), buffer, capacity);
    } while (result < 0 && errno == EINTR);
    got = result > 0 ? static_cast<std::size_t>(result) : 0;
    return result < 0 ? LastError() : noError;
}

struct FileReplacement::State {
    std::string target;
    std::string temporary;  // empty when writing in place
    Descriptor fd;
    bool targetExists = false;
    mode_t targetMode = 0;
    bool committed = false;
};

FileReplacement::FileReplacement() : state_(std::make_unique<State>()) {}

FileReplacement::~FileReplacement() {
    if (!state_->committed && !state_->temporary.empty()) {
        state_->fd.Close();
        unlink(state_->temporary.c_str());
    }
}

ErrorCode FileReplacement::Open(TextView path) {
    State& s = *state_;
    s.target = NativePath(path);
    struct stat info {};
    if (stat(s.target.c_str(), &info) == 0) {
        s.targetExists = true;
        s.targetMode = info.st_mode;
        if (S_ISDIR(info.st_mode)) {
            return EISDIR;
        }
        // A file without any write permission is read-only for everyone, root included, as
        // the read-only attribute is on Windows.
        if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            return EACCES;
        }
        const int probe = open(s.target.c_str(), O_WRONLY | O_CLOEXEC);
        if (probe < 0) {
            return LastError();
        }
        close(probe);
    } else if (errno != ENOENT) {
        return LastError();
    }

    const std::size_t slash = s.target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : s.target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? s.target : s.target.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
        s.temporary = pattern;
        s.fd = Descriptor(fd);
        return noError;
    }
    // No new file can be made in the folder: write in place.
    const int inPlace = open(s.target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (inPlace < 0) {
        return LastError();
    }
    s.fd = Descriptor(inPlace);
    return noError;
}

ErrorCode FileReplacement::Write(const char* data, std::size_t size, std::size_t& written) {
    ssize_t result;
    do {
        result = write(state_->fd.Get(), data, size);
    } while (result < 0 && errno == EINTR);
    written = result > 0 ? static_cast<std::size_t>(result) : 0;
    return result < 0 ? LastError() : noError;
}

ErrorCode FileReplacement::Flush() {
    // fsync is refused on special files that keep nothing; closing reports a delayed write error.
    if (fsync(state_->fd.Get()) != 0 && errno != EINVAL) {
        return LastError();
    }
    return state_->fd.Close() == 0 ? noError : LastError();
}

ErrorCode FileReplacement::Commit() {
    State& s = *state_;
    if (!s.temporary.empty()) {
        if (s.targetExists && chmod(s.temporary.c_str(), s.targetMode & 07777) != 0) {
            return LastError();
        }
        if (rename(s.temporary.c_str(), s.target.c_str()) != 0) {
            return LastError();
        }
    }
    s.committed = true;
    return noError;
}

void PreferLargePages(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    // Only whole large pages inside the buffer can be given; the rest keeps small ones.
    constexpr std::uintptr_t largePage = 2 << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + largePage - 1) & ~(largePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(largePage - 1);
    if (begin < end) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)data, (void)size;
#endif
}

bool SystemCodePageIsUtf8() {
    return false;
}

bool ValidUtf8(std::string_view bytes) {
    return codec::ValidUtf8(bytes);
}

void DecodeUtf8(std::string_view bytes, Text& text) {
    codec::DecodeUtf8Strict(bytes, text);
}

void EncodeUtf8(TextView text, std::string& bytes) {
    codec::EncodeUtf8(text, bytes);
}

// Windows-1252 stands for the system code page here: a single-byte code page that maps every
// byte to a character and back, so that a file without a byte-order mark comes back byte for byte.
bool SystemCodePageRoundTrips() {
    return true;
}

void DecodeSystemCodePage(std::string_view bytes, Text& text) {
    codec::DecodeWindows1252(bytes, text);
}

void EncodeSystemCodePage(TextView text, std::string& bytes) {
    codec::EncodeWindows1252(text, bytes);
}

}  // namespace platform
