#include "CancelNotice.h"

#include <commctrl.h>
#include <winver.h>

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "PlatformVersion.h"
#include "app/Application.h"
#include "app/ModalScope.h"
#include "app/WideText.h"

namespace {

constexpr wchar_t noticeText[] =
    L"L'installation va se terminer sans appliquer la modification au profil.\r\n"
    L"Relancer l'installer pour recommencer.\r\n"
    L"\r\n"
    L"Install will end without applying modifications to the profile\r\n"
    L"Relaunch installer to retry.";
static_assert(std::size(noticeText) - 1 == 207);

constexpr int okButtonId = 1;

// A DLL loaded from the system folder only, so that no copy beside the program or in the current
// folder is taken; the import table stays free of it. Under the manifest's activation context
// "comctl32.dll" resolves to the side-by-side version 6.
class SystemLibrary {
  public:
    explicit SystemLibrary(const wchar_t* name)
        : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
    ~SystemLibrary() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    HMODULE Module() const { return module_; }

    // The exported function `name` as a `Function` pointer, or null.
    template <typename Function>
    Function Procedure(const char* name) const {
        if (module_ == nullptr) {
            return nullptr;
        }
        // Through void (*)(), which converts to any function pointer without a warning.
        return reinterpret_cast<Function>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }

  private:
    HMODULE module_;
};

// The file of a loaded DLL; empty for none (a null handle would name the program's own file).
std::wstring ModulePath(HMODULE module) {
    if (module == nullptr) {
        return {};
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The file version's major and minor numbers (the high double word) of the file at `path`, or
// nothing when it cannot be read.
std::optional<DWORD> FileVersionHigh(const std::wstring& path) {
    const SystemLibrary version(L"version.dll");
    const auto getSize =
        version.Procedure<decltype(&GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    const auto getInfo = version.Procedure<decltype(&GetFileVersionInfoW)>("GetFileVersionInfoW");
    const auto query = version.Procedure<decltype(&VerQueryValueW)>("VerQueryValueW");
    if (path.empty() || getSize == nullptr || getInfo == nullptr || query == nullptr) {
        return std::nullopt;
    }
    DWORD unused = 0;
    const DWORD size = getSize(path.c_str(), &unused);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<std::byte> block(size);
    if (!getInfo(path.c_str(), 0, size, block.data())) {
        return std::nullopt;
    }
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!query(block.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    return static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwFileVersionMS;
}

// Task dialogs came with Windows Vista and version 6.0 of the common controls. A version that
// cannot be read is taken as recent enough.
bool TaskDialogServes(const SystemLibrary& commonControls) {
    if (PlatformMajorVersion() < 6) {
        return false;
    }
    const std::optional<DWORD> version = FileVersionHigh(ModulePath(commonControls.Module()));
    return !version || *version >= MAKELONG(0, 6);
}

// Centres the notice in the working area of the monitor nearest to its owner, at its own size.
void CentreInWorkArea(HWND notice, HWND owner) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT own{};
    if (!GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(notice, &own)) {
        return;
    }
    const RECT& work = monitor.rcWork;
    const int x = work.left + ((work.right - work.left) - (own.right - own.left)) / 2;
    const int y = work.top + ((work.bottom - work.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(notice, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HRESULT CALLBACK OnNoticeEvent(HWND notice, UINT event, WPARAM, LPARAM, LONG_PTR owner) {
    if (event == TDN_CREATED) {
        CentreInWorkArea(notice, reinterpret_cast<HWND>(owner));
    }
    return S_OK;
}

}  // namespace

void ShowCancelNotice(HWND owner) {
    const wchar_t* title = Wide(ApplicationTitle());
    const SystemLibrary commonControls(L"comctl32.dll");
    const bool taskDialog = TaskDialogServes(commonControls);

    const ModalScope modality(owner);
    if (!taskDialog) {
        MessageBoxW(owner, noticeText, title, MB_OK);
        return;
    }
    const auto showTaskDialog =
        commonControls.Procedure<decltype(&TaskDialogIndirect)>("TaskDialogIndirect");
    if (showTaskDialog == nullptr) {
        return;
    }
    const TASKDIALOG_BUTTON buttons[] = {{okButtonId, L"OK"}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.pszWindowTitle = title;
    config.pszContent = noticeText;
    config.cButtons = static_cast<UINT>(std::size(buttons));
    config.pButtons = buttons;
    config.nDefaultButton = okButtonId;
    config.pfCallback = OnNoticeEvent;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(owner);
    showTaskDialog(&config, nullptr, nullptr, nullptr);
}
