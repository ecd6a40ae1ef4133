#pragma once

// What both accessibility tests ask of an accessible object (MSAA), as a screen reader does.

#include <windows.h>

#include <oleacc.h>

#include <string>

#include "win32/ComPtr.h"

// The child `id` of an accessible object, as its calls take it; CHILDID_SELF for the object.
inline VARIANT Child(long id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// How the platform names a push button's default action in the user's language: as its own
// object for a button window does; where that names none (Wine's), "Appuyer" for French users
// and "Press" for the others.
inline std::wstring PlatformPressName(HWND button) {
    ComPtr<IAccessible> standard;
    BSTR action = nullptr;
    if (button != nullptr &&
        SUCCEEDED(CreateStdAccessibleObject(button, OBJID_CLIENT, __uuidof(IAccessible),
                                            standard.PutVoid())) &&
        standard->get_accDefaultAction(Child(CHILDID_SELF), &action) == S_OK && action != nullptr &&
        SysStringLen(action) > 0) {
        std::wstring text(action, SysStringLen(action));
        SysFreeString(action);
        return text;
    }
    SysFreeString(action);
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH ? L"Appuyer" : L"Press";
}
