#include "SaveBackup_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "SaveBackupHeader.h"

namespace platform {
namespace {

using Header = SaveBackupHeader;
constexpr off_t dataOffset = saveBackupDataOffset;

// Whether the file `fd` holds exactly the `size` old bytes that `backup` keeps.
bool HoldsOldBytes(int fd, int backup, std::uint64_t size) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) != size) {
        return false;
    }
    std::vector<char> mine(1 << 20);
    std::vector<char> kept(1 << 20);
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t piece = size - at < mine.size() ? size - at : mine.size();
        if (pread(fd, mine.data(), piece, static_cast<off_t>(at)) != static_cast<ssize_t>(piece) ||
            pread(backup, kept.data(), piece, dataOffset + static_cast<off_t>(at)) !=
                static_cast<ssize_t>(piece) ||
            std::memcmp(mine.data(), kept.data(), piece) != 0) {
            return false;
        }
        at += piece;
    }
    return true;
}

std::uint64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// A name of the file's folder that belongs to the file `info` alone.
std::string NameFor(const char* kind, const struct stat& info) {
    char name[64];
    std::snprintf(name, sizeof name, ".talvor-%s-%llx-%llx", kind,
                  static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    return name;
}

std::string BackupName(const struct stat& info) {
    return NameFor("backup", info);
}

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] == '/' ? folder : "/tmp";
}

// The full path of the open file or folder `fd`, as the system names it now; empty when it
// cannot tell.
std::string PathOf(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::vector<char> path(4096);
    const ssize_t length = readlink(link.c_str(), path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size() || path[0] != '/') {
        return {};
    }
    return std::string(path.data(), static_cast<std::size_t>(length));
}

// The folder that holds the open file `fd`, with its last slash.
std::string FolderOf(int fd) {
    const std::string full = PathOf(fd);
    return full.empty() ? full : full.substr(0, full.rfind('/') + 1);
}

bool AppendOnly(int folder) {
    int flags = 0;
    return ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

// Copies `size` bytes from `from` at `fromOffset` to `to` at `toOffset`.
ErrorCode Copy(int from, off_t fromOffset, int to, off_t toOffset, std::uint64_t size) {
    std::vector<char> buffer;
    while (size > 0) {
        ssize_t moved = copy_file_range(from, &fromOffset, to, &toOffset, size, 0);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0 &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            // Between file systems that cannot copy for us: through memory.
            buffer.resize(1 << 20);
            const std::size_t piece = size < buffer.size() ? size : buffer.size();
            moved = pread(from, buffer.data(), piece, fromOffset);
            if (moved > 0) {
                for (ssize_t done = 0; done < moved;) {
                    const ssize_t written =
                        pwrite(to, buffer.data() + done, static_cast<std::size_t>(moved - done),
                               toOffset + done);
                    if (written < 0 && errno == EINTR) {
                        continue;
                    }
                    if (written <= 0) {
                        return written < 0 ? LastError() : EIO;
                    }
                    done += written;
                }
                fromOffset += moved;
                toOffset += moved;
            }
        }
        if (moved < 0) {
            return LastError();
        }
        if (moved == 0) {
            return EIO;  // the source is shorter than it said
        }
        size -= static_cast<std::uint64_t>(moved);
    }
    return noError;
}

// Puts the old content kept in `backup` back into `target`, and forces it to the disk.
ErrorCode PutBack(int backup, std::uint64_t size, int target) {
    if (const ErrorCode code = Copy(backup, dataOffset, target, 0, size); code != noError) {
        return code;
    }
    if (ftruncate(target, static_cast<off_t>(size)) != 0) {
        return LastError();
    }
    return fsync(target) == 0 ? noError : LastError();
}

ErrorCode WriteHeader(int fd, const Header& header) {
    if (pwrite(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
        return errno != 0 ? LastError() : EIO;
    }
    return fsync(fd) == 0 ? noError : LastError();
}

ErrorCode SyncFolder(int folder) {
    return fsync(folder) != 0 && errno != EINVAL ? LastError() : noError;
}

}  // namespace

