#include "MapInstaller/FileOpenDialog.h"

#include <shobjidl.h>

#include <cwchar>
#include <utility>

#include "MapInstaller/StartPlace.h"
#include "text/Error.h"
#include "text/WideText_win.h"
#include "win32/ComFunctions.h"
#include "win32/ComPtr.h"
#include "win32/ModalScope.h"
#include "win32/PlatformVersion.h"
#include "win32/SystemLibrary.h"

namespace {

constexpr TextView typeName = u"FileOpenDialog";

// The chosen item's file-system path, else its display name; nothing when neither can be read.
std::optional<Text> ItemName(IShellItem& item) {
    CoTaskMemText name;
    if (FAILED(item.GetDisplayName(SIGDN_FILESYSPATH, name.Put())) &&
        FAILED(item.GetDisplayName(SIGDN_NORMALDISPLAY, name.Put()))) {
        return std::nullopt;
    }
    if (name.Get() == nullptr) {
        return std::nullopt;
    }
    return FromWide(name.Get(), std::wcslen(name.Get()));
}

using CreateItemFromParsingName = decltype(&SHCreateItemFromParsingName);

// The shell item for a path, or none when the text makes no item (a missing path, say).
ComPtr<IShellItem> ItemFromPath(CreateItemFromParsingName createItem, const Text& path) {
    ComPtr<IShellItem> item;
    if (createItem == nullptr ||
        FAILED(createItem(Wide(path), nullptr, IID_IShellItem, item.PutVoid()))) {
        return {};
    }
    return item;
}

}  // namespace

void FileOpenDialog::SetStartPlace(Text path) {
    startPath_ = std::move(path);
}

std::optional<Text> FileOpenDialog::Execute(HWND owner) const {
    if (PlatformMajorVersion() < 6) {
        throw Error(Text(typeName) + u" nécessite Windows Vista ou supérieur");
    }

    // Declared first, so that shell32 stays loaded for as long as its objects live.
    const SystemLibrary shell(L"shell32.dll");
    const auto createItem =
        shell.Procedure<CreateItemFromParsingName>("SHCreateItemFromParsingName");

    ComPtr<IFileOpenDialog> dialog;
    if (const auto createInstance = Com().createInstance) {
        createInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                       dialog.PutVoid());
    }
    if (!dialog) {
        return std::nullopt;
    }

    // SetFolder rather than SetDefaultFolder: the folder given wins over the one that the
    // platform remembers from an earlier use. A text that makes no item is dropped.
    const StartPlace place = StartPlaceFor(startPath_);
    if (!place.folder.empty()) {
        if (const ComPtr<IShellItem> folder = ItemFromPath(createItem, place.folder)) {
            dialog->SetFolder(folder.Get());
            if (!place.fileName.empty()) {
                dialog->SetFileName(Wide(place.fileName));
            }
        }
    }
    // The whole option word, not added to the defaults: the dialog does not insist that the
    // file or its folder exist.
    dialog->SetOptions(0);

    // Declared after the dialog, so the windows are enabled again before it is released.
    const ModalScope modality(owner);
    if (FAILED(dialog->Show(owner))) {
        return std::nullopt;
    }
    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.Put())) || !item) {
        return std::nullopt;
    }
    return ItemName(*item.Get());
}
