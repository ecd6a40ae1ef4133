#pragma once

// A file's new bytes written over its old ones, where it is not replaced by a new file (it has
// several names, attributes that a new file would not get, a folder that refuses a new name):
// the file ends with its old bytes or its new ones, whatever fails and wherever the process
// stops. What would end the process waits; for what cannot (kill -9, a power cut, a disk that
// fails part-way) the old and new bytes are kept in a backup first (Backup.h), which the next
// save uses (Recovery.h).

#include <functional>

#include "HeldBytes.h"
#include "System.h"

namespace file {

// The rewrite failed, and the old bytes could not be put back: they wait in `Backup()`.
class OldBytesKept : public SystemError {
  public:
    OldBytesKept(const SystemError& cause, Path backup)
        : SystemError(cause), backup_(std::move(backup)) {}
    const Path& Backup() const noexcept { return backup_; }

  private:
    Path backup_;
};

// Writes `content` over `profile` (open for reading and writing, its lock held) in `folder`.
// `checkUnchanged` raises when another program changed the profile since it was read; it runs
// once the backup is made, just before the first byte is overwritten. Raises SystemError (naming
// the folder that could not keep the backup), OldBytesKept, or what `checkUnchanged` raises.
void RewriteInPlace(SystemFolder& folder, SystemFile& profile, const HeldBytes& content,
                    const std::function<void()>& checkUnchanged);

}  // namespace file
