#pragma once

// The backup that a rewrite in place keeps of a file's old bytes, and of its new ones, until the
// new bytes are on the disk (BackupRecord.h). It is made exclusively, never over a name that
// exists: beside the file where its folder takes a new file, else in the user's own folder of
// backups, which nobody else can enter. The file carries a mark naming it for as long as it is
// needed, so that any reader finds it whatever path it took to the file; where the file system
// keeps no marks, the backup's name, made from the file's identity, is looked for in both places.
//
// A backup is used only once it proves to be this file's: a regular file with one name, opened
// without following a link or waiting on a pipe, belonging to the caller or the file's owner,
// open to nobody the file is not open to, its record naming the file, its bodies whole and
// unchanged.

#include <optional>

#include "HeldBytes.h"
#include "System.h"

namespace file {

// A backup was found that may not be used: not this file's, not whole, open to others, or
// missing where the file's mark names it.
class UnusableBackup : public std::exception {
  public:
    explicit UnusableBackup(Path where) : where_(std::move(where)) {}
    const Path& Where() const noexcept { return where_; }
    const char* what() const noexcept override { return "a backup that may not be used"; }

  private:
    Path where_;
};

// A backup cut short before its record was written: the file's bytes never depended on it, since
// the record is on the disk before the file's first byte changes.
class UnfinishedBackup : public UnusableBackup {
  public:
    using UnusableBackup::UnusableBackup;
};

// No backup could be made in `Concerned()`, the folder that was to hold it.
class BackupNotMade : public SystemError {
  public:
    using SystemError::SystemError;
};

class Backup {
  public:
    // Keeps the old bytes of `profile` (open for reading and writing, its lock held) and the new
    // `content` in a new backup beside it in `folder`, or in the user's folder of backups where
    // `folder` refuses it; forces it to the disk and marks `profile` with its place. Nothing of
    // the profile's bytes changes. A SystemError names the folder that failed.
    static Backup Make(SystemFolder& folder, SystemFile& profile, const HeldBytes& content);
    // The backup of `profile` at `where`, once every check has passed; none when nothing is
    // there. Raises UnusableBackup, or UnfinishedBackup.
    static std::optional<Backup> Check(PathView where, const SystemFile& profile);

    // Removes what a save killed while it made a backup left at `where`: a file of the caller's
    // with one name; anything else there is somebody else's, and stays.
    static void RemoveLeftover(PathView where);

    const Path& Where() const { return where_; }
    const BackupRecord& Record() const { return record_; }
    // Reads the old or the new bytes it keeps.
    void ReadOld(std::uint64_t offset, std::span<char> bytes) const;
    void ReadNew(std::uint64_t offset, std::span<char> bytes) const;

    // Puts the old bytes back into `profile`, and forces them to the disk.
    void Restore(SystemFile& profile) const;
    // Takes the mark off `profile` and removes the backup, once the profile holds what it
    // should.
    void Remove(SystemFile& profile);

  private:
    Backup(SystemFile file, Path where) : file_(std::move(file)), where_(std::move(where)) {}
    void Fill(SystemFile& profile, const HeldBytes& content);

    SystemFile file_;
    Path where_;
    BackupRecord record_;
};

}  // namespace file
