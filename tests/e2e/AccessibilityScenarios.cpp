// The installer as a screen reader meets it from its own process: the events that it hears (the
// heading once the window is first painted, each line and the button as the reveal shows them, the
// button's focus after Tab), what it reads of each object when its event arrives (the requests
// wait while the reveal holds the installer's thread, and are answered once the reveal is over),
// and the button pressed through its default action, as voice control presses it. The scenarios
// run in this order on one start of the installer.

#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Installer.h"
#include "KeyInput.h"
#include "Poll.h"
#include "ReaderThread.h"
#include "WindowQuery.h"
#include "tests/support/MsaaClient.h"
#include "win32/ComPtr.h"

namespace e2e {
namespace {

constexpr milliseconds kRevealTimeout{20000};
constexpr milliseconds kAnswerTimeout{5000};
constexpr milliseconds kBoxTimeout{10000};

// Written out by hand, not taken from the program's code, so that a mistake there shows.
constexpr wchar_t kCaption[] = L"Le Talvor Map Installer";
constexpr wchar_t kTitle[] = L"Talvor_skarnel_installer";
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
constexpr long kButtonPart = 5;

long IntegerOf(const VARIANT& variant) {
    return variant.vt == VT_I4 ? variant.lVal : -1;
}

// What a reader reads of one accessible item.
struct ReadItem {
    HRESULT result = E_PENDING;
    std::wstring name;
    long role = 0;
    long state = 0;
};

ReadItem ReadChild(IAccessible& object, const VARIANT& child) {
    ReadItem item;
    BSTR name = nullptr;
    item.result = object.get_accName(child, &name);
    if (SUCCEEDED(item.result) && name != nullptr) {
        item.name.assign(name, SysStringLen(name));
    }
    SysFreeString(name);
    VARIANT value{};
    if (SUCCEEDED(object.get_accRole(child, &value))) {
        item.role = IntegerOf(value);
    }
    if (SUCCEEDED(object.get_accState(child, &value))) {
        item.state = IntegerOf(value);
    }
    return item;
}

// The client area's object, asked as a reader asks it once the installer takes messages. The
// call has no timeout of its own: the window is first asked to answer anything at all within a
// bound.
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

// One event that the reader heard, and what it read of the event's object, on its own thread.
struct HeardEvent {
    struct Reading {
        ReadItem item;
        Clock::time_point at;
    };

    DWORD event;
    HWND window;
    long child;
    Clock::time_point at;
    std::shared_ptr<Reading> reading;
    std::shared_ptr<const ReaderTask> task;

    bool Read() const { return task->Done(); }
};

// What a reader does when an event arrives: it asks for the event's object at once, however long
// the program takes to answer.
void ReadEventObject(HWND window, LONG object, LONG child, HeardEvent::Reading& reading) {
    ComPtr<IAccessible> accessible;
    VARIANT item{};
    reading.item.result = AccessibleObjectFromEvent(
        window, static_cast<DWORD>(object), static_cast<DWORD>(child), accessible.Put(), &item);
    if (SUCCEEDED(reading.item.result) && accessible) {
        reading.item = ReadChild(*accessible.Get(), item);
    }
    VariantClear(&item);
    reading.at = Clock::now();
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

// A screen reader's view: out-of-context events of every process, heard while this thread takes
// its messages, and the reads that they start on the reader's own thread. Made before the
// installer starts, as a reader is: under Wine a thread that has not asked for a message since a
// hook was set does not see it, and the installer's reveal runs before its first message.
class ScreenReaderClient {
  public:
    ScreenReaderClient() {
        current_ = this;
        hook_ = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_FOCUS, nullptr, &Received, 0, 0,
                                WINEVENT_OUTOFCONTEXT);
    }
    ~ScreenReaderClient() {
        if (hook_ != nullptr) {
            UnhookWinEvent(hook_);
        }
        current_ = nullptr;
    }
    ScreenReaderClient(const ScreenReaderClient&) = delete;
    ScreenReaderClient& operator=(const ScreenReaderClient&) = delete;

    bool Hooked() const { return hook_ != nullptr; }
    // From now on, the events of this program count: the show events of its window's parts and
    // the focus events of its windows.
    void Follow(DWORD processId, HWND window) {
        processId_ = processId;
        window_ = window;
    }
    const std::deque<HeardEvent>& Heard() const { return heard_; }
    ReaderThread& Reader() { return reader_; }

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
    // Wine raises show events of its own for the window and its button (the window itself, not a
    // part of its client area): they are not the parts'.
    static void CALLBACK Received(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child,
                                  DWORD, DWORD) {
        if (current_ == nullptr || window == nullptr) {
            return;
        }
        ScreenReaderClient& self = *current_;
        const bool partShown = event == EVENT_OBJECT_SHOW && window == self.window_ &&
                               static_cast<DWORD>(object) == static_cast<DWORD>(OBJID_CLIENT) &&
                               child != CHILDID_SELF;
        const bool focus = event == EVENT_OBJECT_FOCUS && self.processId_ != 0 &&
                           ProcessOf(window) == self.processId_;
        if (partShown || focus) {
            self.Hear(event, window, object, child);
        }
    }

    void Hear(DWORD event, HWND window, LONG object, LONG child) {
        auto reading = std::make_shared<HeardEvent::Reading>();
        auto task = reader_.Post([=] { ReadEventObject(window, object, child, *reading); });
        heard_.push_back({event, window, child, Clock::now(), reading, task});
    }

    static inline ScreenReaderClient* current_ = nullptr;
    ReaderThread reader_;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
    HWINEVENTHOOK hook_ = nullptr;
    // A deque, so that an event heard keeps its place while later ones come.
    std::deque<HeardEvent> heard_;
};

// The show events heard, in order.
std::vector<const HeardEvent*> ShowEvents(const ScreenReaderClient& client) {
    std::vector<const HeardEvent*> shown;
    for (const HeardEvent& heard : client.Heard()) {
        if (heard.event == EVENT_OBJECT_SHOW) {
            shown.push_back(&heard);
        }
    }
    return shown;
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class ScreenReader : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            client_ = std::make_unique<ScreenReaderClient>();
            if (!client_->Hooked()) {
                startError_ = "SetWinEventHook failed";
                return;
            }
            installer_.emplace(Installer::Start());
            client_->Follow(installer_->Proc().Id(), installer_->Window());
            // The heading and the four parts shown by the reveal, each read.
            client_->PumpUntil(
                [] {
                    const auto shown = ShowEvents(*client_);
                    return shown.size() >= std::size(kParts) && shown.back()->Read();
                },
                kRevealTimeout);
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }
    // The installer goes first: a request that still waits for it then ends.
    static void TearDownTestSuite() {
        installer_.reset();
        client_.reset();
    }
    void SetUp() override { ASSERT_TRUE(startError_.empty()) << startError_; }

