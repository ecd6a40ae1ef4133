#include "win32/ModulePath.h"

#include <vector>

#include "text/WideText.h"

Text ModulePath(HMODULE module) {
    // The buffer grows until the name fits in it.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return FromWide(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}
