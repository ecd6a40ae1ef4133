// The main window's accessible object asked in-process: what a screen reader reads of each part
// before the reveal, where it finds them, how it presses the button once the reveal has shown it,
// and what it gets once the window is gone.

#include <gtest/gtest.h>

#include <windows.h>

#include <oleacc.h>

#include <optional>
#include <string>

#include "MapInstaller/MapInstaller.h"
#include "support/MsaaClient.h"
#include "win32/ComPtr.h"

namespace {

// The test's thread in a single-threaded apartment, as the installer's is.
class Apartment {
  public:
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

// The object that the window gives for `objectId`, as a reader receives it.
ComPtr<IAccessible> AccessibleOf(HWND window, LPARAM objectId) {
    ComPtr<IAccessible> object;
    const LRESULT result = SendMessageW(window, WM_GETOBJECT, 0, objectId);
    if (result > 0) {
        ObjectFromLresult(result, __uuidof(IAccessible), 0, object.PutVoid());
    }
    return object;
}

std::wstring NameOf(IAccessible& object, long id) {
    BSTR name = nullptr;
    if (FAILED(object.get_accName(Child(id), &name)) || name == nullptr) {
        return L"(none)";
    }
    std::wstring text(name, SysStringLen(name));
    SysFreeString(name);
    return text;
}

long IntegerOf(HRESULT result, const VARIANT& value) {
    return SUCCEEDED(result) && value.vt == VT_I4 ? value.lVal : -1;
}

long RoleOf(IAccessible& object, long id) {
    VARIANT role{};
    return IntegerOf(object.get_accRole(Child(id), &role), role);
}

long StateOf(IAccessible& object, long id) {
    VARIANT state{};
    return IntegerOf(object.get_accState(Child(id), &state), state);
}

// The default action's name, or the call's result when it gives none.
std::wstring DefaultActionOf(IAccessible& object, long id) {
    BSTR action = nullptr;
    const HRESULT result = object.get_accDefaultAction(Child(id), &action);
    if (result != S_OK || action == nullptr) {
        return L"(result " + std::to_wstring(static_cast<unsigned long>(result)) + L")";
    }
    std::wstring text(action, SysStringLen(action));
    SysFreeString(action);
    return text;
}

void PumpMessages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Counts the clicks that Button1 reports to the window, and keeps them from it: its click handler
// would open the modal file-open dialog.
class ClickCatcher {
  public:
    explicit ClickCatcher(HWND window) : window_(window) {
        clicks_ = 0;
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)));
    }
    ~ClickCatcher() {
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    }
    ClickCatcher(const ClickCatcher&) = delete;
    ClickCatcher& operator=(const ClickCatcher&) = delete;

    int Count() const { return clicks_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            ++clicks_;
            return 0;
        }
        return CallWindowProcW(original_, window, message, wParam, lParam);
    }

    static inline int clicks_ = 0;
    static inline WNDPROC original_ = nullptr;
    HWND window_;
};

class AccessibilityTest : public testing::Test {
  protected:
    IAccessible& Client() { return *client.Get(); }

    Apartment apartment;
    TForm1 form;
    ComPtr<IAccessible> client = AccessibleOf(form.Handle(), OBJID_CLIENT);
};

TEST_F(AccessibilityTest, ReadsTheLabelsAndTheButtonHiddenUntilTheReveal) {
    ASSERT_TRUE(client);
    EXPECT_EQ(NameOf(Client(), CHILDID_SELF), L"Le Talvor Map Installer");
    EXPECT_EQ(RoleOf(Client(), CHILDID_SELF), ROLE_SYSTEM_CLIENT);
    LONG count = 0;
    ASSERT_EQ(Client().get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, 5);

    const struct {
        long id;
        const wchar_t* name;
        long role;
        bool visible;
    } parts[] = {
        {1, L"Credits :", ROLE_SYSTEM_STATICTEXT, true},
        {2, L"Map : Gaspard Milon (CN : VQ)", ROLE_SYSTEM_STATICTEXT, false},
        {3, L"Installer : No\u00e9mie Castel (CN : RT3)", ROLE_SYSTEM_STATICTEXT, false},
        {4, L"La carte va maintenant \u00eatre appliqu\u00e9e \u00e0 votre profil LX",
         ROLE_SYSTEM_STATICTEXT, false},
        {5, L"S\u00e9lection profil / Select profile", ROLE_SYSTEM_PUSHBUTTON, false},
    };
    for (const auto& part : parts) {
        SCOPED_TRACE("part " + std::to_string(part.id));
        EXPECT_EQ(NameOf(Client(), part.id), part.name);
        EXPECT_EQ(RoleOf(Client(), part.id), part.role);
        const long state = StateOf(Client(), part.id);
        EXPECT_EQ((state & STATE_SYSTEM_INVISIBLE) == 0, part.visible);
        EXPECT_EQ((state & STATE_SYSTEM_FOCUSABLE) != 0, part.role == ROLE_SYSTEM_PUSHBUTTON);
        IDispatch* object = nullptr;
        EXPECT_EQ(Client().get_accChild(Child(part.id), &object), S_FALSE) << "a simple child";
        EXPECT_EQ(object, nullptr);
        // The labels have no action. The button has one, but is pressed only once it is shown.
        if (part.role == ROLE_SYSTEM_PUSHBUTTON) {
            EXPECT_EQ(DefaultActionOf(Client(), part.id), PlatformPressName(nullptr));
            EXPECT_EQ(Client().accDoDefaultAction(Child(part.id)), E_FAIL);
        } else {
            EXPECT_EQ(DefaultActionOf(Client(), part.id),
                      L"(result " +
                          std::to_wstring(static_cast<unsigned long>(DISP_E_MEMBERNOTFOUND)) +
                          L")");
            EXPECT_EQ(Client().accDoDefaultAction(Child(part.id)), DISP_E_MEMBERNOTFOUND);
        }
    }
    EXPECT_EQ(Client().accDoDefaultAction(Child(CHILDID_SELF)), DISP_E_MEMBERNOTFOUND);
    MSG posted{};
    EXPECT_FALSE(PeekMessageW(&posted, nullptr, BM_CLICK, BM_CLICK, PM_NOREMOVE));
    BSTR name = nullptr;
    EXPECT_EQ(Client().get_accName(Child(6), &name), E_INVALIDARG);
    EXPECT_EQ(Client().get_accName(Child(-1), &name), E_INVALIDARG);
}

