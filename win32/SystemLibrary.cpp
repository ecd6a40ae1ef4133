#include "win32/SystemLibrary.h"

#include <string>
#include <utility>

namespace {

HMODULE Kernel32() {
    return GetModuleHandleW(L"kernel32.dll");
}

// The search flags of LoadLibraryExW came with the same update as AddDllDirectory.
bool SearchFlagsSupported() {
    return GetProcAddress(Kernel32(), "AddDllDirectory") != nullptr;
}

std::wstring SystemFolderPath(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length == 0 || length >= path.size()) {
        return {};
    }
    path.resize(length);
    return path + L'\\' + name;
}

HMODULE Load(const wchar_t* name, SystemLibrary::Source source) {
    if (SearchFlagsSupported()) {
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (source == SystemLibrary::Source::sideBySide) {
        return LoadLibraryW(name);
    }
    const std::wstring path = SystemFolderPath(name);
    return path.empty() ? nullptr : LoadLibraryW(path.c_str());
}

}  // namespace

void RestrictDllSearch() {
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    if (const auto restrict =
            ProcedureAddress<SetDefaultDirectories>(Kernel32(), "SetDefaultDllDirectories")) {
        if (restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            return;
        }
    }
    SetDllDirectoryW(L"");
}

SystemLibrary::SystemLibrary(const wchar_t* name, Source source) : module_(Load(name, source)) {}

SystemLibrary::~SystemLibrary() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
}

SystemLibrary::SystemLibrary(SystemLibrary&& other) noexcept
    : module_(std::exchange(other.module_, nullptr)) {}
