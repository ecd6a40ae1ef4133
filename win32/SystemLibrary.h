#pragma once

// DLLs beyond the few that every process starts with are loaded from the system folder only, so
// that a DLL planted beside the program (in a downloads folder, say) is never taken; the import
// table stays free of them. Their newer functions are looked up at run time, so that the program
// still starts on Windows XP, where they are missing.

#include <windows.h>

// Takes the program's folder and the current folder out of the DLL search, before any DLL beyond
// the static imports can load. Where the platform cannot restrict the search to the system
// folder (before Windows 8 without its update), only the current folder goes; SystemLibrary then
// names each DLL by its full path in the system folder.
void RestrictDllSearch();

// The exported function `name` of a loaded module as a `Function` pointer, or null.
template <typename Function>
Function ProcedureAddress(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    // Through void (*)(), which converts to any function pointer without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A DLL loaded from the system folder, freed with its owner.
class SystemLibrary {
  public:
    enum class Source {
        systemFolder,
        // Named without a folder so that the manifest's activation context picks the version it
        // asks for (the common controls 6); the search is restricted all the same.
        sideBySide,
    };

    explicit SystemLibrary(const wchar_t* name, Source source = Source::systemFolder);
    ~SystemLibrary();
    SystemLibrary(SystemLibrary&& other) noexcept;
    SystemLibrary& operator=(SystemLibrary&&) = delete;
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    // Null when the DLL could not be loaded.
    HMODULE Module() const { return module_; }

    template <typename Function>
    Function Procedure(const char* name) const {
        return ProcedureAddress<Function>(module_, name);
    }

  private:
    HMODULE module_;
};
