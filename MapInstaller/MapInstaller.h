#pragma once

// The main window class TForm1 and its globals. Button1Click and AppliquerProfil, the profile
// selection and rewrite, are in MapInstaller/ProfileSelection.cpp.

#include <windows.h>

#include "MapInstaller/Controls.h"
#include "MapInstaller/FormLayout.h"
#include "MapInstaller/Logo.h"
#include "app/Win32Handles.h"
#include "text/Text.h"

// Button1's control id, by which GetDlgItem finds it on the main window.
constexpr int button1Id = 1;

// The main window: platform class "TForm1", the maker's logo, the credits and the button that
// starts the profile selection.
class TForm1 : public TObject {
  public:
    // Sets Form1 at once, then creates the platform window, hidden, with the built-in layout
    // scaled to the DPI of its monitor. Raises Error when the platform refuses the window.
    TForm1();
    // Destroys the platform window and its controls; Form1 then refers to none.
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The platform window; exists from creation on.
    HWND Handle() const;

    // Activation handler: the credits reveal.
    void FormActivate(TObject* Sender);
    // Click handler of Button1: the profile selection.
    void Button1Click(TObject* Sender);
    // The profile rewrite of the file named by selectedFile.
    void AppliquerProfil(TObject* Sender);

    // The window's keyboard handling, offered each key message before it is dispatched: Tab and
    // Shift+Tab focus Button1, Enter clicks the focused button. True when the key was consumed.
    bool DialogKey(const MSG& message);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void PaintContent(HDC dc, const RECT& dirty);
    void OnActivate(WPARAM wParam);
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    void OnDpiChanged(int dpi, const RECT& suggested);
    void ApplyLayout();
    void SizeToClient();
    HWND FocusTarget() const;

    HWND window_ = nullptr;
    FormLayout layout_ = DesignLayout();
    Font windowFont_;
    Font creditsFont_;
    // The control that had the keyboard focus when the window was last deactivated.
    HWND lastFocusedControl_ = nullptr;

    TImage Logo;
    TLabel Label1{label1Caption, true};
    TLabel Label2{label2Caption, false};
    TLabel Label3{label3Caption, false};
    TLabel Label4{label4Caption, false};
    TButton Button1;
};

// The main window, set as soon as the window object exists.
extern TForm1* Form1;
// The full path of the chosen profile; empty when none was chosen.
extern Text selectedFile;
