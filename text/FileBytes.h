#pragma once

#include "ByteBuffer.h"

#include "Text.h"

// The bytes of the regular file at `path`, up to its size when it was opened, as LineList::LoadFile
// reads them. Raises FileOpenError.
ByteBuffer ReadFileBytes(TextView path);
