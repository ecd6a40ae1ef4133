#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "FileReplacementState.h"
#include "Platform_posix.h"
#include "PosixName.h"
#include "file/Backup.h"
#include "file/InPlaceRewrite.h"

namespace platform {
namespace {

// The named new file of a save in progress, for the interrupt handler to remove. Only the
// fallback where the file system cannot make a file without a name needs it.
struct PendingFile {
    volatile std::sig_atomic_t set = 0;
    int folder = -1;
    char name[64] = {};
};
PendingFile pending;

void OnInterrupt(int signal) {
    if (pending.set != 0) {
        unlinkat(pending.folder, pending.name, 0);
    }
    // End as the signal would have ended the process.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A short name that no file of the folder is likely to have; names are tried until one is free.
std::string CandidateName(unsigned attempt) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const auto clock = std::chrono::steady_clock::now().time_since_epoch().count();
    auto value = static_cast<unsigned long long>(clock) ^
                 (static_cast<unsigned long long>(getpid()) << 20) ^ (attempt * 0x9E3779B9ull);
    std::string name = ".talvor-";
    for (int i = 0; i < 6; ++i) {
        name.push_back(digits[value % 36]);
        value /= 36;
    }
    return name;
}
constexpr unsigned nameAttempts = 100;

// Whether the unnamed file `fd` can be given a name: through /proc, which some systems lack.
bool CanBeNamed(int fd) {
    struct stat direct {};
    struct stat throughProc {};
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return fstat(fd, &direct) == 0 && stat(proc.c_str(), &throughProc) == 0 &&
           direct.st_dev == throughProc.st_dev && direct.st_ino == throughProc.st_ino;
}

// Whether the file carries what a new file would not get: an access control list naming users or
// groups of its own, or attributes that its users gave it.
bool HasOwnAttributes(int fd) {
    std::string names(256, '\0');
    ssize_t length;
    while ((length = flistxattr(fd, names.data(), names.size())) < 0 && errno == ERANGE) {
        names.resize(names.size() * 2);
    }
    for (ssize_t at = 0; at < length;) {
        const std::string_view name(names.data() + at);
        // The mark of this program's backup is no attribute of the user's.
        if ((name.starts_with("user.") && name != "user.talvor-backup") ||
            name == "system.posix_acl_access") {
            return true;
        }
        at += static_cast<ssize_t>(name.size()) + 1;
    }
    return false;
}

// The system refuses to put a file in place of this one by renaming (a file mounted over itself,
// as a container's volume, or a folder that the system protects), although it may be written.
bool RenameRefused(ErrorCode code) {
    return code == EPERM || code == EBUSY || code == EXDEV;
}

}  // namespace

class PosixReplacement final : public FileReplacement::State {
  public:
    ErrorCode Open(TextView path) override;
    ErrorCode WriteNew(const char* data, std::size_t size, std::size_t& written) override;
    ErrorCode FlushNew() override;
    ErrorCode ReplaceTarget() override;
    void DropNew() override;
    ErrorCode WriteInPlace() override;
    Text BackupLeft() const override;
    Text FailedFolder() const override;

  private:
    Descriptor folder;       // the folder of the real file
    std::string folderPath;  // its full path
    std::string name;        // the real file's name in it
    Descriptor target;       // the real file, open for writing, when it exists
    struct stat targetInfo {};
    Descriptor fresh;          // the new file, when it takes the file's place
    std::string freshName;     // its name; empty while it has none
    std::string backupLeft;    // a backup of the old bytes that could not be put back
    std::string failedFolder;  // where the backup could not be made

