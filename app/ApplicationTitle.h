#pragma once

#include "text/Text.h"

// The application's title from the executable's full path: the file name (what follows the last
// backslash) up to its first full stop, every character after the first passed through
// `lowerCase` (the platform's lower-casing). "C:\\Setup\\INSTALL.EXE" gives "Install".
Text ApplicationTitleFromPath(TextView executablePath, Text (*lowerCase)(Text));
