#pragma once

// The main window class TForm1 and its globals. FormActivate, the credits reveal, is in
// FormActivate.cpp; Button1Click and AppliquerProfil, the profile selection and rewrite, are in
// ProfileSelection.cpp.

#include <windows.h>

#include "MapInstaller/ClientAccessible.h"
#include "MapInstaller/Controls.h"
#include "MapInstaller/FormLayout.h"
#include "MapInstaller/Logo.h"
#include "MapInstaller/WindowPalette.h"
#include "app/MainWindow.h"
#include "text/Text.h"
#include "win32/Handles.h"

// Button1's control id: its clicks come to the main window as WM_COMMAND with this id.
constexpr int button1Id = 1;

// The main window: platform class "TForm1", the maker's logo, the credits and the button that
// starts the profile selection.
class TForm1 : public EventSource, public MainWindow, private AccessibleContent {
  public:
    // Sets Form1 at once, then creates the platform window, hidden, with the built-in layout
    // scaled to the DPI of its monitor. Raises Error when the platform refuses the window or a
    // font; the window made so far is then destroyed with the object.
    TForm1();
    // Destroys the platform window and its controls, and releases selectedFile; Form1 then
    // refers to none.
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The platform window; exists from creation on.
    HWND Handle() const;

    // Activation handler: the credits reveal.
    void FormActivate(EventSource* Sender);
    // Click handler of Button1: the profile selection.
    void Button1Click(EventSource* Sender);
    // The profile rewrite of the file named by selectedFile.
    void AppliquerProfil(EventSource* Sender);

    // The window's keyboard handling, offered each key message before it is dispatched: Tab and
    // Shift+Tab focus Button1, Enter clicks the focused button. True when the key was consumed.
    bool DialogKey(const MSG& message) override;

  private:
    // The parts that screen readers are told of, in reading order.
    enum AccessiblePartId : long {
        label1Part = 1,
        label2Part,
        label3Part,
        label4Part,
        button1Part
    };

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND AccessibleWindow() const noexcept override;
    TextView AccessibleName() const noexcept override;
    long PartCount() const noexcept override;
    AccessiblePart Part(long id) const noexcept override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void PaintContent(HDC dc, const RECT& dirty);
    void OnActivate(WPARAM wParam);
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    void OnDpiChanged(int dpi, const RECT& suggested);
    void OnSchemeChanged(UINT message, WPARAM wParam, LPARAM lParam);
    void RepaintNow();
    void ApplyLayout();
    void SizeToClient();
    HWND FocusTarget() const;

    FormLayout layout_ = DesignLayout();
    Font windowFont_;
    Font creditsFont_;
    WindowPalette palette_;
    // The control that had the keyboard focus when the window was last deactivated.
    HWND lastFocusedControl_ = nullptr;
    // Screen readers have been told of the heading, at the window's first paint.
    bool headingAnnounced_ = false;

    LogoImage Logo;
    DrawnLabel Label1{label1Caption, true};
    DrawnLabel Label2{label2Caption, false};
    DrawnLabel Label3{label3Caption, false};
    DrawnLabel Label4{label4Caption, false};
    PushButton Button1{button1Id, button1Caption};

    // Before the controls go, so that a reader holding the object no longer reaches them.
    ClientAccessibility accessibility_{*this};
    // Last, so that it goes first: the controls and fonts outlive the window that uses them.
    LinkedWindow window_;
};

// The main window, set as soon as the window object exists.
extern TForm1* Form1;
// The full path of the chosen profile; empty when none was chosen.
extern Text selectedFile;
