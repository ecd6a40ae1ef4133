#pragma once

// The installer as the scenarios see it: its process, its main window and its one child window.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "Layout.h"
#include "Poll.h"
#include "Process.h"
#include "ScreenImage.h"

namespace e2e {

class Installer {
  public:
    // Starts the installer of this run without arguments and waits for its main window (class
    // TForm1) to exist.
    static Installer Start(std::optional<WORD> showCommand = std::nullopt);
    // The same for `program` (the installer of this run or a copy of it under another name), with
    // `arguments` put after its quoted path exactly as given.
    static Installer Start(const std::wstring& program, const std::wstring& arguments);

    const Process& Proc() const { return process_; }
    HWND Window() const { return window_; }
    // Button1's platform window; it may be made only when the button is first shown.
    HWND Button1() const;
    bool Button1Visible() const;
    // Visible and enabled: a click on it is taken.
    bool Button1Ready() const;
    // Clicks Button1 through its own message, as the mouse would.
    void ClickButton1() const;

    // The visible dialog boxes (message boxes, the file-open dialog) that the main window owns.
    std::vector<HWND> OwnedBoxes() const;
    // The first owned box that satisfies `wanted`, or null once `timeout` has passed.
    template <typename Wanted>
    HWND WaitForBox(Wanted wanted, milliseconds timeout) const {
        HWND box = nullptr;
        WaitUntil(
            [&] {
                for (HWND window : OwnedBoxes()) {
                    if (wanted(window)) {
                        box = window;
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return box;
    }

    ScreenImage CaptureClient() const;
    // The whole window, title bar and frame included.
    ScreenImage CaptureWindow() const;

  private:
    static Installer Launch(const std::wstring& program, const std::wstring& arguments,
                            std::optional<WORD> showCommand);
    Installer(Process process, HWND window);

    Process process_;
    HWND window_;
};

// What the window showed while the credits were revealed, timed from its first paint.
struct RevealTimeline {
    Clock::time_point started;
    std::optional<double> firstPaint;  // seconds after the start of the process
    std::optional<ScreenImage> firstPaintImage;
    // Seconds after the first paint at which each control's ink (for Button1 also its window)
    // was first seen.
    std::optional<double> label2, label3, label4, button1Visible, button1Drawn;
    // The first picture with any ink in Label4's area.
    std::optional<ScreenImage> label4FirstImage;
};

// Watches the client area, capturing it every few milliseconds, from now until Button1 is visible
// and drawn or `timeout` has passed. The first paint is the first picture with the logo drawn,
// "Credits :" drawn and the blank area white.
RevealTimeline WatchReveal(const Installer& installer, const Areas& areas,
                           Clock::time_point started, milliseconds timeout);

// Ink: the least count of non-white pixels for "something is drawn here".
inline constexpr int kInk = 20;

}  // namespace e2e
