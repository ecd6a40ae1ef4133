#include "MapInstaller/MapInstaller.h"

#include "app/Application.h"
#include "app/ApplicationIdentity.h"
#include "app/ErrorReporting.h"
#include "app/SystemError.h"
#include "text/WideText_win.h"
#include "win32/WindowDpi.h"

TForm1* Form1 = nullptr;
Text selectedFile;

namespace {

constexpr wchar_t windowClass[] = L"TForm1";
constexpr DWORD windowStyle = WS_CAPTION | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD windowExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

void RegisterWindowClass(WNDPROC procedure) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, windowClass, &existing)) {
        return;
    }
    // No background brush: the window paints its own background, white or the scheme's.
    WNDCLASSEXW definition{};
    definition.cbSize = sizeof(definition);
    definition.style = CS_DBLCLKS;
    definition.lpfnWndProc = procedure;
    definition.hInstance = instance;
    definition.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    definition.lpszClassName = windowClass;
    if (RegisterClassExW(&definition) == 0) {
        RaiseLastSystemError();
    }
}

// Regular, default character set; the height is the character height (negative in LOGFONT).
Font MakeFont(int height) {
    Font font(CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, Wide(Text(fontFace))));
    if (!font) {
        RaiseLastSystemError();
    }
    return font;
}

bool KeyDown(int key) {
    return GetKeyState(key) < 0;
}

}  // namespace

TForm1::TForm1() {
    Form1 = this;
    RegisterWindowClass(&Procedure);
    // Created at 96 DPI where the platform puts new windows; once the window exists its monitor
    // is known, and the layout is scaled to that monitor's DPI.
    const SIZE outer =
        OuterSize(layout_.clientWidth, layout_.clientHeight, windowStyle, windowExStyle, designDpi);
    const HWND window = CreateWindowExW(
        windowExStyle, windowClass, Wide(Text(formCaption)), windowStyle, CW_USEDEFAULT,
        CW_USEDEFAULT, outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (window == nullptr) {
        RaiseLastSystemError();
    }
    layout_ = ScaleLayout(layout_, WindowDpi(window));
    ApplyLayout();
    SizeToClient();
    SetPlatformWindow(Handle());
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ApplicationIcon()));
}

TForm1::~TForm1() {
    window_.Destroy();
    Form1 = nullptr;
    // The chosen path lives as long as the window module: its end releases it.
    selectedFile.clear();
    selectedFile.shrink_to_fit();
}

HWND TForm1::Handle() const {
    return window_.Get();
}

bool TForm1::DialogKey(const MSG& message) {
    if (message.message != WM_KEYDOWN ||
        (message.hwnd != Handle() && !IsChild(Handle(), message.hwnd))) {
        return false;
    }
    const bool controlHasFocus = IsChild(Handle(), GetFocus());
    switch (message.wParam) {
        case VK_TAB:
            if (KeyDown(VK_CONTROL) || KeyDown(VK_MENU)) {
                return false;
            }
            // Button1 is the only focusable control: Tab and Shift+Tab both land on it, also
            // when the window itself has the focus.
            if (Button1.CanFocus()) {
                SetFocus(Button1.Handle());
            }
            return true;
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
            // The focused control has no sibling to move to; without one, arrows do nothing here.
            return controlHasFocus;
        case VK_RETURN:
            if (KeyDown(VK_SHIFT) || KeyDown(VK_CONTROL) || KeyDown(VK_MENU) ||
                !Button1.Focused()) {
                return false;
            }
            SendMessageW(Button1.Handle(), BM_CLICK, 0, 0);
            return true;
        default:
            return false;
    }
}

