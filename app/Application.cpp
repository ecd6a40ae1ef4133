#include "app/Application.h"

#include <memory>
#include <optional>

#include "app/ApplicationIdentity.h"
#include "app/ApplicationTitle.h"
#include "app/ErrorReporting.h"
#include "app/SystemError.h"
#include "text/WideText_win.h"
#include "win32/ComFunctions.h"
#include "win32/ModulePath.h"

namespace {

// The thread initialised for OLE (drag and drop, the clipboard) or in a single-threaded COM
// apartment (which the file-open dialog needs) for as long as the object lives. Only a successful
// initialisation is undone; without ole32 the thread stays as it is.
class ThreadInitialization {
  public:
    ThreadInitialization(decltype(&OleInitialize) initialize,
                         decltype(&OleUninitialize) uninitialize)
        : uninitialize_(initialize != nullptr && SUCCEEDED(initialize(nullptr)) ? uninitialize
                                                                                : nullptr) {}
    ~ThreadInitialization() {
        if (uninitialize_ != nullptr) {
            uninitialize_();
        }
    }
    ThreadInitialization(const ThreadInitialization&) = delete;
    ThreadInitialization& operator=(const ThreadInitialization&) = delete;

  private:
    decltype(&OleUninitialize) uninitialize_;
};

// The one application state of the process.
struct ApplicationState {
    int showCommand = SW_SHOWDEFAULT;
    std::optional<ThreadInitialization> ole;
    ApplicationIdentity identity;
    HWND focusRecord = nullptr;
    bool terminated = false;
    std::optional<ThreadInitialization> com;
    std::unique_ptr<MainWindow> mainWindow;
};

ApplicationState* application = nullptr;

constexpr wchar_t hiddenWindowClass[] = L"InstallerApplication";

int LaunchShowCommand() {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
}

Text LowerCase(Text text) {
    if (!text.empty()) {
        CharLowerW(reinterpret_cast<wchar_t*>(text.data()));
    }
    return text;
}

Text ExecutablePath() {
    Text path = ModulePath(nullptr);
    if (path.empty()) {
        RaiseLastSystemError();
    }
    return path;
}

LRESULT CALLBACK HiddenWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedMessage(
        [&](LRESULT& result) { result = DefWindowProcW(window, message, wParam, lParam); });
}

// A tool window that is never shown, so the main window's is the one taskbar button.
Window CreateHiddenWindow(const Text& title) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = HiddenWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = hiddenWindowClass;
    if (RegisterClassExW(&windowClass) == 0) {
        RaiseLastSystemError();
    }
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, hiddenWindowClass, Wide(title),
                                        WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        RaiseLastSystemError();
    }
    return Window(window);
}

void SetUp(ApplicationState& state) {
    state.ole.emplace(Com().oleInitialize, Com().oleUninitialize);
    ApplicationIdentity& identity = state.identity;
    identity.title = ApplicationTitleFromPath(ExecutablePath(), LowerCase);
    identity.icon = LoadIconW(GetModuleHandleW(nullptr), L"MAINICON");
    if (identity.icon == nullptr) {
        identity.icon = LoadIconW(nullptr, IDI_APPLICATION);
    }
    identity.hiddenWindow = CreateHiddenWindow(identity.title);
}

// Shows the main window as the launch asked (maximised, minimised or normal). Showing activates
// the window where the platform lets the process take the foreground, and the first activation
// runs the credits reveal before this returns.
void Show(HWND window, int showCommand) {
    switch (showCommand) {
        case SW_SHOWMAXIMIZED:
            ShowWindow(window, SW_SHOWMAXIMIZED);
            break;
        case SW_SHOWMINNOACTIVE:
            // Brought to the top without SWP_NOACTIVATE: activated while it stays minimised.
            ShowWindow(window, SW_SHOWMINNOACTIVE);
            SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            break;
        default:
            ShowWindow(window, SW_SHOWNORMAL);
            break;
    }
}

bool IsKeyMessage(UINT message) {
    return message >= WM_KEYFIRST && message <= WM_KEYLAST;
}

// One turn of the event loop: one message handled, or a wait for the next one.
void HandleMessageTurn(ApplicationState& state) {
    MSG message{};
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        WaitMessage();
        return;
    }
    if (message.message == WM_QUIT) {
        state.terminated = true;
        return;
    }
    if (IsKeyMessage(message.message) && state.mainWindow != nullptr &&
        state.mainWindow->DialogKey(message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

void RequestTermination() {
    PostQuitMessage(0);
}

bool ClaimFocusRecord(HWND window) {
    if (application == nullptr || application->focusRecord == window) {
        return false;
    }
    application->focusRecord = window;
    return true;
}

void ReleaseFocusRecord(HWND window) {
    if (application != nullptr && application->focusRecord == window) {
        application->focusRecord = nullptr;
    }
}

void RunApplication(MainWindowFactory createMainWindow) {
    ApplicationState state;
    application = &state;
    SetApplicationIdentity(&state.identity);
    state.showCommand = LaunchShowCommand();
    Guarded([&] {
        SetUp(state);
        state.com.emplace(Com().initialize, Com().uninitialize);
        // The main window is created without an owner and with WS_EX_APPWINDOW: its taskbar
        // button is the application's only one.
        state.mainWindow = createMainWindow();
    });
    if (state.mainWindow != nullptr) {
        Guarded([&] { Show(state.mainWindow->PlatformWindow(), state.showCommand); });
        while (!state.terminated) {
            Guarded([&] { HandleMessageTurn(state); });
        }
    }
    EndApplication();
}

void EndApplication() {
    ApplicationState& state = *application;
    // Pop-ups owned by the application's windows go first, unseen.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) CALLBACK -> BOOL {
            if (GetWindow(window, GW_OWNER) != nullptr && IsWindowVisible(window)) {
                ShowWindow(window, SW_HIDE);
            }
            return TRUE;
        },
        0);
    state.mainWindow.reset();
    state.identity.hiddenWindow = Window();
    state.com.reset();
    state.ole.reset();
    ExitProcess(0);
}