    static const Installer& Running() { return *installer_; }
    static ScreenReaderClient& Client() { return *client_; }

  private:
    static inline std::unique_ptr<ScreenReaderClient> client_;
    static inline std::optional<Installer> installer_;
    static inline std::string startError_;
};

TEST_F(ScreenReader, HearsTheHeadingFirstThenEachPartWhenItAppears) {
    const std::vector<const HeardEvent*> shown = ShowEvents(Client());
    ASSERT_EQ(shown.size(), std::size(kParts))
        << "one show event for the heading at the first paint, and one for each of Label2, "
           "Label3, Label4 and Button1";
    // The heading with the first paint, then Label2 at 2 s, Label3 at 5, Label4 at 8 and Button1
    // at 10: 2, 3, 3 and 2 s apart.
    const double gaps[] = {2.0, 3.0, 3.0, 2.0};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i]->child, static_cast<long>(i) + 1);
        std::printf("show event of part %ld heard at %.3f s\n", shown[i]->child,
                    SecondsSince(shown[0]->at, shown[i]->at));
        if (i > 0) {
            EXPECT_NEAR(SecondsSince(shown[i - 1]->at, shown[i]->at), gaps[i - 1], 0.5)
                << "between the events of parts " << i << " and " << i + 1;
        }
    }
}

TEST_F(ScreenReader, ReadsEachPartWhenItsEventArrivesOnceTheRevealIsOver) {
    const std::vector<const HeardEvent*> shown = ShowEvents(Client());
    ASSERT_EQ(shown.size(), std::size(kParts));
    const Clock::time_point revealEnd = shown.back()->at;
    for (const HeardEvent* heard : shown) {
        SCOPED_TRACE("part " + std::to_string(heard->child));
        ASSERT_TRUE(heard->Read());
        const HeardEvent::Reading& reading = *heard->reading;
        std::printf("part %ld, asked at %.3f s, read at %.3f s\n", heard->child,
                    SecondsSince(shown[0]->at, heard->at), SecondsSince(shown[0]->at, reading.at));
        const PartText& expected = kParts[heard->child - 1];
        EXPECT_EQ(reading.item.result, S_OK);
        EXPECT_EQ(reading.item.name, expected.name);
        EXPECT_EQ(reading.item.role, expected.role);
        EXPECT_EQ(reading.item.state & STATE_SYSTEM_INVISIBLE, 0);
        // The reveal holds the installer's thread: every read, the heading's asked ten seconds
        // earlier included, is answered once it is over, and promptly then. (The last event is
        // heard at this thread's next look at its messages, up to a poll interval late.)
        EXPECT_GE(SecondsSince(revealEnd, reading.at), -0.1);
        EXPECT_LE(SecondsSince(revealEnd, reading.at), 2.0);
    }

    // The whole tree, read afresh once the reveal is over.
    const auto asked = Clock::now();
    const ComPtr<IAccessible> client = ClientObject(Running().Window());
    ASSERT_TRUE(client) << "no accessible object for the client area";
    std::printf("the client area's object came %.3f s after it was asked for\n",
                SecondsSince(asked, Clock::now()));
    const ReadItem self = ReadChild(*client.Get(), Child(CHILDID_SELF));
    EXPECT_EQ(self.name, kCaption);
    EXPECT_EQ(self.role, ROLE_SYSTEM_CLIENT);
    LONG count = 0;
    ASSERT_EQ(client->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, static_cast<LONG>(std::size(kParts)));
}

