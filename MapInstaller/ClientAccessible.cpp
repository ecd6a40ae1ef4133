#include "MapInstaller/ClientAccessible.h"

#include <oleacc.h>

#include <utility>

#include "win32/SystemLibrary.h"

// The platform's accessibility library and the text allocator of its interfaces, loaded at the
// first request of a reader: most sessions never make one.
struct AccessibilityFunctions {
    SystemLibrary accessibility{L"oleacc.dll"};
    SystemLibrary automation{L"oleaut32.dll"};
    decltype(&LresultFromObject) lresultFromObject =
        accessibility.Procedure<decltype(&LresultFromObject)>("LresultFromObject");
    decltype(&CreateStdAccessibleObject) createStandardObject =
        accessibility.Procedure<decltype(&CreateStdAccessibleObject)>("CreateStdAccessibleObject");
    decltype(&SysAllocStringLen) allocateText =
        automation.Procedure<decltype(&SysAllocStringLen)>("SysAllocStringLen");
    decltype(&SysFreeString) freeText =
        automation.Procedure<decltype(&SysFreeString)>("SysFreeString");

    bool Complete() const {
        return lresultFromObject != nullptr && createStandardObject != nullptr &&
               allocateText != nullptr && freeText != nullptr;
    }
};

namespace {

// What Windows' own objects for push buttons call their default action, in the program's two
// languages; used where the platform's object for the button's window names none (Wine's).
constexpr TextView pressInFrench = u"Appuyer";
constexpr TextView pressInEnglish = u"Press";

// Owns a text that the automation library allocated, as the platform's objects return them.
class AutomationText {
  public:
    explicit AutomationText(const AccessibilityFunctions& functions) : functions_(functions) {}
    ~AutomationText() { functions_.freeText(text_); }
    AutomationText(const AutomationText&) = delete;
    AutomationText& operator=(const AutomationText&) = delete;

    BSTR* Put() {
        functions_.freeText(std::exchange(text_, nullptr));
        return &text_;
    }
    bool Empty() const { return text_ == nullptr || text_[0] == L'\0'; }
    // Hands the text over to the caller, who frees it (a reader, through COM).
    BSTR Release() { return std::exchange(text_, nullptr); }