    ErrorCode OpenTarget(const std::string& path);
    ErrorCode CheckUnchanged() const;
    ErrorCode CreateFresh();
    ErrorCode CreateNamed();
    std::string FreshName(unsigned attempt) const;
    void RemoveLeftover(const std::string& leftover) const;
    ErrorCode TakeOwnerAndMode(bool& possible);
    ErrorCode RenameOverTarget();
    ErrorCode TakeBackContent();
};

ErrorCode PosixReplacement::OpenTarget(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    folderPath = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        return EISDIR;
    }
    // A folder that may be searched but not read is opened as a path only; then its entries are
    // not forced to the disk after the replacement, which is not needed for it to happen.
    folder = Descriptor(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid() && errno == EACCES) {
        folder = Descriptor(open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder.Valid()) {
        return LastError();
    }
    struct stat info {};
    if (fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? noError : LastError();
    }
    if (!S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? EISDIR : ENOTSUP;
    }
    // A file without any write permission is read-only for everyone, root included, as the
    // read-only attribute is on Windows.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return EACCES;
    }
    // Readable too: a rewrite in place keeps a copy of the old bytes first.
    target = Descriptor(openat(folder.Get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!target.Valid()) {
        return LastError();
    }
    if (fstat(target.Get(), &targetInfo) != 0) {
        return LastError();
    }
    return noError;
}

// The name still names the file that was read, with its size and time of change.
ErrorCode PosixReplacement::CheckUnchanged() const {
    if (!asRead) {
        return noError;
    }
    struct stat now {};
    struct stat named {};
    if (fstat(target.Get(), &now) != 0) {
        return LastError();
    }
    if (fstatat(folder.Get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? fileChangedMeanwhile : LastError();
    }
    const bool same =
        StampOf(now) == *asRead && named.st_dev == now.st_dev && named.st_ino == now.st_ino;
    return same ? noError : fileChangedMeanwhile;
}

ErrorCode PosixReplacement::CreateFresh() {
    // Without a name until it takes the file's place, the new file cannot be left behind.
    fresh = Descriptor(openat(folder.Get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (fresh.Valid()) {
        if (CanBeNamed(fresh.Get())) {
            return noError;
        }
        fresh.Close();
        return CreateNamed();
    }
    // Kernels and file systems without unnamed files say so in one of these ways.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
        return CreateNamed();
    }
    return LastError();
}

ErrorCode PosixReplacement::CreateNamed() {
    bool leftoverRemoved = false;
    for (unsigned attempt = 0; attempt < nameAttempts;) {
        const std::string candidate = FreshName(attempt);
        // The interrupt handler knows the name as soon as the file exists, and only then.
        const InterruptsHeld held;
        fresh = Descriptor(
            openat(folder.Get(), candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fresh.Valid()) {
            freshName = candidate;
            candidate.copy(pending.name, sizeof pending.name - 1);
            pending.folder = folder.Get();
            pending.set = 1;
            return noError;
        }
        if (errno != EEXIST) {
            return LastError();
        }
        if (attempt == 0 && target.Valid() && !leftoverRemoved) {
            RemoveLeftover(candidate);
            leftoverRemoved = true;
            continue;
        }
        ++attempt;
    }
    return EEXIST;
}

// The name for the new file: first the one that belongs to the file replaced, which a killed save
// left at most, then (or for a file that does not exist yet) a name that no file of the folder is
// likely to have: another user may have made that one first, in a folder that all may write.
std::string PosixReplacement::FreshName(unsigned attempt) const {
    if (target.Valid() && attempt == 0) {
        return file::NewFileName({static_cast<std::uint64_t>(targetInfo.st_dev),
                                  static_cast<std::uint64_t>(targetInfo.st_ino), 0});
    }
    return CandidateName(attempt);
}

// The file's own new-file name is taken: by a save of it that was killed, since this one holds
// the lock that any other would hold.
void PosixReplacement::RemoveLeftover(const std::string& leftover) const {
    unlinkat(folder.Get(), leftover.c_str(), 0);
}

ErrorCode PosixReplacement::TakeOwnerAndMode(bool& possible) {
    possible = true;
    struct stat freshInfo {};
    if (fstat(fresh.Get(), &freshInfo) != 0) {
        return LastError();
    }
    if ((freshInfo.st_uid != targetInfo.st_uid || freshInfo.st_gid != targetInfo.st_gid) &&
        fchown(fresh.Get(), targetInfo.st_uid, targetInfo.st_gid) != 0) {
        // Not allowed, or an owner that this user namespace cannot name.
        if (errno == EPERM || errno == EINVAL) {
            possible = false;
            return noError;
        }
        return LastError();
    }
    // After the owner, which may clear the set-user and set-group bits.
    return fchmod(fresh.Get(), targetInfo.st_mode & 07777) == 0 ? noError : LastError();
}

void PosixReplacement::DropNew() {
    const InterruptsHeld held;
    if (!freshName.empty()) {
        unlinkat(folder.Get(), freshName.c_str(), 0);
        freshName.clear();
    }
    pending.set = 0;
    fresh.Close();
}

ErrorCode PosixReplacement::WriteInPlace() {
    // The file layer's handles on the same open file and folder, which keep their lock.
    file::SystemFolder where(
        std::make_unique<file::SystemFolder::Handle>(Descriptor(dup(folder.Get()))),
        AbsolutePath(folderPath));
    file::SystemFile profile(
        std::make_unique<file::SystemFile::Handle>(Descriptor(dup(target.Get()))),
        AbsolutePath(folderPath + "/" + name));
    try {
        file::RewriteInPlace(where, profile, content, [this] {
            if (const ErrorCode code = CheckUnchanged(); code != noError) {
                throw file::SystemError(code, {});
            }
        });
    } catch (const file::OldBytesKept& kept) {
        backupLeft = kept.Backup();
        return kept.Code();
    } catch (const file::BackupNotMade& notMade) {
        failedFolder = notMade.Concerned();
        return notMade.Code();
    } catch (const file::SystemError& error) {
        return error.Code();
    }
    return target.Close() == 0 ? noError : LastError();
}

ErrorCode PosixReplacement::RenameOverTarget() {
    const InterruptsHeld held;
    if (target.Valid()) {
        if (const ErrorCode code = CheckUnchanged(); code != noError) {
            return code;
        }
    }
    std::string placed = freshName;
    if (placed.empty()) {
        // A file without a name cannot replace another: it gets a name of its own first.
        const std::string proc = "/proc/self/fd/" + std::to_string(fresh.Get());
        for (unsigned attempt = 0; placed.empty() && attempt < nameAttempts; ++attempt) {
            const std::string candidate = FreshName(attempt);
            if (linkat(AT_FDCWD, proc.c_str(), folder.Get(), candidate.c_str(),
                       AT_SYMLINK_FOLLOW) == 0) {
                placed = candidate;
            } else if (errno != EEXIST) {
                return LastError();
            } else if (target.Valid()) {
                RemoveLeftover(candidate);
            }
        }
        if (placed.empty()) {
            return EEXIST;
        }
    }
    if (renameat(folder.Get(), placed.c_str(), folder.Get(), name.c_str()) != 0) {
        const ErrorCode code = LastError();
        unlinkat(folder.Get(), placed.c_str(), 0);
        freshName.clear();
        pending.set = 0;
        return code;
    }
    freshName.clear();
    pending.set = 0;
    fresh.Close();
    // The new entry of the folder to the disk too; a folder opened as a path only refuses, and
    // some file systems keep no folder to force.
    if (fsync(folder.Get()) != 0 && errno != EBADF && errno != EINVAL) {
        return LastError();
    }
    return noError;
}

// The new file's content, read back for a write in place; the new file goes.
ErrorCode PosixReplacement::TakeBackContent() {
    struct stat info {};
    if (fstat(fresh.Get(), &info) != 0) {
        return LastError();
    }
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    if (const ErrorCode code = ReadExactly(fresh.Get(), bytes.data(), bytes.size(), 0);
        code != noError) {
        return code;
    }
    content.Append(std::move(bytes));
    DropNew();
    return noError;
}

ErrorCode PosixReplacement::Open(TextView path) {
    std::string real = NameToBytes(path);
    if (const ErrorCode code = ResolveLinks(real); code != noError) {
        return code;
    }
    if (const ErrorCode code = OpenTarget(real); code != noError) {
        return code;
    }
    const bool exists = target.Valid();
    if (asRead && !exists) {
        return fileChangedMeanwhile;
    }
    if (exists) {
        // One save at a time; a read of this program waits for it too.
        if (const ErrorCode code = LockFile(target.Get(), LOCK_EX); code != noError) {
            return code;
        }
        if (const ErrorCode code = CheckUnchanged(); code != noError) {
            return code;
        }
        // A cut rewrite's bytes are no file to save over: its old bytes go back first, by the
        // recovery that begins every save.
        Text backup;
        if (const ErrorCode code = CheckNoCutRewrite(target.Get(), real, backup); code != noError) {
            backupLeft = NameToBytes(backup);
            return code;
        }
        // What the file is now that no other save can change it.
        if (fstat(target.Get(), &targetInfo) != 0) {
            return LastError();
        }
    }
    // Replacing one name of several would part it from the others; a new file would not have the
    // profile's own access list or attributes; in an append-only folder the new file's name could
    // never be removed.
    if (exists && (targetInfo.st_nlink > 1 || HasOwnAttributes(target.Get()) ||
                   file::AppendOnlyFolder(folder.Get()))) {
        inPlace = true;
        return noError;
    }
    const ErrorCode created = CreateFresh();
    if (exists && (created == EACCES || created == EPERM)) {
        inPlace = true;
        return noError;
    }
    if (created != noError) {
        return created;
    }
    if (exists) {
        bool possible = true;
        if (const ErrorCode code = TakeOwnerAndMode(possible); code != noError) {
            DropNew();
            return code;
        }
        if (!possible) {
            DropNew();
            inPlace = true;
        }
    }
    return noError;
}

ErrorCode PosixReplacement::WriteNew(const char* data, std::size_t size, std::size_t& written) {
    const ssize_t result = RetriedOnInterrupt([&] { return write(fresh.Get(), data, size); });
    written = result > 0 ? static_cast<std::size_t>(result) : 0;
    return result < 0 ? LastError() : noError;
}

ErrorCode PosixReplacement::FlushNew() {
    return Sync(fresh.Get());
}

ErrorCode PosixReplacement::ReplaceTarget() {
    ErrorCode code = RenameOverTarget();
    if (RenameRefused(code) && target.Valid()) {
        // The profile may still be written where it is.
        code = TakeBackContent();
        if (code == noError) {
            inPlace = true;
            code = WriteInPlace();
        }
    }
    return code;
}

Text PosixReplacement::BackupLeft() const {
    return NameFromBytes(backupLeft);
}

Text PosixReplacement::FailedFolder() const {
    return NameFromBytes(failedFolder);
}

std::unique_ptr<FileReplacement::State> NewReplacementState() {
    return std::make_unique<PosixReplacement>();
}

void RemoveNewFileOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_mask = file::EndingSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        // A signal that the process was started to ignore ends nothing: it stays ignored.
        struct sigaction current {};
        if (sigismember(&action.sa_mask, signal) == 1 &&
            sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace platform