TEST_F(ScreenReader, HearsTheButtonTakeTheFocusAfterTab) {
    const std::size_t before = Client().Heard().size();
    const auto pressed = Clock::now();
    PostKeyPress(Running().Window(), VK_TAB);
    const HeardEvent* focus = nullptr;
    Client().PumpUntil(
        [&] {
            for (std::size_t i = before; focus == nullptr && i < Client().Heard().size(); ++i) {
                if (Client().Heard()[i].event == EVENT_OBJECT_FOCUS) {
                    focus = &Client().Heard()[i];
                }
            }
            return focus != nullptr && focus->Read();
        },
        kAnswerTimeout);
    ASSERT_NE(focus, nullptr) << "no focus event after Tab";
    ASSERT_TRUE(focus->Read()) << "the focused object was not read";
    std::printf("focus event heard %.3f s after Tab, its object read %.3f s after Tab\n",
                SecondsSince(pressed, focus->at), SecondsSince(pressed, focus->reading->at));

    // The platform raises it for the button's own window, whose own object the reader reads.
    EXPECT_EQ(focus->window, Running().Button1());
    EXPECT_EQ(focus->child, CHILDID_SELF);
    const ReadItem& item = focus->reading->item;
    EXPECT_EQ(item.name, kParts[kButtonPart - 1].name);
    EXPECT_NE(item.state & STATE_SYSTEM_FOCUSED, 0);
    // Windows' object for a button window is a push button; Wine's says client area.
    EXPECT_EQ(item.role, UnderWine() ? ROLE_SYSTEM_CLIENT : ROLE_SYSTEM_PUSHBUTTON);

    // The client area's object says the same of its button.
    const ComPtr<IAccessible> client = ClientObject(Running().Window());
    ASSERT_TRUE(client);
    VARIANT focused{};
    ASSERT_EQ(client->get_accFocus(&focused), S_OK);
    EXPECT_EQ(IntegerOf(focused), kButtonPart);
    EXPECT_NE(ReadChild(*client.Get(), Child(kButtonPart)).state & STATE_SYSTEM_FOCUSED, 0);
}

TEST_F(ScreenReader, PressesTheButtonThroughItsDefaultActionAndTheDialogOpens) {
    struct Press {
        HRESULT named = E_PENDING;
        std::wstring action;
        HRESULT pressed = E_PENDING;
        double seconds = 0;
        bool dialogWhenReturned = false;
    };
    auto press = std::make_shared<Press>();
    const Installer& installer = Running();
    const HWND window = installer.Window();
    const auto fileDialog = [window, process = installer.Proc().Id()] {
        for (HWND box : TopLevelWindows(process, L"#32770", window)) {
            if (IsWindowVisible(box) && FileNameBox(box) != nullptr) {
                return box;
            }
        }
        return HWND{};
    };
    // As voice control presses it: the action's name, then the action, on the reader's thread.
    const auto task = Client().Reader().Post([press, window, fileDialog] {
        const ComPtr<IAccessible> client = ClientObject(window);
        if (!client) {
            return;
        }
        BSTR action = nullptr;
        press->named = client->get_accDefaultAction(Child(kButtonPart), &action);
        press->action.assign(action != nullptr ? action : L"", SysStringLen(action));
        SysFreeString(action);
        const auto asked = Clock::now();
        press->pressed = client->accDoDefaultAction(Child(kButtonPart));
        press->seconds = SecondsSince(asked, Clock::now());
        press->dialogWhenReturned = fileDialog() != nullptr;
    });
    ASSERT_TRUE(WaitUntil([&] { return task->Done(); }, kAnswerTimeout))
        << "the press did not return";
    std::printf("accDoDefaultAction returned after %.3f s\n", press->seconds);

    EXPECT_EQ(press->named, S_OK);
    EXPECT_EQ(press->action, PlatformPressName(installer.Button1()));
    ASSERT_EQ(press->pressed, S_OK);
    EXPECT_FALSE(press->dialogWhenReturned) << "the click comes after the call has returned";

    // The click handler runs as for a click: the file-open dialog, and after a cancel the notice
    // and the end of the program.
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = fileDialog()) != nullptr; }, kBoxTimeout))
        << "no file-open dialog after the press";
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    const HWND notice =
        installer.WaitForBox([](HWND box) { return Caption(box) == kTitle; }, kBoxTimeout);
    ASSERT_NE(notice, nullptr) << "no notice after the cancel";
    PostMessageW(GetDlgItem(notice, 1), BM_CLICK, 0, 0);
    EXPECT_EQ(installer.Proc().WaitForExit(kBoxTimeout), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace e2e
