#include "MapInstaller/StartPlace.h"

#include <windows.h>

#include "text/WideText_win.h"

namespace {

constexpr DWORD noAttributes = INVALID_FILE_ATTRIBUTES;

DWORD AttributesOf(const Text& path) {
    return GetFileAttributesW(Wide(path));
}

bool IsFolder(DWORD attributes) {
    return attributes != noAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

StartPlace StartPlaceFor(const Text& argument) {
    const std::size_t separator = argument.find_last_of(u"\\/");
    if (argument.empty() || separator == Text::npos) {
        return {argument, {}};
    }
    // The folder keeps its separator, so that a drive's root stays one ("C:\", not "C:").
    const Text folder = argument.substr(0, separator + 1);
    const DWORD attributes = AttributesOf(argument);
    if (attributes != noAttributes && !IsFolder(attributes)) {
        return {folder, argument.substr(separator + 1)};
    }
    if (attributes == noAttributes && IsFolder(AttributesOf(folder))) {
        return {folder, {}};
    }
    return {argument, {}};
}
