// The composition root: the application shell runs the installer's one window.

#include <windows.h>

#include <memory>

#include "MapInstaller/MapInstaller.h"
#include "app/Application.h"
#include "win32/SystemLibrary.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL: a DLL planted beside the installer must never be found.
    RestrictDllSearch();
    RunApplication([]() -> std::unique_ptr<MainWindow> { return std::make_unique<TForm1>(); });
}
