#include "SaveBackup_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "file/CutRewrite.h"

namespace platform {
namespace {

using file::BackupRecord;

constexpr const char* markName = "user.talvor-backup";
constexpr std::size_t pieceSize = 1 << 20;

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

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool AppendOnly(int folder) {
    int flags = 0;
    return ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

ErrorCode SyncFolder(int folder) {
    return fsync(folder) != 0 && errno != EINVAL ? LastError() : noError;
}

// A folder of the user's that nobody else may enter, opened; with `create`, made if missing.
ErrorCode OpenOwnFolder(const std::string& path, bool create, Descriptor& folder) {
    if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return LastError();
    }
    folder = Descriptor(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) {
        return LastError();
    }
    struct stat info {};
    if (fstat(folder.Get(), &info) != 0) {
        return LastError();
    }
    // Made first by somebody else, it is theirs: never used.
    return info.st_uid == geteuid() && (info.st_mode & 077) == 0 ? noError : EACCES;
}

// The user's own folder of backups, found from the user's identity, never from the environment
// (which another program may have set): ~/.local/state/talvor-backups, where the user's entry in
// the password database names a home, which keeps it through a power cut; for a user without one,
// /var/tmp/talvor-backups-UID, which a restart keeps too.
ErrorCode OpenPrivateFolder(bool create, std::string& path, Descriptor& folder) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && entry.pw_dir != nullptr && entry.pw_dir[0] == '/') {
        path = entry.pw_dir;
        struct stat home {};
        if (stat(path.c_str(), &home) == 0 && home.st_uid == geteuid()) {
            for (const char* part : {".local", "state"}) {
                path = Joined(path, part);
                if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
                    return LastError();
                }
            }
            path = Joined(path, "talvor-backups");
            return OpenOwnFolder(path, create, folder);
        }
    }
    path = "/var/tmp/talvor-backups-" + std::to_string(geteuid());
    return OpenOwnFolder(path, create, folder);
}

// Hands `use` the bytes of `fd` from `offset` on, `size` of them, a piece at a time.
template <class Use>
ErrorCode ForEachPieceOf(int fd, std::uint64_t offset, std::uint64_t size, Use use) {
    std::vector<char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(size, pieceSize)));
    for (std::uint64_t at = 0; at < size;) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, pieceSize));
        if (const ErrorCode code =
                ReadExactly(fd, piece.data(), length, static_cast<off_t>(offset + at));
            code != noError) {
            return code;
        }
        if (const ErrorCode code = use(std::string_view(piece.data(), length), at);
            code != noError) {
            return code;
        }
        at += length;
    }
    return noError;
}

// A backup found for the file `profile`: its record, once every check has passed.
struct CheckedBackup {
    Descriptor file;
    BackupRecord record;
};

ErrorCode OpenChecked(const std::string& path, int profile, CheckedBackup& backup) {
    // A pipe at that name would block the open for a writer, and a link lead anywhere.
    backup.file = Descriptor(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!backup.file.Valid()) {
        return LastError();
    }
    struct stat info {};
    struct stat profileInfo {};
    if (fstat(backup.file.Get(), &info) != 0 || fstat(profile, &profileInfo) != 0) {
        return LastError();
    }
    const bool trusted = S_ISREG(info.st_mode) && info.st_nlink == 1 &&
                         (info.st_uid == geteuid() || info.st_uid == profileInfo.st_uid) &&
                         (info.st_mode & 0777 & ~(profileInfo.st_mode & 0777)) == 0;
    BackupRecord& record = backup.record;
    if (!trusted || static_cast<std::uint64_t>(info.st_size) < sizeof record ||
        ReadExactly(backup.file.Get(), reinterpret_cast<char*>(&record), sizeof record, 0) !=
            noError ||
        !record.WellFormed() || !(record.profile == IdentityOf(profile)) ||
        record.End() != static_cast<std::uint64_t>(info.st_size)) {
        return backupUnusable;
    }
    file::Checksum checksum;
    file::AddRecord(checksum, record);
    if (ForEachPieceOf(backup.file.Get(), record.OldOffset(), record.End() - record.OldOffset(),
                       [&checksum](std::string_view bytes, std::uint64_t) {
                           checksum.Add(bytes);
                           return noError;
                       }) != noError ||
        checksum.Value() != record.checksum) {
        return backupUnusable;
    }
    return noError;
}

