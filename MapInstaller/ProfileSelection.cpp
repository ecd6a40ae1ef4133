// The profile selection: the button's click handler and the rewrite that it starts.

#include <optional>
#include <utility>

#include "CancelNotice.h"
#include "FileOpenDialog.h"
#include "MapInstaller/CommandLine.h"
#include "MapInstaller/MapInstaller.h"
#include "app/Application.h"
#include "profile/ProfileRewrite.h"

// Catches nothing: an error leaves at once, after the dialog object is gone, and the termination
// request is skipped, so the window stays for another try.
void TForm1::Button1Click(EventSource* Sender) {
    selectedFile.clear();
    {
        // A new dialog object at every click, released before the notice or the rewrite starts.
        FileOpenDialog dlg;
        dlg.SetStartPlace(
            FirstCommandLineArgument(reinterpret_cast<const char16_t*>(GetCommandLineW())));
        if (std::optional<Text> chosen = dlg.Execute(Handle())) {
            selectedFile = std::move(*chosen);
        }
    }
    if (selectedFile.empty()) {
        ShowCancelNotice(Handle());
    } else {
        AppliquerProfil(Sender);
    }
    RequestTermination();
}

// The rewrite is the one that the command-line tool makes too: its line list Profil and its
// found flag trouve live there. The sender is not used.
void TForm1::AppliquerProfil(EventSource* /*Sender*/) {
    ApplyMapSet(selectedFile);
}
