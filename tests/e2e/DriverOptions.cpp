#include "DriverOptions.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace e2e {
namespace {

DriverOptions& Stored() {
    static DriverOptions options;
    return options;
}

std::string Narrow(std::wstring_view text) {
    return std::string(text.begin(), text.end());
}

}  // namespace

std::wstring WindowsPath(std::wstring path) {
    if (path.starts_with(L'/')) {
        path.insert(0, L"Z:");
    }
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

DriverOptions ParseDriverOptions(int argc, wchar_t** argv) {
    DriverOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view argument = argv[i];
        if (argument.starts_with(L"--installer=")) {
            options.installer = WindowsPath(std::wstring(argument.substr(12)));
        } else if (argument.starts_with(L"--dpi=")) {
            options.dpi = std::stoi(std::wstring(argument.substr(6)));
        } else if (argument.starts_with(L"--screenshots=")) {
            options.screenshots = WindowsPath(std::wstring(argument.substr(14)));
        } else if (argument.starts_with(L"--logo=")) {
            options.logo = WindowsPath(std::wstring(argument.substr(7)));
        } else if (argument.starts_with(L"--marker-dll=")) {
            options.markerDll = WindowsPath(std::wstring(argument.substr(13)));
        } else {
            throw std::invalid_argument("unknown argument: " + Narrow(argument));
        }
    }
    if (options.installer.empty()) {
        throw std::invalid_argument("--installer=PATH is required");
    }
    wchar_t loader[16] = {};
    if (GetEnvironmentVariableW(L"TALVOR_WINE_I386", loader, 16) > 0 &&
        std::wstring_view(loader) == L"emulated") {
        options.startAllowance = 8.0;
    }
    return options;
}

const DriverOptions& Options() {
    return Stored();
}

void SetOptions(DriverOptions options) {
    Stored() = std::move(options);
}

}  // namespace e2e
