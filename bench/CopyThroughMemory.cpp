// The least that a program does to rewrite a file whose every byte it must look at: it reads the
// whole file into memory as talvor-apply does (one buffer, large pages asked for), writes the
// bytes unchanged to a new file beside it, flushes that file, renames it over the old one and
// flushes the folder. `cp` copies inside the kernel and never brings the bytes into a program, so
// the benchmark times this too, as the floor for a program that reads what it writes.
// Usage: copy_through_memory FILE

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

bool Fail(const char* what) {
    std::perror(what);
    return false;
}

// Reads up to `size` bytes; `got` tells how many came, fewer when the file shrank meanwhile.
bool ReadAll(int fd, char* data, std::size_t size, std::size_t& got) {
    for (got = 0; got < size;) {
        const ssize_t part = read(fd, data + got, size - got);
        if (part == 0) {
            break;
        }
        if (part < 0) {
            return Fail("read");
        }
        got += static_cast<std::size_t>(part);
    }
    return true;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put < 0) {
            return Fail("write");
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool Rewrite(const std::string& path) {
    const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (in < 0 || fstat(in, &status) != 0) {
        return Fail("open");
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    const auto data = std::make_unique_for_overwrite<char[]>(size);
    constexpr std::uintptr_t largePage = 2 << 20;
    const auto begin =
        (reinterpret_cast<std::uintptr_t>(data.get()) + largePage - 1) & ~(largePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data.get()) + size) & ~(largePage - 1);
    if (begin < end) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    std::size_t got = 0;
    const bool read = ReadAll(in, data.get(), size, got);
    close(in);
    if (!read) {
        return false;
    }
    const std::string temporary = path + ".copy";
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        return Fail("open");
    }
    const bool written = WriteAll(out, data.get(), got) && (fsync(out) == 0 || Fail("fsync"));
    close(out);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        if (written) {
            std::perror("rename");
        }
        unlink(temporary.c_str());
        return false;
    }
    const std::string folder =
        path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: copy_through_memory FILE\n", stderr);
        return 2;
    }
    return Rewrite(argv[1]) ? 0 : 1;
}