ErrorCode SaveBackup::Create(int folder, int target, const struct stat& info) {
    name_ = BackupName(info);
    std::string where;
    // Beside the file, unless its folder refuses a new file or would never let it go.
    if (!AppendOnly(folder)) {
        file_ = Descriptor(openat(folder, name_.c_str(),
                                  O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    }
    if (file_.Valid()) {
        folder_ = Descriptor(dup(folder));
        where = PathOf(folder);
        where = where.empty() ? "./" : (where == "/" ? where : where + "/");
    } else {
        where = TemporaryFolder() + "/";
        folder_ = Descriptor(open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder_.Valid()) {
            return LastError();
        }
        file_ = Descriptor(openat(folder_.Get(), name_.c_str(),
                                  O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!file_.Valid()) {
            return LastError();
        }
    }
    path_ = where + name_;
    size_ = static_cast<std::uint64_t>(info.st_size);
    Header header;
    header.size = size_;
    header.began = Now();
    header.needed = 1;
    ErrorCode code = Copy(target, 0, file_.Get(), dataOffset, size_);
    if (code == noError) {
        code = fsync(file_.Get()) == 0 ? noError : LastError();
    }
    if (code == noError) {
        code = WriteHeader(file_.Get(), header);
    }
    if (code == noError) {
        code = SyncFolder(folder_.Get());
    }
    if (code != noError) {
        unlinkat(folder_.Get(), name_.c_str(), 0);
        path_.clear();
    }
    return code;
}

ErrorCode SaveBackup::Restore(int target) const {
    return PutBack(file_.Get(), size_, target);
}

void SaveBackup::Remove() {
    if (unlinkat(folder_.Get(), name_.c_str(), 0) == 0) {
        SyncFolder(folder_.Get());
    } else {
        // A backup that stays must not undo the new content at the next read.
        Header header;
        header.size = size_;
        WriteHeader(file_.Get(), header);
    }
    path_.clear();
}

std::string NewFileName(const struct stat& target) {
    return NameFor("new", target);
}

ErrorCode RecoverInterruptedSave(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return LastError();
    }
    const std::string beside = FolderOf(fd);
    // The new file of a save killed before it took the file's place: no save of this file runs
    // while the lock is held, so it is no one's.
    if (!beside.empty()) {
        unlink((beside + NewFileName(info)).c_str());
    }
    const std::string name = BackupName(info);
    std::string folders[] = {beside, TemporaryFolder() + "/"};
    for (const std::string& folderPath : folders) {
        if (folderPath.empty()) {
            continue;
        }
        const Descriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.Valid()) {
            continue;
        }
        const Descriptor backup(
            openat(folder.Get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!backup.Valid()) {
            continue;
        }
        // Whatever is done, it is done under the file's lock made exclusive.
        if (const ErrorCode code = LockFile(fd, LOCK_EX); code != noError) {
            return code;
        }
        Header header;
        struct stat now {};
        const bool complete =
            pread(backup.Get(), &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
            header.Complete();
        if (fstat(fd, &now) != 0) {
            return LastError();
        }
        const std::uint64_t changed =
            static_cast<std::uint64_t>(now.st_mtim.tv_sec) * 1000000000ull +
            static_cast<std::uint64_t>(now.st_mtim.tv_nsec);
        // A backup cut short was made before the file was touched, and one no longer needed after
        // the file had its new content; a file that holds its old bytes needs nothing either.
        if (complete && header.needed != 0 && !HoldsOldBytes(fd, backup.Get(), header.size)) {
            if (changed > header.began + LongestRewrite(header.size)) {
                // Changed since by another program: both stay for the user to compare.
                return interruptedSaveBackupLeft;
            }
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            const Descriptor writable(open(self.c_str(), O_WRONLY | O_CLOEXEC));
            if (!writable.Valid()) {
                return LastError();
            }
            if (const ErrorCode code = PutBack(backup.Get(), header.size, writable.Get());
                code != noError) {
                return code;
            }
        }
        unlinkat(folder.Get(), name.c_str(), 0);
        SyncFolder(folder.Get());
        if (const ErrorCode code = LockFile(fd, LOCK_SH); code != noError) {
            return code;
        }
    }
    return noError;
}

}  // namespace platform
