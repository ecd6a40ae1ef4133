#pragma once

#include <string>

#include "Text.h"

// Every byte of the file at `path`, opened as LineList::LoadFile opens it. Raises FileOpenError.
std::string ReadFileBytes(TextView path);
