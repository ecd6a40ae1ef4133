#pragma once

#include <windows.h>

// The major version number of the running Windows: 5 for XP, 6 for Vista to 8.1, 10 from
// Windows 10 on.
DWORD PlatformMajorVersion();
