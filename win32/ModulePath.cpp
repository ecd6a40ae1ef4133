#include "win32/ModulePath.h"

#include "text/WideText_win.h"

Text ModulePath(HMODULE module) {
    return GrowingWideText([&](wchar_t* buffer, std::size_t size) {
        return GetModuleFileNameW(module, buffer, static_cast<DWORD>(size));
    });
}
