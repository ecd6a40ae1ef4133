#pragma once

// The old bytes of a file that is rewritten in place, kept in a file of their own until the new
// bytes are on the disk: beside the file where its folder takes a new file (the same disk, which
// keeps it through a power cut), else in the user's temporary folder. Its name tells the file it
// belongs to ("~talvor-backup-VOLUME-INDEX.tmp"). A save that fails puts the old bytes back from
// it; a save that cannot (the process ended, the disk failing) leaves it, and the next read of
// the file puts them back before anything else.

#include <cstdint>

#include "Platform_win.h"

namespace platform {

class SaveBackup {
  public:
    // Copies the old content of `target`, open for reading and writing and shared with no one,
    // whose path is `targetPath`, into a new backup and forces it to the disk. Nothing of the
    // target changes.
    ErrorCode Create(const Text& targetPath, HANDLE target);
    // Puts the old content back into `target`, and forces it to the disk.
    ErrorCode Restore(HANDLE target) const;
    // Removes the backup once the file holds what it should; where it cannot go, it is marked as
    // no longer needed.
    void Remove();
    // Where the backup is, as users write paths, for a message when it could not be put back.
    Text Path() const;

  private:
    FileHandle file_;
    Text path_;
    std::uint64_t size_ = 0;
};

// The name that the new file of a save of the file `target` has in its folder
// ("~talvor-new-VOLUME-INDEX.tmp"): one name for each file, so that what a killed save left is
// found by the next save of the same file, which removes it.
Text NewFileName(const BY_HANDLE_FILE_INFORMATION& target);

// Puts back the old content that an interrupted save of the file at `path` left in a backup, and
// removes the backup. `file` is the file, open for reading: when there is something to put back,
// it is closed for that time (a save of this program holds the file shared with no one, so none
// runs meanwhile) and opened again as it was.
ErrorCode RecoverInterruptedSave(const Text& path, FileHandle& file);

}  // namespace platform
