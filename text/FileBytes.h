#pragma once

#include <string>

#include "Text.h"

// The bytes of the regular file at `path`, up to its size when it was opened, as LineList::LoadFile
// reads them. Raises FileOpenError.
std::string ReadFileBytes(TextView path);
