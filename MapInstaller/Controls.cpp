#include "MapInstaller/Controls.h"

#include "app/ErrorReporting.h"
#include "app/SystemError.h"
#include "text/WideText_win.h"
#include "win32/CommonControls.h"
#include "win32/Handles.h"

namespace {

constexpr UINT labelFormat = DT_LEFT | DT_TOP | DT_NOPREFIX | DT_EXPANDTABS;

RECT ToRect(const Bounds& bounds) {
    return {bounds.left, bounds.top, bounds.left + bounds.width, bounds.top + bounds.height};
}

}  // namespace

void DrawnLabel::Place(HWND parent, const Position& corner, HFONT font) {
    parent_ = parent;
    font_ = font;
    bounds_.left = corner.left;
    bounds_.top = corner.top;
    Measure();
}

void DrawnLabel::SetCaption(TextView caption) {
    Invalidate();
    caption_ = Text(caption);
    Measure();
    Invalidate();
}

void DrawnLabel::Show() {
    if (!visible_) {
        visible_ = true;
        Invalidate();
    }
}

void DrawnLabel::Paint(HDC dc, COLORREF textColour) const {
    if (!visible_) {
        return;
    }
    // No background of its own: the window's background shows through.
    const SelectedObject font(dc, font_);
    SetTextColor(dc, textColour);
    SetBkMode(dc, TRANSPARENT);
    RECT rect = ToRect(bounds_);
    DrawTextW(dc, Wide(caption_), static_cast<int>(caption_.size()), &rect, labelFormat);
}

RECT DrawnLabel::Area() const {
    return ToRect(bounds_);
}

void DrawnLabel::Measure() {
    const WindowDc dc(parent_);
    const SelectedObject font(dc.Get(), font_);
    RECT rect{0, 0, 0, 0};
    DrawTextW(dc.Get(), Wide(caption_), static_cast<int>(caption_.size()), &rect,
              labelFormat | DT_CALCRECT);
    bounds_.width = rect.right - rect.left;
    bounds_.height = rect.bottom - rect.top;
}

void DrawnLabel::Invalidate() const {
    if (visible_ && parent_ != nullptr) {
        const RECT rect = ToRect(bounds_);
        InvalidateRect(parent_, &rect, TRUE);
    }
}

void PushButton::Place(HWND parent, const Bounds& bounds, HFONT font) {
    parent_ = parent;
    bounds_ = bounds;
    font_ = font;
    if (window_ != nullptr) {
        SetWindowPos(window_, nullptr, bounds.left, bounds.top, bounds.width, bounds.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void PushButton::Show() {
    if (window_ == nullptr) {
        Create();
    }
    ShowWindow(window_, SW_SHOWNA);
}

void PushButton::Create() {
    // The common controls' classes first, as the platform asks; where they cannot be had, the
    // window below fails and says why.
    StandardControls();
    window_ = CreateWindowExW(0, L"Button", Wide(caption_), WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON,
                              bounds_.left, bounds_.top, bounds_.width, bounds_.height, parent_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)),
                              GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) {
        RaiseLastSystemError();
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    platformProcedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)));
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

bool PushButton::CanFocus() const {
    return window_ != nullptr && IsWindowVisible(window_) && IsWindowEnabled(window_);
}

bool PushButton::TakesClicks() const {
    return CanFocus() && IsWindowEnabled(GetAncestor(window_, GA_ROOT));
}

bool PushButton::Visible() const {
    return window_ != nullptr && IsWindowVisible(window_);
}

bool PushButton::Focused() const {
    return window_ != nullptr && GetFocus() == window_;
}

RECT PushButton::Area() const {
    return ToRect(bounds_);
}

LRESULT CALLBACK PushButton::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto* button = reinterpret_cast<PushButton*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const WNDPROC platform = button->platformProcedure_;
    if (message == BM_CLICK && !button->TakesClicks()) {
        return 0;
    }
    return GuardedMessage([&](LRESULT& result) {
        result = CallWindowProcW(platform, window, message, wParam, lParam);
    });
}
