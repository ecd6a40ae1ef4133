#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "System_posix.h"

namespace file {

const SystemCode noSuchFile = ENOENT;
const SystemCode accessDenied = EACCES;
const SystemCode linkInTheWay = ELOOP;
const SystemCode shortFile = EIO;
const SystemCode inUse = EBUSY;

namespace {

// The mark: an attribute in the user's namespace, which the file's users may read.
constexpr const char* markName = "user.talvor-backup";

[[noreturn]] void Fail(const Path& concerned) {
    throw SystemError(static_cast<SystemCode>(errno), concerned);
}

struct stat Status(int fd, const Path& concerned) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        Fail(concerned);
    }
    return info;
}

std::string Hexadecimal(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

Path Joined(const Path& folder, PathView name) {
    return (folder == "/" ? folder : folder + "/") + Path(name);
}

// A folder of the user's that nobody else may enter, opened; with `create`, made if missing.
// Made first by somebody else, it is theirs: never used.
std::optional<SystemFolder> OwnFolder(const Path& path, bool create);

}  // namespace

struct EndingHeld::Saved {
    sigset_t previous;
};

namespace {

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

}  // namespace

Path AbsolutePath(const Path& path) {
    if (path.starts_with('/')) {
        return path;
    }
    return path == "." ? CurrentFolder() : Joined(CurrentFolder(), path);
}

SystemCode LockDescriptor(int fd, bool exclusive) {
    // Long enough for any save of this program to end; a holder that keeps it longer is stuck.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (flock(fd, operation) != 0) {
        // Some file systems have no locks: nothing to wait for there.
        if (errno == ENOLCK || errno == EOPNOTSUPP) {
            return 0;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() > deadline) {
            return static_cast<SystemCode>(errno);
        }
        usleep(10000);
    }
    return 0;
}

bool AppendOnlyFolder(int fd) {
    int flags = 0;
    return ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

FileFacts SystemFile::Facts() const {
    const int fd = handle_->fd.Get();
    const struct stat info = Status(fd, where_);
    FileFacts facts;
    facts.identity.volume = static_cast<std::uint64_t>(info.st_dev);
    facts.identity.file = static_cast<std::uint64_t>(info.st_ino);
    struct statx extended {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &extended) == 0 &&
        (extended.stx_mask & STATX_BTIME) != 0) {
        facts.identity.birth =
            static_cast<std::uint64_t>(extended.stx_btime.tv_sec) * 1000000000ull +
            extended.stx_btime.tv_nsec;
    }
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.modified = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000ull +
                     static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
    facts.links = static_cast<std::uint32_t>(info.st_nlink);
    facts.regular = S_ISREG(info.st_mode);
    facts.ownedByCaller = info.st_uid == geteuid();
    return facts;
}

void SystemFile::ReadAt(std::uint64_t offset, std::span<char> bytes) const {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t got = RetriedOnInterrupt([&] {
            return pread(handle_->fd.Get(), bytes.data() + done, bytes.size() - done,
                         static_cast<off_t>(offset + done));
        });
        if (got < 0) {
            Fail(where_);
        }
        if (got == 0) {
            throw SystemError(shortFile, where_);
        }
        done += static_cast<std::size_t>(got);
    }
}

void SystemFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = RetriedOnInterrupt([&] {
            return pwrite(handle_->fd.Get(), bytes.data() + done, bytes.size() - done,
                          static_cast<off_t>(offset + done));
        });
        if (put < 0) {
            Fail(where_);
        }
        // A write that makes no progress would never end.
        if (put == 0) {
            throw SystemError(EIO, where_);
        }
        done += static_cast<std::size_t>(put);
    }
}

void SystemFile::SetSize(std::uint64_t size) {
    if (RetriedOnInterrupt(
            [&] { return ftruncate(handle_->fd.Get(), static_cast<off_t>(size)); }) != 0) {
        Fail(where_);
    }
}

void SystemFile::Reserve(std::uint64_t size) {
    if (size == 0) {
        return;
    }
    if (const int code = posix_fallocate(handle_->fd.Get(), 0, static_cast<off_t>(size));
        code != 0) {
        throw SystemError(static_cast<SystemCode>(code), where_);
    }
}

void SystemFile::Sync() {
    // Special files that keep nothing refuse, and need not.
    if (fsync(handle_->fd.Get()) != 0 && errno != EINVAL) {
        Fail(where_);
    }
}

void SystemFile::Lock(bool exclusive) {
    if (const SystemCode code = LockDescriptor(handle_->fd.Get(), exclusive); code != 0) {
        throw SystemError(code, where_);
    }
}

bool SystemFile::KeptLike(const SystemFile& profile) const {
    const struct stat mine = Status(handle_->fd.Get(), where_);
    const struct stat theirs = Status(profile.handle_->fd.Get(), profile.where_);
    return (mine.st_uid == geteuid() || mine.st_uid == theirs.st_uid) &&
           (mine.st_mode & 0777 & ~(theirs.st_mode & 0777)) == 0;
}

MarkState SystemFile::ReadMark(Path& backup) const {
    std::vector<char> value(4096);
    const ssize_t length = fgetxattr(handle_->fd.Get(), markName, value.data(), value.size());
    if (length >= 0) {
        backup.assign(value.data(), static_cast<std::size_t>(length));
        return MarkState::Marked;
    }
    if (errno == ENODATA) {
        return MarkState::Unmarked;
    }
    if (errno == ENOTSUP) {
        return MarkState::NotKept;
    }
    Fail(where_);
}

