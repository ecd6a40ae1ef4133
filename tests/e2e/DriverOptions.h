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
    // Seconds that a start may take, from CreateProcessW to the window's first picture, on top of
    // what the program itself does. Where 32-bit Linux programs run emulated (scripts/wine-run
    // says so in TALVOR_WINE_I386), Wine's loader alone takes 0.8 s quiet and up to 1.7 s with
    // both cores busy (0.2 s natively); under the test command's load it was seen at 5.8 s.
    double startAllowance = 4.0;
};

// Reads --installer=PATH, --dpi=N, --screenshots=DIR, --logo=JPEG and --marker-dll=DLL; an
// unknown argument is an error. The start allowance comes from the environment.
DriverOptions ParseDriverOptions(int argc, wchar_t** argv);

// The options of this run, set once by main before any scenario runs.
const DriverOptions& Options();
void SetOptions(DriverOptions options);

// A path as Windows programs want it: a Unix absolute path becomes one on Wine's drive Z:.
std::wstring WindowsPath(std::wstring path);

}  // namespace e2e
