#include "FileOpenDialog.h"

#include <shobjidl.h>

#include <cwchar>
#include <utility>

#include "PlatformVersion.h"
#include "app/ComPtr.h"
#include "app/ModalScope.h"
#include "app/WideText.h"
#include "text/Error.h"

namespace {

constexpr TextView typeName = u"TFileOpenDialog";

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

}  // namespace

void TFileOpenDialog::SetStartFolder(Text folder) {
    startFolder_ = std::move(folder);
}

std::optional<Text> TFileOpenDialog::Execute(HWND owner) const {
    if (PlatformMajorVersion() < 6) {
        throw Error(Text(typeName) + u" nécessite Windows Vista ou supérieur");
    }

    ComPtr<IFileOpenDialog> dialog;
    CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                     dialog.PutVoid());
    if (!dialog) {
        return std::nullopt;
    }

    if (!startFolder_.empty()) {
        // SetFolder rather than SetDefaultFolder: the folder given wins over the one that the
        // platform remembers from an earlier use. A text that makes no item is dropped.
        ComPtr<IShellItem> folder;
        if (SUCCEEDED(SHCreateItemFromParsingName(Wide(startFolder_), nullptr, IID_IShellItem,
                                                  folder.PutVoid()))) {
            dialog->SetFolder(folder.Get());
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