// What the file `profile` holds, told by the backup's old and new bytes.
ErrorCode Classify(int profile, const CheckedBackup& backup, file::CutRewriteState& state) {
    struct stat info {};
    if (fstat(profile, &info) != 0) {
        return LastError();
    }
    ErrorCode failure = noError;
    const auto source = [&failure](int fd, std::uint64_t base) {
        return [&failure, fd, base](std::uint64_t offset, std::span<char> bytes) {
            const ErrorCode code =
                ReadExactly(fd, bytes.data(), bytes.size(), static_cast<off_t>(base + offset));
            if (code != noError) {
                failure = code;
                std::fill(bytes.begin(), bytes.end(), '\0');
            }
        };
    };
    const BackupRecord& record = backup.record;
    state =
        file::ClassifyCutRewrite({source(profile, 0), static_cast<std::uint64_t>(info.st_size)},
                                 {source(backup.file.Get(), record.OldOffset()), record.oldSize},
                                 {source(backup.file.Get(), record.NewOffset()), record.newSize});
    return failure;
}

// The places where the file's backup is, or may be: the one that its mark names, or where the
// file system keeps no marks, its name beside the file and in the user's folder of backups.
// `marked` tells which.
ErrorCode BackupPlaces(int fd, const std::string& path, std::vector<std::string>& places,
                       bool& marked) {
    std::vector<char> value(4096);
    const ssize_t length = fgetxattr(fd, markName, value.data(), value.size());
    marked = length >= 0;
    if (marked) {
        places.emplace_back(value.data(), static_cast<std::size_t>(length));
        return noError;
    }
    const ErrorCode why = LastError();
    if (why != ENODATA && why != ENOTSUP) {
        return why;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return LastError();
    }
    // Where marks are kept, a file without one has no rewrite pending; a backup of its name is
    // what a save left when it was killed before it marked the file or after it took the mark
    // off, which only a save removes, once it has checked it.
    places.push_back(Joined(FolderOf(path), BackupName(info)));
    std::string privatePath;
    Descriptor privateFolder;
    const ErrorCode privateOpened = OpenPrivateFolder(false, privatePath, privateFolder);
    if (privateOpened == noError) {
        places.push_back(Joined(privatePath, BackupName(info)));
    } else if (privateOpened != ENOENT && privateOpened != EACCES) {
        return privateOpened;
    }
    return why == ENOTSUP ? noError : ENODATA;
}

// Whether the file has a mark, or a file stands at a place of its backup (`anything`): a look
// that writes nothing and takes no lock.
ErrorCode AnythingToRecover(int fd, const std::string& path, bool& anything) {
    std::vector<std::string> places;
    bool marked = false;
    if (const ErrorCode code = BackupPlaces(fd, path, places, marked);
        code != noError && code != ENODATA) {
        return code;
    }
    anything = marked;
    for (const std::string& place : places) {
        struct stat info {};
        if (lstat(place.c_str(), &info) == 0) {
            anything = true;
        } else if (errno != ENOENT) {
            return LastError();
        }
    }
    return noError;
}

ErrorCode RemoveBackupFile(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        return LastError();
    }
    const Descriptor folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.Valid() ? SyncFolder(folder.Get()) : noError;
}

// Finds the file's backup. noError with `found` empty when there is none to heed.
ErrorCode FindBackup(int fd, const std::string& path, bool leftoversToo, std::string& found,
                     CheckedBackup& backup) {
    std::vector<std::string> places;
    bool marked = false;
    ErrorCode code = BackupPlaces(fd, path, places, marked);
    const bool leftoversOnly = code == ENODATA;
    if (code != noError && !leftoversOnly) {
        return code;
    }
    if (leftoversOnly && !leftoversToo) {
        return noError;
    }
    for (const std::string& place : places) {
        code = OpenChecked(place, fd, backup);
        if (code == ENOENT && !marked) {
            continue;
        }
        if (leftoversOnly && code != noError) {
            // A backup that a save killed while it made it, unmarked and not whole, is the
            // caller's to remove; anything else there is somebody else's file, left alone.
            struct stat info {};
            if (code == backupUnusable && lstat(place.c_str(), &info) == 0 &&
                S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1) {
                if (const ErrorCode removed = RemoveBackupFile(place); removed != noError) {
                    return removed;
                }
            } else if (code != backupUnusable && code != EACCES) {
                return code;
            }
            continue;
        }
        found = place;
        return code == noError ? noError : backupUnusable;
    }
    return noError;
}

ErrorCode RemoveMark(int fd) {
    if (fremovexattr(fd, markName) != 0 && errno != ENODATA && errno != ENOTSUP) {
        return LastError();
    }
    return Sync(fd);
}

