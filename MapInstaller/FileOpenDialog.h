#pragma once

#include <windows.h>

#include <optional>

#include "text/Text.h"

// The platform's common file-open dialog, as the profile selection uses it: only the start
// place is set; title, labels, filters and options keep the platform's defaults, so every file
// is offered and a typed name comes back even when no such file exists. One object serves one
// selection; the platform's dialog exists only while Execute runs.
class FileOpenDialog {
  public:
    // The folder or file where the dialog opens. A folder goes to the platform unchanged; an
    // existing file opens the dialog in its folder with its name filled in; a missing file in an
    // existing folder opens that folder. Empty, or a text that names no folder, lets the platform
    // choose without a message (StartPlace.h).
    void SetStartPlace(Text path);

    // Shows the dialog modally over `owner`, with the thread's other windows disabled meanwhile,
    // and makes `owner` active again afterwards. Returns the chosen file's name, or nothing when
    // the user cancelled or the dialog could not be made, shown or read. Raises an Error on
    // Windows older than Vista, which has no such dialog.
    std::optional<Text> Execute(HWND owner) const;

  private:
    Text startPath_;
};
