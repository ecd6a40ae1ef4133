#pragma once

#include "ByteBuffer.h"

#include "Platform.h"
#include "Text.h"

// The bytes of the regular file at `path`, up to its size when it was opened, as LineList::LoadFile
// reads them, and the file's stamp as it was read. Raises FileOpenError.
// Raises CutRewriteError when a rewrite in place of the file was cut short.
ByteBuffer ReadFileBytes(TextView path, platform::FileStamp& stamp);

// The first step of a save of the file at `path`: a rewrite in place of it that was cut short is
// made good (platform::RecoverCutRewrite). Raises FileCreateError when it cannot be.
void RecoverCutRewrite(TextView path);