// The old bytes of the backup over the file's content, to the disk.
ErrorCode PutBack(int backup, const BackupRecord& record, int target) {
    if (const ErrorCode code = ForEachPieceOf(backup, record.OldOffset(), record.oldSize,
                                              [target](std::string_view bytes, std::uint64_t at) {
                                                  return WriteAll(target, bytes,
                                                                  static_cast<off_t>(at));
                                              });
        code != noError) {
        return code;
    }
    if (ftruncate(target, static_cast<off_t>(record.oldSize)) != 0) {
        return LastError();
    }
    return Sync(target);
}

}  // namespace

file::FileIdentity IdentityOf(int fd) {
    struct stat info {};
    file::FileIdentity identity;
    if (fstat(fd, &info) != 0) {
        return identity;
    }
    identity.volume = static_cast<std::uint64_t>(info.st_dev);
    identity.file = static_cast<std::uint64_t>(info.st_ino);
    struct statx extended {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &extended) == 0 &&
        (extended.stx_mask & STATX_BTIME) != 0) {
        identity.birth = static_cast<std::uint64_t>(extended.stx_btime.tv_sec) * 1000000000ull +
                         extended.stx_btime.tv_nsec;
    }
    return identity;
}

bool IsBackupMark(std::string_view attributeName) {
    return attributeName == markName;
}

