#pragma once

// The old bytes of a file that is rewritten in place, kept in a file of their own until the new
// bytes are on the disk: beside the file where its folder takes a new file (the same disk, which
// keeps it through a power cut), else in the temporary folder. Its name tells the file it belongs
// to (".talvor-backup-DEVICE-INODE"). A save that fails puts the old bytes back from it; a save
// that cannot (the process killed, the disk failing) leaves it, and the next read of the file
// puts them back before anything else.

#include <cstdint>
#include <string>

#include <sys/stat.h>

#include "Platform_posix.h"

namespace platform {

class SaveBackup {
  public:
    // Copies the old content of `target` (open for reading and writing, its lock held) into a new
    // backup and forces it to the disk. Nothing of the target changes.
    ErrorCode Create(int folder, int target, const struct stat& info);
    // Puts the old content back into `target`, and forces it to the disk.
    ErrorCode Restore(int target) const;
    // Removes the backup once the file holds what it should; where it cannot go, it is marked
    // as no longer needed.
    void Remove();
    // Where the backup is, for a message when it could not be put back.
    const std::string& Path() const { return path_; }

  private:
    Descriptor folder_;
    Descriptor file_;
    std::string name_;
    std::string path_;
    std::uint64_t size_ = 0;
};

// The name that the new file of a save of the file `target` has in its folder while it is written,
// where the file system cannot make a file without a name, and for the moment between naming it
// and renaming it over the file (".talvor-new-DEVICE-INODE"). One name for each file: what a killed
// save left is found by the next save or read of the same file, which removes it.
std::string NewFileName(const struct stat& target);

// Puts back the old content that an interrupted save of the open file `fd` left in a backup, and
// removes the backup, and the new file that such a save left beside the file. The caller holds the
// file's lock, shared, which is exclusive for a moment here: no save of this program runs
// meanwhile.
ErrorCode RecoverInterruptedSave(int fd);

}  // namespace platform
