#include "win32/PlatformVersion.h"

DWORD PlatformMajorVersion() {
    // The manifest names every Windows version up to 10 and 11 as supported, so the platform
    // reports the version that runs instead of a compatibility one. GetVersion, unlike
    // GetVersionExW, has no failure to handle: the major version is its low byte.
    return LOBYTE(LOWORD(GetVersion()));
}
