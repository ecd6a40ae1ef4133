#include "win32/PlatformVersion.h"

DWORD PlatformMajorVersion() {
    // The manifest names every Windows version up to 10 and 11 as supported, so GetVersionExW
    // reports the version that runs instead of a compatibility one.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(&info);
    return info.dwMajorVersion;
}
