#include "MapInstaller/CancelNotice.h"

#include <commctrl.h>
#include <winver.h>

#include <cstddef>
#include <iterator>
#include <optional>
#include <vector>

#include "app/ApplicationIdentity.h"
#include "text/WideText_win.h"
#include "win32/ModalScope.h"
#include "win32/ModulePath.h"
#include "win32/PlatformVersion.h"
#include "win32/SystemLibrary.h"

namespace {

constexpr wchar_t noticeText[] =
    L"L'installation va se terminer sans appliquer la modification au profil.\r\n"
    L"Relancer l'installer pour recommencer.\r\n"
    L"\r\n"
    L"Install will end without applying modifications to the profile\r\n"
    L"Relaunch installer to retry.";

constexpr int okButtonId = 1;

// The file version's major and minor numbers (the high double word) of the file at `path`, or
// nothing when it cannot be read.
std::optional<DWORD> FileVersionHigh(const Text& path) {
    const SystemLibrary version(L"version.dll");
    const auto getSize =
        version.Procedure<decltype(&GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    const auto getInfo = version.Procedure<decltype(&GetFileVersionInfoW)>("GetFileVersionInfoW");
    const auto query = version.Procedure<decltype(&VerQueryValueW)>("VerQueryValueW");
    if (path.empty() || getSize == nullptr || getInfo == nullptr || query == nullptr) {
        return std::nullopt;
    }
    DWORD unused = 0;
    const DWORD size = getSize(Wide(path), &unused);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<std::byte> block(size);
    if (!getInfo(Wide(path), 0, size, block.data())) {
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

using ShowTaskDialog = decltype(&TaskDialogIndirect);

// Task dialogs came with Windows Vista and version 6.0 of the common controls; without the
// function itself there is none, whatever the versions say. A version that cannot be read is
// taken as recent enough.
ShowTaskDialog TaskDialogFunction(const SystemLibrary& commonControls) {
    const auto function = commonControls.Procedure<ShowTaskDialog>("TaskDialogIndirect");
    if (function == nullptr || PlatformMajorVersion() < 6) {
        return nullptr;
    }
    const HMODULE module = commonControls.Module();
    const std::optional<DWORD> version = FileVersionHigh(ModulePath(module));
    return !version || *version >= MAKELONG(0, 6) ? function : nullptr;
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
    const SystemLibrary commonControls(L"comctl32.dll", SystemLibrary::Source::sideBySide);
    const ShowTaskDialog showTaskDialog = TaskDialogFunction(commonControls);

    const ModalScope modality(owner);
    if (showTaskDialog == nullptr) {
        MessageBoxW(owner, noticeText, title, MB_OK);
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
