// The installer as a screen reader meets it from its own process: the show events that the reveal
// raises as each part appears, and the accessible tree of the client area read once the reveal has
// ended. (While the reveal runs, the installer's thread sleeps and answers no request.)

#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Installer.h"
#include "Poll.h"
#include "win32/ComPtr.h"

namespace e2e {
namespace {

constexpr milliseconds kRevealTimeout{20000};

// Written out from the program's description, not taken from its code.
constexpr wchar_t kCaption[] = L"Le Talvor Map Installer";
struct PartText {
    long role;
    const wchar_t* name;
};
const PartText kParts[] = {
    {ROLE_SYSTEM_STATICTEXT, L"Credits :"},
    {ROLE_SYSTEM_STATICTEXT, L"Map : Gaspard Milon (CN : VQ)"},
    {ROLE_SYSTEM_STATICTEXT, L"Installer : No\u00e9mie Castel (CN : RT3)"},
    {ROLE_SYSTEM_STATICTEXT,
     L"La carte va maintenant \u00eatre appliqu\u00e9e \u00e0 votre profil LX\r\n"
     L"    The map will now be applied to your LX profile"},
    {ROLE_SYSTEM_PUSHBUTTON, L"S\u00e9lection profil / Select profile"},
};

// One show event about the client area of the watched window.
struct ShowEvent {
    long child;
    Clock::time_point at;
};

// Receives the show events of every process, out of context, as a screen reader does: they
// arrive while this thread takes its messages. Made before the installer starts, as a reader is:
// under Wine a thread that has not asked for a message since a hook was set does not see it, and
// the installer's reveal runs before its first message.
class ShowEventWatch {
  public:
    ShowEventWatch() {
        current_ = this;
        hook_ = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, &Received, 0, 0,
                                WINEVENT_OUTOFCONTEXT);
    }
    ~ShowEventWatch() {
        if (hook_ != nullptr) {
            UnhookWinEvent(hook_);
        }
        current_ = nullptr;
    }
    ShowEventWatch(const ShowEventWatch&) = delete;
    ShowEventWatch& operator=(const ShowEventWatch&) = delete;

    bool Hooked() const { return hook_ != nullptr; }
    // Only the events about this window's client area count.
    void Follow(HWND window) { window_ = window; }
    const std::vector<ShowEvent>& Events() const { return events_; }

    // Takes this thread's messages, and with them the events, until `done` holds or `timeout`.
    template <typename Done>
    bool PumpUntil(Done done, milliseconds timeout) {
        return WaitUntil(
            [&] {
                MSG message{};
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    DispatchMessageW(&message);
                }
                return done();
            },
            timeout);
    }

  private:
    // Wine raises events of its own for the window and its button: they are not the parts'.
    static void CALLBACK Received(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                                  DWORD) {
        if (current_ != nullptr && window != nullptr && window == current_->window_ &&
            static_cast<DWORD>(object) == static_cast<DWORD>(OBJID_CLIENT) &&
            child != CHILDID_SELF) {
            current_->events_.push_back({child, Clock::now()});
        }
    }

    static inline ShowEventWatch* current_ = nullptr;
    HWND window_ = nullptr;
    HWINEVENTHOOK hook_ = nullptr;
    std::vector<ShowEvent> events_;
};

// What a reader reads of one accessible item.
struct ReadItem {
    std::wstring name;
    long role = 0;
    long state = 0;
};

long IntegerOf(const VARIANT& variant) {
    return variant.vt == VT_I4 ? variant.lVal : -1;
}

ReadItem ReadChild(IAccessible& object, long id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    ReadItem item;
    BSTR name = nullptr;
    if (SUCCEEDED(object.get_accName(child, &name)) && name != nullptr) {
        item.name.assign(name, SysStringLen(name));
        SysFreeString(name);
    }
    VARIANT value{};
    if (SUCCEEDED(object.get_accRole(child, &value))) {
        item.role = IntegerOf(value);
    }
    if (SUCCEEDED(object.get_accState(child, &value))) {
        item.state = IntegerOf(value);
    }
    return item;
}

// The client area's object, asked as a reader asks it. The call has no timeout of its own: the
// window is first asked to answer anything at all within a bound.
ComPtr<IAccessible> ClientObject(HWND window) {
    ComPtr<IAccessible> object;
    DWORD_PTR unused = 0;
    if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &unused) == 0) {
        return object;
    }
    AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                               object.PutVoid());
    return object;
}

class ScreenReader : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            ShowEventWatch watch;
            if (!watch.Hooked()) {
                startError_ = "SetWinEventHook failed";
                return;
            }
            installer_.emplace(Installer::Start());
            watch.Follow(installer_->Window());
            const std::size_t parts = std::size(kParts);
            watch.PumpUntil([&] { return watch.Events().size() >= parts - 1; }, kRevealTimeout);
            // The last event and the end of the reveal are a moment apart.
            watch.PumpUntil([] { return false; }, milliseconds(200));
            events_ = watch.Events();
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }
    static void TearDownTestSuite() { installer_.reset(); }
    void SetUp() override { ASSERT_TRUE(startError_.empty()) << startError_; }

    static const Installer& Running() { return *installer_; }
    static const std::vector<ShowEvent>& Events() { return events_; }

  private:
    static inline std::optional<Installer> installer_;
    static inline std::vector<ShowEvent> events_;
    static inline std::string startError_;
};

TEST_F(ScreenReader, IsToldOfEachPartWhenItAppears) {
    const std::vector<ShowEvent>& events = Events();
    ASSERT_EQ(events.size(), 4u) << "one show event for each of Label2, Label3, Label4, Button1";
    // Label2 at 2 s, Label3 at 5, Label4 at 8, Button1 at 10: 3, 3 and 2 s apart.
    const double gaps[] = {3.0, 3.0, 2.0};
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].child, static_cast<long>(i) + 2);
        if (i > 0) {
            const double gap = SecondsSince(events[i - 1].at, events[i].at);
            EXPECT_NEAR(gap, gaps[i - 1], 0.5)
                << "between the events of parts " << i + 1 << " and " << i + 2;
        }
    }
}

TEST_F(ScreenReader, ReadsEveryPartVisibleAfterTheReveal) {
    const auto asked = Clock::now();
    const ComPtr<IAccessible> client = ClientObject(Running().Window());
    ASSERT_TRUE(client) << "no accessible object for the client area";
    std::printf("the client area's object came %.3f s after it was asked for\n",
                SecondsSince(asked, Clock::now()));

    const ReadItem self = ReadChild(*client.Get(), CHILDID_SELF);
    EXPECT_EQ(self.name, kCaption);
    EXPECT_EQ(self.role, ROLE_SYSTEM_CLIENT);
    LONG count = 0;
    ASSERT_EQ(client->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, static_cast<LONG>(std::size(kParts)));
    for (long id = 1; id <= count; ++id) {
        SCOPED_TRACE("part " + std::to_string(id));
        const PartText& expected = kParts[id - 1];
        const ReadItem part = ReadChild(*client.Get(), id);
        EXPECT_EQ(part.name, expected.name);
        EXPECT_EQ(part.role, expected.role);
        EXPECT_EQ(part.state & STATE_SYSTEM_INVISIBLE, 0);
        if (expected.role == ROLE_SYSTEM_PUSHBUTTON) {
            EXPECT_NE(part.state & STATE_SYSTEM_FOCUSABLE, 0);
        }
    }
}

}  // namespace
}  // namespace e2e