// Wine sends the object id zero-extended to 64 bits, Windows sign-extended: both are the client.
TEST_F(AccessibilityTest, AnswersForTheClientAreaWhicheverWayItsIdIsWidened) {
    const LPARAM forms[] = {static_cast<LPARAM>(static_cast<LONG>(OBJID_CLIENT)),
                            static_cast<LPARAM>(static_cast<DWORD>(OBJID_CLIENT))};
    for (const LPARAM id : forms) {
        const ComPtr<IAccessible> object = AccessibleOf(form.Handle(), id);
        ASSERT_TRUE(object);
        LONG count = 0;
        EXPECT_EQ(object->get_accChildCount(&count), S_OK);
        EXPECT_EQ(count, 5);
    }
}

TEST_F(AccessibilityTest, LocatesTheVisiblePartsOnScreen) {
    ASSERT_TRUE(client);
    RECT heading{};
    ASSERT_EQ(Client().accLocation(&heading.left, &heading.top, &heading.right, &heading.bottom,
                                   Child(1)),
              S_OK);
    POINT corner{192, 0};
    ClientToScreen(form.Handle(), &corner);
    EXPECT_EQ(heading.left, corner.x);
    EXPECT_EQ(heading.top, corner.y);
    EXPECT_GT(heading.right, 0) << "a width";

    // The point in the middle of "Credits :" is the heading's; the hidden credit lines below it
    // are not found, their place is the client area's.
    VARIANT hit{};
    ASSERT_EQ(Client().accHitTest(heading.left + heading.right / 2,
                                  heading.top + heading.bottom / 2, &hit),
              S_OK);
    EXPECT_EQ(IntegerOf(S_OK, hit), 1);
    POINT hidden{200, 30};
    ClientToScreen(form.Handle(), &hidden);
    ASSERT_EQ(Client().accHitTest(hidden.x, hidden.y, &hit), S_OK);
    EXPECT_EQ(IntegerOf(S_OK, hit), CHILDID_SELF);
}

// The reveal runs here in full, ten seconds, for Button1's window; the window is shown without
// being activated, so that nothing else runs the reveal.
TEST_F(AccessibilityTest, PressingTheButtonClicksItThroughItsWindowOnceTheCallHasReturned) {
    ASSERT_TRUE(client);
    ShowWindow(form.Handle(), SW_SHOWNA);
    form.FormActivate(&form);
    const HWND button = FindWindowExW(form.Handle(), nullptr, L"Button", nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(DefaultActionOf(Client(), 5), PlatformPressName(button));

    const ClickCatcher clicks(form.Handle());
    ASSERT_EQ(Client().accDoDefaultAction(Child(5)), S_OK);
    EXPECT_EQ(clicks.Count(), 0) << "the click comes after the call has returned";
    MSG posted{};
    EXPECT_TRUE(PeekMessageW(&posted, button, BM_CLICK, BM_CLICK, PM_NOREMOVE))
        << "a click waits for the button's own window";
    PumpMessages();
    EXPECT_EQ(clicks.Count(), 1);

    // A modal dialog disables its owner: the button is not pressed, and a click posted before
    // the dialog opened is dropped when it comes, as a mouse click would be.
    EnableWindow(form.Handle(), FALSE);
    EXPECT_EQ(Client().accDoDefaultAction(Child(5)), E_FAIL);
    PostMessageW(button, BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ(clicks.Count(), 1);
    EnableWindow(form.Handle(), TRUE);
    ASSERT_EQ(Client().accDoDefaultAction(Child(5)), S_OK);
    PumpMessages();
    EXPECT_EQ(clicks.Count(), 2);
}

TEST(AccessibilityAfterTheWindow, AReaderKeepingTheObjectGetsAnErrorNotTheGoneWindow) {
    const Apartment apartment;
    std::optional<TForm1> form;
    form.emplace();
    const ComPtr<IAccessible> client = AccessibleOf(form->Handle(), OBJID_CLIENT);
    ASSERT_TRUE(client);
    form.reset();
    LONG count = 0;
    EXPECT_EQ(client->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    BSTR name = nullptr;
    EXPECT_EQ(client->get_accName(Child(1), &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(name, nullptr);
}

}  // namespace
