#pragma once

#include "ByteBuffer.h"

#include "Text.h"

// Every byte of the file at `path`, opened as LineList::LoadFile opens it. Raises FileOpenError.
ByteBuffer ReadFileBytes(TextView path);
