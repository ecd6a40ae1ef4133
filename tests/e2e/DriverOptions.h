#pragma once

// What the test command tells the driver: the program under test and the prefix's set-up.

#include <filesystem>
#include <string>

namespace e2e {

struct DriverOptions {
    // The installer's executable, as a Windows path.
    std::wstring installer;
    // The DPI that the Wine prefix (or the Windows session) was set up with.
    int dpi = 96;
    // Where screenshots are written.
    std::filesystem::path screenshots;
    // The logo's JPEG in the repository, to compare the window's picture with.
    std::filesystem::path logo;
};

// Reads --installer=PATH, --dpi=N, --screenshots=DIR and --logo=JPEG; an unknown argument is an
// error.
DriverOptions ParseDriverOptions(int argc, wchar_t** argv);

// The options of this run, set once by main before any scenario runs.
const DriverOptions& Options();
void SetOptions(DriverOptions options);

// A path as Windows programs want it: a Unix absolute path becomes one on Wine's drive Z:.
std::wstring WindowsPath(std::wstring path);

}  // namespace e2e