void SystemFile::SetMark(const Path& backup) {
    if (fsetxattr(handle_->fd.Get(), markName, backup.data(), backup.size(), 0) != 0 &&
        errno != ENOTSUP) {
        Fail(where_);
    }
}

void SystemFile::RemoveMark() {
    if (fremovexattr(handle_->fd.Get(), markName) != 0 && errno != ENODATA && errno != ENOTSUP) {
        Fail(where_);
    }
}

Path SystemFolder::PathOf(PathView name) const {
    return Joined(where_, name);
}

bool SystemFolder::KeepsNamesForGood() const {
    return AppendOnlyFolder(handle_->fd.Get());
}

std::optional<SystemFile> SystemFolder::CreateExclusive(PathView name, const SystemFile& profile) {
    const Path owned(name);
    Descriptor fd(openat(handle_->fd.Get(), owned.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        if (errno == EACCES || errno == EPERM || errno == EROFS || errno == EEXIST) {
            return std::nullopt;
        }
        Fail(where_);
    }
    SystemFile made(std::make_unique<SystemFile::Handle>(std::move(fd)), PathOf(name));
    // A profile that its group shares is shared with its backup too, so that the group's next
    // reader can check it; a group that the user is no member of keeps it the user's alone.
    const struct stat info = Status(profile.Native().fd.Get(), profile.Where());
    const int madeFd = made.Native().fd.Get();
    if ((info.st_mode & 060) != 0) {
        const bool shared = fchown(madeFd, static_cast<uid_t>(-1), info.st_gid) == 0 &&
                            fchmod(madeFd, (info.st_mode & 0660) | 0600) == 0;
        if (!shared && errno != EPERM) {
            const int failure = errno;
            unlinkat(handle_->fd.Get(), owned.c_str(), 0);
            errno = failure;
            Fail(made.Where());
        }
    }
    return made;
}

void SystemFolder::Remove(PathView name) {
    if (unlinkat(handle_->fd.Get(), Path(name).c_str(), 0) != 0 && errno != ENOENT) {
        Fail(PathOf(name));
    }
}

void SystemFolder::Sync() {
    // A folder opened as a path only refuses, and some file systems keep no folder to force.
    if (fsync(handle_->fd.Get()) != 0 && errno != EBADF && errno != EINVAL) {
        Fail(where_);
    }
}

std::optional<SystemFile> OpenExisting(PathView path, Access access) {
    const Path owned(path);
    const int mode = access == Access::Read ? O_RDONLY : O_RDWR;
    Descriptor fd(open(owned.c_str(), mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        Fail(owned);
    }
    return SystemFile(std::make_unique<SystemFile::Handle>(std::move(fd)), AbsolutePath(owned));
}

SystemFolder OpenFolderOf(PathView path, Path& name) {
    const std::size_t slash = path.rfind('/');
    const Path folder =
        slash == PathView::npos ? "." : (slash == 0 ? "/" : Path(path.substr(0, slash)));
    name = slash == PathView::npos ? Path(path) : Path(path.substr(slash + 1));
    // A folder that may be searched but not read is opened as a path only: names may still be
    // made and removed in it, but not forced to the disk.
    Descriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid() && errno == EACCES) {
        fd = Descriptor(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd.Valid()) {
        Fail(folder);
    }
    return SystemFolder(std::make_unique<SystemFolder::Handle>(std::move(fd)),
                        AbsolutePath(folder));
}

namespace {

std::optional<SystemFolder> OwnFolder(const Path& path, bool create) {
    if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        Fail(path);
    }
    Descriptor fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) {
        if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR || errno == EACCES) {
            return std::nullopt;
        }
        Fail(path);
    }
    const struct stat info = Status(fd.Get(), path);
    if (info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        return std::nullopt;
    }
    return SystemFolder(std::make_unique<SystemFolder::Handle>(std::move(fd)), path);
}

}  // namespace

// ~/.local/state/talvor-backups where the user's entry in the password database names a home of
// the user's, which keeps it through a power cut; for a user without one,
// /var/tmp/talvor-backups-UID, which a restart keeps too.
std::optional<SystemFolder> OpenPrivateFolder(bool create) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && entry.pw_dir != nullptr && entry.pw_dir[0] == '/') {
        Path path = entry.pw_dir;
        struct stat home {};
        if (stat(path.c_str(), &home) == 0 && home.st_uid == geteuid()) {
            for (const char* part : {".local", "state"}) {
                path = Joined(path, part);
                if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
                    Fail(path);
                }
            }
            return OwnFolder(Joined(path, "talvor-backups"), create);
        }
    }
    return OwnFolder("/var/tmp/talvor-backups-" + std::to_string(geteuid()), create);
}

Path BackupName(const FileIdentity& identity) {
    return ".talvor-backup-" + Hexadecimal(identity.volume) + "-" + Hexadecimal(identity.file);
}

Path NewFileName(const FileIdentity& identity) {
    return ".talvor-new-" + Hexadecimal(identity.volume) + "-" + Hexadecimal(identity.file);
}

sigset_t EndingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGVTALRM, SIGPROF, SIGUSR1,
                             SIGUSR2, SIGPIPE, SIGXCPU, SIGIO, SIGPWR}) {
        sigaddset(&signals, signal);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        sigaddset(&signals, signal);
    }
    return signals;
}

EndingHeld::EndingHeld() : saved_(std::make_unique<Saved>()) {
    const sigset_t held = EndingSignals();
    sigprocmask(SIG_BLOCK, &held, &saved_->previous);
}

EndingHeld::~EndingHeld() {
    sigprocmask(SIG_SETMASK, &saved_->previous, nullptr);
}

}  // namespace file
