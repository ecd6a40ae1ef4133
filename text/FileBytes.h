#pragma once

#include "ByteBuffer.h"

#include "Platform.h"
#include "Text.h"

// The bytes of the regular file at `path`, up to its size when it was opened, as LineList::LoadFile
// reads them, and the file's stamp as it was read. Raises FileOpenError.
ByteBuffer ReadFileBytes(TextView path, platform::FileStamp& stamp);
