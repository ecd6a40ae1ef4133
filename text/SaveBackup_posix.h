#pragma once

// The backup that a rewrite in place keeps of a file's old bytes, and of its new ones, until the
// new bytes are on the disk (file/BackupRecord.h). It is made exclusively, never over a name that
// exists: beside the file where its folder takes a new file, else in the user's own folder of
// backups, which nobody else can write. The file carries a mark naming it for as long as it is
// needed, so that any reader finds it whatever path it took to the file; where the file system
// keeps no marks, the backup's name, made from the file's identity, is looked for in both places.
//
// A backup is used only once it proves to be this file's: a regular file with one name, opened
// without following a link or waiting on a pipe, owned by the caller or the file's owner, open to
// nobody the file is not open to, its record naming the file, its bodies whole and unchanged.

#include <cstdint>
#include <string>

#include <sys/stat.h>

#include "HeldContent.h"
#include "Platform_posix.h"
#include "file/BackupRecord.h"

namespace platform {

class SaveBackup {
  public:
    // Keeps the old content of `target` (open for reading and writing, its lock held) and the
    // new `content` in a new backup beside it in `folder` (whose full path is `folderPath`) or in
    // the user's folder of backups, forces it to the disk and marks the target with its place.
    // Nothing of the target's bytes changes.
    ErrorCode Create(int folder, const std::string& folderPath, int target, const struct stat& info,
                     const HeldContent& content);
    // Puts the old content back into `target`, and forces it to the disk.
    ErrorCode Restore(int target) const;
    // Takes the mark off the target and removes the backup, once the target holds what it
    // should; the backup stays where that fails.
    ErrorCode Remove(int target);
    // Where the backup is, for a message; empty before it exists.
    const std::string& Path() const { return path_; }
    // The folder that the last failure of Create concerns.
    const std::string& FailedFolder() const { return failedFolder_; }

  private:
    Descriptor folder_;
    Descriptor file_;
    std::string name_;
    std::string path_;
    std::string failedFolder_;
    file::BackupRecord record_;

    ErrorCode MakeFile(int folder, const struct stat& info);
    ErrorCode Fill(int target, const HeldContent& content);
};

// The name that the new file of a save of the file `target` has in its folder while it is written,
// where the file system cannot make a file without a name, and for the moment between naming it
// and renaming it over the file (".talvor-new-DEVICE-INODE"). One name for each file: what a killed
// save left is found by the next save of the same file, which removes it.
std::string NewFileName(const struct stat& target);

// The identity of the open file, with its birth time where the file system keeps one.
file::FileIdentity IdentityOf(int fd);

// Whether the file carries the mark of a backup: an attribute of this program's, which tells
// nothing of what the file's users gave it.
bool IsBackupMark(std::string_view attributeName);

// A rewrite in place of the open file `fd` (the real file at `path`, links resolved) that was cut
// short: noError when there is none; cutRewritePending when there is, with `backup` its path;
// backupUnusable when the file's backup is missing or is not one that may be used, with `backup`
// what was found. Reads nothing of the file, writes nothing.
ErrorCode FindCutRewrite(int fd, const std::string& path, std::string& backup);

// Makes good a cut rewrite of the file at `path` (links followed), first of all in a save: puts
// the old bytes back unless the file holds the whole new ones, then removes the backup and the
// new file that a killed save left; changedAfterCutRewrite when the file holds neither, which
// leaves both. It holds the file's lock, exclusive, and the ending signals while it writes.
ErrorCode RecoverCutRewrite(const std::string& path, std::string& backup);

}  // namespace platform