LRESULT CALLBACK TForm1::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->window_.Adopt(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        ReleaseFocusRecord(window);
        if (form != nullptr) {
            form->window_.Forget();
        }
    }
    if (form == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return GuardedMessage(
        [&](LRESULT& result) { result = form->HandleMessage(message, wParam, lParam); });
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_PRINTCLIENT: {
            RECT client{};
            GetClientRect(Handle(), &client);
            PaintContent(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_ERASEBKGND:
            // The paint fills the background itself.
            return 1;
        case WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(palette_.Background());
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
            OnSchemeChanged(message, wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            OnActivate(wParam);
            return 0;
        case WM_COMMAND:
            return OnCommand(wParam, lParam);
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_GETOBJECT:
            if (const auto answer = accessibility_.Answer(wParam, lParam)) {
                return *answer;
            }
            return DefWindowProcW(Handle(), message, wParam, lParam);
        case WM_CLOSE:
            // No question, no close handler: the main window's close ends the application.
            RequestTermination();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != 0) {
                // The session ends now: no way back to the event loop.
                RequestTermination();
                EndApplication();
            }
            return 0;
        default:
            return DefWindowProcW(Handle(), message, wParam, lParam);
    }
}

HWND TForm1::AccessibleWindow() const noexcept {
    return Handle();
}

TextView TForm1::AccessibleName() const noexcept {
    return formCaption;
}

long TForm1::PartCount() const noexcept {
    return button1Part;
}

AccessiblePart TForm1::Part(long id) const noexcept {
    using Kind = AccessiblePart::Kind;
    const auto label = [](const DrawnLabel& control) {
        return AccessiblePart{.kind = Kind::staticText,
                              .name = control.Caption(),
                              .visible = control.Visible(),
                              .focused = false,
                              .bounds = control.Area(),
                              .window = nullptr,
                              .pressable = false};
    };
    switch (id) {
        case label1Part:
            return label(Label1);
        case label2Part:
            return label(Label2);
        case label3Part:
            return label(Label3);
        case label4Part:
            return label(Label4);
        default:
            return {.kind = Kind::pushButton,
                    .name = button1Caption,
                    .visible = Button1.Visible(),
                    .focused = Button1.Focused(),
                    .bounds = Button1.Area(),
                    .window = Button1.Handle(),
                    .pressable = Button1.TakesClicks()};
    }
}

void TForm1::OnPaint() {
    {
        const PaintScope paint(Handle());
        PaintContent(paint.Dc(), paint.Dirty());
    }
    // "Credits :" is not revealed: it appears with the window. Readers are told of it once the
    // window's first paint has put it on screen, before the reveal tells them of the lines below.
    if (!headingAnnounced_) {
        headingAnnounced_ = true;
        accessibility_.AnnounceShown(label1Part);
    }
}

void TForm1::PaintContent(HDC dc, const RECT& dirty) {
    FillRect(dc, &dirty, palette_.Background());
    Logo.Paint(dc, layout_.logo);
    Label1.Paint(dc, palette_.Text());
    Label2.Paint(dc, palette_.Text());
    Label3.Paint(dc, palette_.Text());
    Label4.Paint(dc, palette_.Text());
}

// The user changed the colours, high contrast or the visual theme: the colours are read again and
// the whole window is painted at once, the button with it, which the platform draws in the new
// scheme. The common controls learn of new system colours only from their parent.
void TForm1::OnSchemeChanged(UINT message, WPARAM wParam, LPARAM lParam) {
    palette_.Refresh();
    if (message == WM_SYSCOLORCHANGE && Button1.Handle() != nullptr) {
        SendMessageW(Button1.Handle(), message, wParam, lParam);
    }
    RedrawWindow(Handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// The focus goes to the control that had it when the window was left, else to the first
// focusable control, else (Button1 still hidden) to the window itself. A minimised window takes
// none. The activation handler runs when the focus record named another window or none: so only
// at the first activation, not when the user comes back from another program or a dialog closes.
void TForm1::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        if (const HWND focused = GetFocus(); focused != nullptr && IsChild(Handle(), focused)) {
            lastFocusedControl_ = focused;
        }
        return;
    }
    if (HIWORD(wParam) == 0) {
        SetFocus(FocusTarget());
    }
    if (ClaimFocusRecord(Handle())) {
        FormActivate(this);
    }
}

HWND TForm1::FocusTarget() const {
    if (lastFocusedControl_ != nullptr && IsWindowVisible(lastFocusedControl_) &&
        IsWindowEnabled(lastFocusedControl_)) {
        return lastFocusedControl_;
    }
    return Button1.CanFocus() ? Button1.Handle() : Handle();
}

LRESULT TForm1::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == button1Id && HIWORD(wParam) == BN_CLICKED &&
        reinterpret_cast<HWND>(lParam) == Button1.Handle()) {
        Button1Click(&Button1);
    }
    return 0;
}

// A new monitor scale: the layout is scaled from the current DPI to the new one, the labels
// measure themselves in their new fonts, and the window takes the rectangle that the platform
// suggests.
void TForm1::OnDpiChanged(int dpi, const RECT& suggested) {
    layout_ = ScaleLayout(layout_, dpi);
    ApplyLayout();
    SetWindowPos(Handle(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(Handle(), nullptr, TRUE);
}

// Fonts and controls from the current layout. The new fonts are in place before the old ones go.
void TForm1::ApplyLayout() {
    Font windowFont = MakeFont(layout_.windowFontHeight);
    Font creditsFont = MakeFont(layout_.creditsFontHeight);
    Label1.Place(Handle(), layout_.label1, creditsFont.Get());
    Label2.Place(Handle(), layout_.label2, creditsFont.Get());
    Label3.Place(Handle(), layout_.label3, creditsFont.Get());
    Label4.Place(Handle(), layout_.label4, windowFont.Get());
    Button1.Place(Handle(), layout_.button1, windowFont.Get());
    windowFont_ = std::move(windowFont);
    creditsFont_ = std::move(creditsFont);
}

void TForm1::SizeToClient() {
    const SIZE outer = OuterSize(layout_.clientWidth, layout_.clientHeight, windowStyle,
                                 windowExStyle, layout_.dpi);
    SetWindowPos(Handle(), nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
