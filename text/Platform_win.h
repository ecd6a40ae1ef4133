#pragma once

// What the Windows files of the platform layer share.

#include <windows.h>

#include "Platform.h"
#include "WideText_win.h"
#include "file/System_win.h"

namespace platform {

inline ErrorCode LastError() {
    return static_cast<ErrorCode>(GetLastError());
}

// ReadFile and WriteFile take DWORD counts: larger blocks go through in pieces.
constexpr std::size_t ioPiece = 1 << 30;

using file::FileHandle;

ErrorCode StampOf(HANDLE file, FileStamp& stamp);

// The file's path after every link, as the system resolved it when opening it. Windows XP lacks
// the function: there the full path as given stands for it.
Text FinalPath(HANDLE file, const Text& fullPath);

// A second handle on the same open file, with its access and sharing; invalid on failure.
FileHandle Duplicate(HANDLE file);

// Raises nothing: the codes of a cut rewrite of the open file `file` (the real file at `path`)
// that stands in the way of reading it (cutRewritePending, changedAfterCutRewrite,
// backupUnusable), with `backup` the backup concerned; noError when none does. Moves the file's
// position.
ErrorCode CheckNoCutRewrite(HANDLE file, const Text& path, Text& backup);

}  // namespace platform
