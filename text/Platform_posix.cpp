#include "Platform.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Codec.h"
#include "CutRewriteCode.h"
#include "Platform_posix.h"
#include "PosixName.h"

namespace platform {
namespace {

std::string NativePath(TextView path) {
    return NameToBytes(path);
}

}  // namespace

Text ShownPath(const file::Path& path) {
    return NameFromBytes(path);
}

Text FullPath(TextView path) {
    const std::string native = NativePath(path);
    std::string joined = file::AbsolutePath(native);
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
    return NameFromBytes(full);
}

FileStamp StampOf(const struct stat& info) {
    const auto seconds = static_cast<std::uint64_t>(info.st_mtim.tv_sec);
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            seconds * 1000000000u + static_cast<std::uint64_t>(info.st_mtim.tv_nsec)};
}

ErrorCode ReadExactly(int fd, char* data, std::size_t size, off_t offset) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t result = RetriedOnInterrupt(
            [&] { return pread(fd, data + done, size - done, offset + static_cast<off_t>(done)); });
        if (result <= 0) {
            return result < 0 ? LastError() : EIO;
        }
        done += static_cast<std::size_t>(result);
    }
    return noError;
}

ErrorCode Sync(int fd) {
    return fsync(fd) != 0 && errno != EINVAL ? LastError() : noError;
}

ErrorCode ResolveLinks(std::string& path) {
    constexpr int maximumLinks = 40;
    for (int links = 0; links < maximumLinks; ++links) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return noError;
        }
        std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
        for (;;) {
            const ssize_t length = readlink(path.c_str(), target.data(), target.size());
            if (length < 0) {
                return LastError();
            }
            if (static_cast<std::size_t>(length) < target.size()) {
                target.resize(static_cast<std::size_t>(length));
                break;
            }
            // A link whose size the system does not know (those of /proc say 0) is read again.
            target.resize(target.size() * 2 + 64);
        }
        const std::size_t slash = path.rfind('/');
        path = target.starts_with('/') || slash == std::string::npos
                   ? target
                   : path.substr(0, slash + 1) + target;
    }
    return ELOOP;
}

ErrorCode LockFile(int fd, int operation) {
    return file::LockDescriptor(fd, operation == LOCK_EX);
}

Text SystemErrorText(ErrorCode code) {
    if (const TextView text = OwnErrorText(code); !text.empty()) {
        return Text(text);
    }
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
    const std::string native = NativePath(path);
    // A save that replaced the file while this read waited for its lock leaves the old file to
    // it: the name is opened again, to read what it names now.
    constexpr int maximumReplacements = 100;
    for (int replaced = 0; replaced < maximumReplacements; ++replaced) {
        // Not blocking, so that opening a pipe does not wait for a writer.
        Descriptor fd(open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.Valid()) {
            return LastError();
        }
        struct stat info {};
        if (fstat(fd.Get(), &info) != 0) {
            return LastError();
        }
        if (!S_ISREG(info.st_mode)) {
            return S_ISDIR(info.st_mode) ? EISDIR : ENOTSUP;
        }
        if (const ErrorCode code = LockFile(fd.Get(), LOCK_SH); code != noError) {
            return code;
        }
        struct stat named {};
        if (stat(native.c_str(), &named) == 0 && named.st_dev == info.st_dev &&
            named.st_ino == info.st_ino) {
            // The bytes of a rewrite cut short are not read as the file's: the next save puts
            // the old ones back first.
            std::string real = native;
            if (const ErrorCode code = ResolveLinks(real); code != noError) {
                return code;
            }
            if (const ErrorCode code = CheckNoCutRewrite(fd.Get(), real, backup_);
                code != noError) {
                return code;
            }
            handle_ = std::make_unique<Handle>(Handle{std::move(fd)});
            return noError;
        }
    }
    return fileChangedMeanwhile;
}

ErrorCode RecoverCutRewrite(TextView path, Text& backup) {
    std::string real = NativePath(path);
    if (const ErrorCode code = ResolveLinks(real); code != noError) {
        return code;
    }
    return CutRewriteCode(backup, [&real] { file::RecoverCutRewrite(real); });
}

ErrorCode CheckNoCutRewrite(int fd, const std::string& path, Text& backup) {
    return CutRewriteCode(backup, [fd, &path] {
        const file::SystemFile profile(
            std::make_unique<file::SystemFile::Handle>(Descriptor(dup(fd))), path);
        file::CheckNoCutRewrite(profile, path);
    });
}

ErrorCode InputFile::Stamp(FileStamp& stamp) const {
    struct stat info {};
    if (fstat(handle_->fd.Get(), &info) != 0) {
        return LastError();
    }
    stamp = StampOf(info);
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
    const ssize_t result =
        RetriedOnInterrupt([&] { return read(handle_->fd.Get(), buffer, capacity); });
    got = result > 0 ? static_cast<std::size_t>(result) : 0;
    return result < 0 ? LastError() : noError;
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
