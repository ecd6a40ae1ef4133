#pragma once

// What the POSIX files of the platform layer share.

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "Platform.h"
#include "file/System_posix.h"

namespace platform {

inline ErrorCode LastError() {
    return static_cast<ErrorCode>(errno);
}

using file::Descriptor;

FileStamp StampOf(const struct stat& info);

using file::AbsolutePath;
using file::RetriedOnInterrupt;

// Reads exactly `size` bytes at `offset`; a file that ends before is an error.
ErrorCode ReadExactly(int fd, char* data, std::size_t size, off_t offset);
// Forces the file's bytes to the disk; special files that keep nothing refuse, and need not.
ErrorCode Sync(int fd);

// Follows symbolic links at the end of `path` until it names something that is not a link, or
// nothing; the folders on the way need not be resolved, since the file's name stays in them.
ErrorCode ResolveLinks(std::string& path);

// Holds back what would end the process for as long as it lives.
using InterruptsHeld = file::EndingHeld;

// Raises nothing: the codes of a cut rewrite of the open file `fd` (the real file at `path`)
// that stands in the way of reading it (cutRewritePending, changedAfterCutRewrite,
// backupUnusable), with `backup` the backup concerned; noError when none does.
ErrorCode CheckNoCutRewrite(int fd, const std::string& path, Text& backup);

// Takes the lock of the open file `fd`, shared (LOCK_SH) or exclusive (LOCK_EX), waiting up to
// half a minute for the holder to let it go; EWOULDBLOCK when it does not.
ErrorCode LockFile(int fd, int operation);

}  // namespace platform