  private:
    const AccessibilityFunctions& functions_;
    BSTR text_ = nullptr;
};

VARIANT Integer(long value) {
    VARIANT variant{};
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

RECT OnScreen(HWND window, RECT rect) {
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

// The parts are simple children, plain numbers under this object (get_accChild answers S_FALSE):
// readers then ask this object about them. The button has a window of its own, but the platform's
// object for that window is not always a push button (Wine's says it is a client area), so it is
// described here too.
class ClientAccessibleObject final : public IAccessible {
  public:
    ClientAccessibleObject(const AccessibleContent& content,
                           const AccessibilityFunctions& functions)
        : content_(&content), functions_(&functions) {}
    ClientAccessibleObject(const ClientAccessibleObject&) = delete;
    ClientAccessibleObject& operator=(const ClientAccessibleObject&) = delete;

    // The window is going: every later request fails instead of reaching it.
    void Disconnect() {
        content_ = nullptr;
        functions_ = nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (id != __uuidof(IUnknown) && id != __uuidof(IDispatch) && id != __uuidof(IAccessible)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    // Every call comes on the window's thread (a single-threaded apartment).
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // Readers use the IAccessible methods themselves, not automation by name.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) {
            *info = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) {
            return E_POINTER;
        }
        *parent = nullptr;
        if (content_ == nullptr) {
            return CO_E_OBJNOTCONNECTED;
        }
        // The platform's object of the window itself, frame and title bar.
        return functions_->createStandardObject(content_->AccessibleWindow(), OBJID_WINDOW,
                                                __uuidof(IDispatch),
                                                reinterpret_cast<void**>(parent));
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        if (content_ == nullptr) {
            return CO_E_OBJNOTCONNECTED;
        }
        *count = content_->PartCount();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        return Check(child, [](std::optional<AccessiblePart>) { return S_FALSE; });
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (name == nullptr) {
            return E_POINTER;
        }
        *name = nullptr;
        return Check(child, [&](const std::optional<AccessiblePart>& part) {
            const TextView text = part ? part->name : content_->AccessibleName();
            *name = functions_->allocateText(reinterpret_cast<const OLECHAR*>(text.data()),
                                             static_cast<UINT>(text.size()));
            return *name != nullptr ? S_OK : E_OUTOFMEMORY;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (role == nullptr) {
            return E_POINTER;
        }
        role->vt = VT_EMPTY;
        return Check(child, [&](const std::optional<AccessiblePart>& part) {
            if (!part) {
                *role = Integer(ROLE_SYSTEM_CLIENT);
            } else if (part->kind == AccessiblePart::Kind::pushButton) {
                *role = Integer(ROLE_SYSTEM_PUSHBUTTON);
            } else {
                *role = Integer(ROLE_SYSTEM_STATICTEXT);
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (state == nullptr) {
            return E_POINTER;
        }
        state->vt = VT_EMPTY;
        return Check(child, [&](const std::optional<AccessiblePart>& part) {
            const HWND window = content_->AccessibleWindow();
            long flags = 0;
            if (!part) {
                flags = STATE_SYSTEM_FOCUSABLE;
                flags |= GetFocus() == window ? STATE_SYSTEM_FOCUSED : 0;
                flags |= IsWindowVisible(window) ? 0 : STATE_SYSTEM_INVISIBLE;
            } else if (part->kind == AccessiblePart::Kind::pushButton) {
                flags = STATE_SYSTEM_FOCUSABLE;
                flags |= part->focused ? STATE_SYSTEM_FOCUSED : 0;
                flags |= part->visible ? 0 : STATE_SYSTEM_INVISIBLE;
            } else {
                flags = STATE_SYSTEM_READONLY;
                flags |= part->visible ? 0 : STATE_SYSTEM_INVISIBLE;
            }
            *state = Integer(flags);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) {
            return E_POINTER;
        }
        focus->vt = VT_EMPTY;
        if (content_ == nullptr) {
            return CO_E_OBJNOTCONNECTED;
        }
        if (GetFocus() == content_->AccessibleWindow()) {
            *focus = Integer(CHILDID_SELF);
            return S_OK;
        }
        for (long id = 1; id <= content_->PartCount(); ++id) {
            if (content_->Part(id).focused) {
                *focus = Integer(id);
                return S_OK;
            }
        }
        return S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        return Check(child, [&](const std::optional<AccessiblePart>& part) {
            const HWND window = content_->AccessibleWindow();
            RECT client{};
            GetClientRect(window, &client);
            const RECT rect = OnScreen(window, part ? part->bounds : client);
            *left = rect.left;
            *top = rect.top;
            *width = rect.right - rect.left;
            *height = rect.bottom - rect.top;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        if (end == nullptr) {
            return E_POINTER;
        }
        end->vt = VT_EMPTY;
        return Check(start, [&](const std::optional<AccessiblePart>& part) {
            const long from = start.lVal;
            const long count = content_->PartCount();
            long to = 0;
            if (!part && direction == NAVDIR_FIRSTCHILD) {
                to = 1;
            } else if (!part && direction == NAVDIR_LASTCHILD) {
                to = count;
            } else if (part && (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN)) {
                to = from + 1;
            } else if (part && (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP)) {
                to = from - 1;
            }
            if (to < 1 || to > count) {
                return S_FALSE;
            }
            *end = Integer(to);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
        if (hit == nullptr) {
            return E_POINTER;
        }
        hit->vt = VT_EMPTY;
        if (content_ == nullptr) {
            return CO_E_OBJNOTCONNECTED;
        }
        const HWND window = content_->AccessibleWindow();
        RECT client{};
        GetClientRect(window, &client);
        const POINT point{x, y};
        if (const RECT area = OnScreen(window, client); !PtInRect(&area, point)) {
            return S_FALSE;
        }
        // The last part drawn at the point is the one on top.
        long found = CHILDID_SELF;
        for (long id = 1; id <= content_->PartCount(); ++id) {
            const AccessiblePart part = content_->Part(id);
            if (const RECT area = OnScreen(window, part.bounds);
                part.visible && PtInRect(&area, point)) {
                found = id;
            }
        }
        *hit = Integer(found);
        return S_OK;
    }

    // Nothing more to say than the name, the role and the button's action; the parts have no
    // value, help, shortcut or selection of their own.
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT, BSTR* value) override {
        return NotSupported(value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* description) override {
        return NotSupported(description);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override {
        return NotSupported(help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
        if (topic != nullptr) {
            *topic = 0;
        }
        return NotSupported(file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* shortcut) override {
        return NotSupported(shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection != nullptr) {
            selection->vt = VT_EMPTY;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }

    // The button's action is named as the platform names a push button's, so that voice control
    // and a reader's activate command find it.
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (action == nullptr) {
            return E_POINTER;
        }
        *action = nullptr;
        return Check(child, [&](const std::optional<AccessiblePart>& part) {
            if (!part || part->kind != AccessiblePart::Kind::pushButton) {
                return DISP_E_MEMBERNOTFOUND;
            }
            *action = PressName(part->window);
            return *action != nullptr ? S_OK : E_OUTOFMEMORY;
        });
    }

    // A press is a click through the button's own window: posted, so that the reader's call
    // returns before the click handler opens its modal dialog, and handled like any click, guard
    // included. A button that a click cannot reach (hidden, or a dialog holds the window) is not
    // pressed.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return Check(child, [&](const std::optional<AccessiblePart>& part) {
            if (!part || part->kind != AccessiblePart::Kind::pushButton) {
                return DISP_E_MEMBERNOTFOUND;
            }
            if (!part->pressable || !PostMessageW(part->window, BM_CLICK, 0, 0)) {
                return E_FAIL;
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    ~ClientAccessibleObject() = default;

    // Runs `answer` with the part that `child` names (nothing for the client area itself), once
    // the object is known to be connected and the id to be one of its own.
    template <typename Answer>
    HRESULT Check(const VARIANT& child, Answer answer) const {
        if (content_ == nullptr) {
            return CO_E_OBJNOTCONNECTED;
        }
        if (child.vt != VT_I4) {
            return E_INVALIDARG;
        }
        if (child.lVal == CHILDID_SELF) {
            return answer(std::optional<AccessiblePart>());
        }
        if (child.lVal < 1 || child.lVal > content_->PartCount()) {
            return E_INVALIDARG;
        }
        return answer(std::optional<AccessiblePart>(content_->Part(child.lVal)));
    }

    // The platform's name for a push button's default action in the user's language, as its
    // own object for the button's window gives it; ours, in French or English, where that object
    // gives none or the button has no window yet.
    BSTR PressName(HWND button) const {
        AutomationText name(*functions_);
        ComPtr<IAccessible> standard;
        if (button != nullptr &&
            SUCCEEDED(functions_->createStandardObject(button, OBJID_CLIENT, __uuidof(IAccessible),
                                                       standard.PutVoid())) &&
            standard->get_accDefaultAction(Integer(CHILDID_SELF), name.Put()) == S_OK &&
            !name.Empty()) {
            return name.Release();
        }
        const TextView own = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH
                                 ? pressInFrench
                                 : pressInEnglish;
        return functions_->allocateText(reinterpret_cast<const OLECHAR*>(own.data()),
                                        static_cast<UINT>(own.size()));
    }

    static HRESULT NotSupported(BSTR* text) {
        if (text != nullptr) {
            *text = nullptr;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    const AccessibleContent* content_;
    const AccessibilityFunctions* functions_;
    ULONG references_ = 1;
};

ClientAccessibility::ClientAccessibility(const AccessibleContent& content) : content_(content) {}

ClientAccessibility::~ClientAccessibility() {
    if (object_) {
        object_->Disconnect();
    }
}

std::optional<LRESULT> ClientAccessibility::Answer(WPARAM flags, LPARAM objectId) {
    // Wine sends the id zero-extended to 64 bits: only its low 32 bits are the id.
    if (static_cast<DWORD>(objectId) != static_cast<DWORD>(OBJID_CLIENT)) {
        return std::nullopt;
    }
    if (!functions_) {
        functions_ = std::make_unique<AccessibilityFunctions>();
    }
    if (!functions_->Complete()) {
        return std::nullopt;
    }
    if (!object_) {
        *object_.Put() = new ClientAccessibleObject(content_, *functions_);
    }
    return functions_->lresultFromObject(__uuidof(IAccessible), flags, object_.Get());
}

void ClientAccessibility::AnnounceShown(long id) const {
    NotifyWinEvent(EVENT_OBJECT_SHOW, content_.AccessibleWindow(), OBJID_CLIENT, id);
}