ErrorCode SaveBackup::MakeFile(int folder, const struct stat& info) {
    name_ = BackupName(info);
    // Made exclusively, owner-only: a name that exists is never opened, whoever made it.
    const auto create = [this](int where) {
        return Descriptor(
            openat(where, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    };
    if (!AppendOnly(folder)) {
        file_ = create(folder);
        // Only a folder that refuses the name sends the backup elsewhere; a failing disk fails.
        if (!file_.Valid() && errno != EACCES && errno != EPERM && errno != EROFS &&
            errno != EEXIST) {
            return LastError();
        }
    }
    if (file_.Valid()) {
        folder_ = Descriptor(dup(folder));
    } else {
        std::string privatePath;
        if (const ErrorCode code = OpenPrivateFolder(true, privatePath, folder_); code != noError) {
            failedFolder_ = privatePath;
            return code;
        }
        file_ = create(folder_.Get());
        if (!file_.Valid()) {
            failedFolder_ = privatePath;
            return LastError();
        }
        path_ = Joined(privatePath, name_);
    }
    // A profile that its group shares is shared with its backup too, so that the group's next
    // reader can check it; never wider than the profile, and settled before a byte is in it.
    if ((info.st_mode & 060) != 0) {
        // A group that the user is no member of keeps the backup the user's alone.
        if (fchown(file_.Get(), static_cast<uid_t>(-1), info.st_gid) == 0) {
            if (fchmod(file_.Get(), (info.st_mode & 0660) | 0600) != 0) {
                return LastError();
            }
        } else if (errno != EPERM) {
            return LastError();
        }
    }
    return noError;
}

ErrorCode SaveBackup::Create(int folder, const std::string& folderPath, int target,
                             const struct stat& info, const HeldContent& content) {
    if (const ErrorCode code = MakeFile(folder, info); code != noError) {
        return code;
    }
    if (path_.empty()) {
        path_ = Joined(folderPath, name_);
    }
    ErrorCode code = Fill(target, content);
    if (code == noError) {
        code = SyncFolder(folder_.Get());
    }
    if (code == noError) {
        // The mark names the backup for every reader, whatever path it takes to the file.
        if (fsetxattr(target, markName, path_.data(), path_.size(), 0) != 0 && errno != ENOTSUP) {
            code = LastError();
        } else {
            code = Sync(target);
        }
    }
    if (code != noError) {
        RemoveMark(target);
        unlinkat(folder_.Get(), name_.c_str(), 0);
        failedFolder_ = FolderOf(path_);
        path_.clear();
    }
    return code;
}

// The bodies first and the record last: a backup cut short has no record, and is none.
ErrorCode SaveBackup::Fill(int target, const HeldContent& content) {
    struct stat info {};
    if (fstat(target, &info) != 0) {
        return LastError();
    }
    record_.profile = IdentityOf(target);
    record_.oldSize = static_cast<std::uint64_t>(info.st_size);
    record_.newSize = content.Size();
    file::Checksum checksum;
    file::AddRecord(checksum, record_);
    const int backup = file_.Get();
    ErrorCode code =
        ForEachPieceOf(target, 0, record_.oldSize, [&](std::string_view bytes, std::uint64_t at) {
            checksum.Add(bytes);
            return WriteAll(backup, bytes, static_cast<off_t>(record_.OldOffset() + at));
        });
    if (code == noError) {
        code =
            content.ForEachPiece(0, content.Size(), [&](std::string_view bytes, std::uint64_t at) {
                checksum.Add(bytes);
                return WriteAll(backup, bytes, static_cast<off_t>(record_.NewOffset() + at));
            });
    }
    if (code == noError) {
        code = Sync(backup);
    }
    if (code == noError) {
        record_.checksum = checksum.Value();
        code = WriteAll(
            backup, std::string_view(reinterpret_cast<const char*>(&record_), sizeof record_), 0);
    }
    return code == noError ? Sync(backup) : code;
}

ErrorCode SaveBackup::Restore(int target) const {
    return PutBack(file_.Get(), record_, target);
}

ErrorCode SaveBackup::Remove(int target) {
    if (const ErrorCode code = RemoveMark(target); code != noError) {
        return code;
    }
    const ErrorCode code =
        unlinkat(folder_.Get(), name_.c_str(), 0) == 0 ? SyncFolder(folder_.Get()) : LastError();
    if (code == noError) {
        path_.clear();
    }
    return code;
}

std::string NewFileName(const struct stat& target) {
    return NameFor("new", target);
}

ErrorCode FindCutRewrite(int fd, const std::string& path, std::string& backup) {
    CheckedBackup found;
    if (const ErrorCode code = FindBackup(fd, path, false, backup, found);
        code != noError || backup.empty()) {
        return code;
    }
    file::CutRewriteState state{};
    if (const ErrorCode code = Classify(fd, found, state); code != noError) {
        return code;
    }
    // A rewrite cut before its first byte or after its last leaves nothing to put back: the file
    // may be read as it is, and the next save removes the backup.
    switch (state) {
        case file::CutRewriteState::Old:
        case file::CutRewriteState::New:
            backup.clear();
            return noError;
        case file::CutRewriteState::Cut:
            return cutRewritePending;
        case file::CutRewriteState::Changed:
            return changedAfterCutRewrite;
    }
    return noError;
}

ErrorCode RecoverCutRewrite(const std::string& path, std::string& backup) {
    std::string real = path;
    if (const ErrorCode code = ResolveLinks(real); code != noError) {
        return code;
    }
    // What is missing or may not be read has nothing to recover; the save says why it cannot
    // be read.
    Descriptor fd(open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        return errno == ENOENT || errno == EACCES || errno == ENOTDIR ? noError : LastError();
    }
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0) {
        return LastError();
    }
    if (!S_ISREG(info.st_mode)) {
        return noError;
    }
    // Most saves find nothing to recover, and take no lock for it; what a look finds is looked
    // for again under the lock, exclusive from the start: no save runs while the backup is
    // checked and used.
    bool anything = false;
    if (const ErrorCode code = AnythingToRecover(fd.Get(), real, anything);
        code != noError || !anything) {
        return code;
    }
    if (const ErrorCode code = LockFile(fd.Get(), LOCK_EX); code != noError) {
        return code;
    }
    struct stat named {};
    if (stat(real.c_str(), &named) != 0 || named.st_dev != info.st_dev ||
        named.st_ino != info.st_ino) {
        return fileChangedMeanwhile;
    }
    // The new file of a save killed before it took the file's place: no save of this file runs
    // while the lock is held, so it is no one's.
    if (unlink(Joined(FolderOf(real), NewFileName(info)).c_str()) != 0 && errno != ENOENT &&
        errno != EPERM && errno != EACCES) {
        return LastError();
    }

    CheckedBackup found;
    if (const ErrorCode code = FindBackup(fd.Get(), real, true, backup, found);
        code != noError || backup.empty()) {
        return code;
    }
    file::CutRewriteState state{};
    if (const ErrorCode code = Classify(fd.Get(), found, state); code != noError) {
        return code;
    }
    if (state == file::CutRewriteState::Changed) {
        return changedAfterCutRewrite;
    }
    // Cut short, the restore is made again from the start by the next save: what it leaves is a
    // cut rewrite too.
    const InterruptsHeld held;
    if (state == file::CutRewriteState::Cut) {
        const Descriptor writable(open(real.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat same {};
        if (!writable.Valid() || fstat(writable.Get(), &same) != 0) {
            return LastError();
        }
        if (same.st_dev != info.st_dev || same.st_ino != info.st_ino) {
            return fileChangedMeanwhile;
        }
        if (const ErrorCode code = PutBack(found.file.Get(), found.record, writable.Get());
            code != noError) {
            return code;
        }
    }
    const Descriptor writable(open(real.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (const ErrorCode code = RemoveMark(writable.Valid() ? writable.Get() : fd.Get());
        code != noError) {
        return code;
    }
    const ErrorCode code = RemoveBackupFile(backup);
    if (code == noError) {
        backup.clear();
    }
    return code;
}

}  // namespace platform
