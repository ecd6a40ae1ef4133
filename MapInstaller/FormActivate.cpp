#include "MapInstaller/MapInstaller.h"

// A synchronous repaint of what is marked for paint. No message is taken while the reveal runs,
// so a change of scheme cannot be announced to it: the colours are read again before each of its
// repaints, and a change repaints the whole window.
void TForm1::RepaintNow() {
    if (palette_.Refresh()) {
        RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
    UpdateWindow(Handle());
}

// The credits reveal, at the window's first activation: each step changes one control, forces a
// synchronous repaint in the scheme's current colours (no event loop runs meanwhile), tells screen
// readers what appeared, and then sleeps, about ten seconds in all.
void TForm1::FormActivate(EventSource* /*Sender*/) {
    RepaintNow();
    Sleep(2000);
    Label2.Show();
    RepaintNow();
    accessibility_.AnnounceShown(label2Part);
    Sleep(3000);
    Label3.Show();
    RepaintNow();
    accessibility_.AnnounceShown(label3Part);
    Sleep(3000);
    // The caption changes while the label is hidden, so its one-line caption is never seen.
    Label4.SetCaption(announcement);
    Label4.Show();
    RepaintNow();
    accessibility_.AnnounceShown(label4Part);
    Sleep(2000);
    Button1.Show();
    RepaintNow();
    accessibility_.AnnounceShown(button1Part);
}
