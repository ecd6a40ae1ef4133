#include "Installer.h"

#include <stdexcept>

#include "DriverOptions.h"
#include "WindowQuery.h"

namespace e2e {

Installer::Installer(Process process, HWND window)
    : process_(std::move(process)), window_(window) {}

Installer Installer::Start(std::optional<WORD> showCommand) {
    return Launch(Options().installer, L"", showCommand);
}

Installer Installer::Start(const std::wstring& program, const std::wstring& arguments) {
    return Launch(program, arguments, std::nullopt);
}

Installer Installer::Launch(const std::wstring& program, const std::wstring& arguments,
                            std::optional<WORD> showCommand) {
    Process process = Process::Start(program, arguments, showCommand);
    HWND window = nullptr;
    WaitUntil(
        [&] {
            const auto found = TopLevelWindows(process.Id(), L"TForm1");
            window = found.empty() ? nullptr : found.front();
            return window != nullptr || !process.IsRunning();
        },
        milliseconds(10000));
    if (window == nullptr) {
        throw std::runtime_error("the installer made no TForm1 window within 10 s");
    }
    return Installer(std::move(process), window);
}

HWND Installer::Button1() const {
    return ChildOfClass(window_, L"Button");
}

bool Installer::Button1Visible() const {
    const HWND button = Button1();
    return button != nullptr && IsWindowVisible(button);
}

bool Installer::Button1Ready() const {
    return Button1Visible() && IsWindowEnabled(Button1());
}

void Installer::ClickButton1() const {
    PostMessageW(Button1(), BM_CLICK, 0, 0);
}

std::vector<HWND> Installer::OwnedBoxes() const {
    std::vector<HWND> open;
    for (HWND box : TopLevelWindows(process_.Id(), L"#32770", window_)) {
        if (IsWindowVisible(box)) {
            open.push_back(box);
        }
    }
    return open;
}

ScreenImage Installer::CaptureClient() const {
    return ScreenImage::Capture(ClientOnScreen(window_));
}

ScreenImage Installer::CaptureWindow() const {
    RECT rect = {};
    GetWindowRect(window_, &rect);
    return ScreenImage::Capture(rect);
}

RevealTimeline WatchReveal(const Installer& installer, const Areas& areas,
                           Clock::time_point started, milliseconds timeout) {
    RevealTimeline timeline{started, {}, {}, {}, {}, {}, {}, {}, {}};
    Clock::time_point firstPaint;
    const auto seen = [&](std::optional<double>& when, bool now, Clock::time_point at) {
        if (now && !when) {
            when = SecondsSince(firstPaint, at);
        }
    };
    WaitUntil(
        [&] {
            const auto at = Clock::now();
            const ScreenImage image = installer.CaptureClient();
            if (!timeline.firstPaint) {
                if (image.CountNonWhite(areas.logo) < kInk ||
                    image.CountNonWhite(areas.label1) < kInk ||
                    image.CountNonWhite(areas.blank) != 0) {
                    return false;
                }
                firstPaint = at;
                timeline.firstPaint = SecondsSince(started, at);
                timeline.firstPaintImage = image;
            }
            seen(timeline.label2, image.CountNonWhite(areas.label2) >= kInk, at);
            seen(timeline.label3, image.CountNonWhite(areas.label3) >= kInk, at);
            if (!timeline.label4 && image.CountNonWhite(areas.label4) >= kInk) {
                timeline.label4FirstImage = image;
            }
            seen(timeline.label4, image.CountNonWhite(areas.label4) >= kInk, at);
            seen(timeline.button1Visible, installer.Button1Visible(), at);
            seen(timeline.button1Drawn,
                 installer.Button1Visible() && image.CountNonWhite(areas.button1) >= kInk, at);
            return timeline.button1Drawn.has_value();
        },
        timeout);
    return timeline;
}

}  // namespace e2e
