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
    // A DLL that marks its own loading, planted beside the installer under system DLLs' names.
    std::filesystem::path markerDll;
};

// Reads --installer=PATH, --dpi=N, --screenshots=DIR, --logo=JPEG and --marker-dll=DLL; an
// unknown argument is an error.
DriverOptions ParseDriverOptions(int argc, wchar_t** argv);

// The options of this run, set once by main before any scenario runs.
const DriverOptions& Options();
void SetOptions(DriverOptions options);

// A path as Windows programs want it: a Unix absolute path becomes one on Wine's drive Z:.
std::wstring WindowsPath(std::wstring path);

}  // namespace e2e
