#pragma once

// The window's client area as screen readers see it: an accessible object (MSAA) whose children
// are the parts that the window draws itself, with no window of their own for the platform to
// describe.

#include <windows.h>

#include <memory>
#include <optional>

#include "text/Text.h"
#include "win32/ComPtr.h"

struct AccessiblePart {
    enum class Kind { staticText, pushButton };

    Kind kind;
    TextView name;
    bool visible;
    bool focused;
    // In the window's client coordinates.
    RECT bounds;
    // The part's own platform window, through which it is pressed: the button's once it exists,
    // none for the labels.
    HWND window;
    // A click would reach it now: shown and enabled, in a window that takes input.
    bool pressable;
};

// What the window tells its accessible object: its platform window, its name, how many parts it
// has, and a description of each part. Each is asked at every request of a reader, so that the
// answer is always the window's present state. None of it may raise, as the requests come
// through COM. Until the window answers for itself, the content is empty: no window, no name, no
// parts.
class AccessibleContent {
  public:
    virtual HWND AccessibleWindow() const noexcept { return nullptr; }
    virtual TextView AccessibleName() const noexcept { return {}; }
    virtual long PartCount() const noexcept { return 0; }
    // The parts are numbered from 1, in reading order.
    virtual AccessiblePart Part(long /*id*/) const noexcept { return {}; }

  protected:
    AccessibleContent() = default;
    ~AccessibleContent() = default;
    AccessibleContent(const AccessibleContent&) = delete;
    AccessibleContent& operator=(const AccessibleContent&) = delete;
};

struct AccessibilityFunctions;
class ClientAccessibleObject;

// Owns the client area's accessible object for the life of the window. A reader may keep the
// object longer: once the window is gone, the object answers every request with an error.
class ClientAccessibility {
  public:
    explicit ClientAccessibility(const AccessibleContent& content);
    ~ClientAccessibility();
    ClientAccessibility(const ClientAccessibility&) = delete;
    ClientAccessibility& operator=(const ClientAccessibility&) = delete;

    // The answer to WM_GETOBJECT when it asks for the client area; nothing for another object or
    // when the platform's accessibility library is missing, for the default handling to answer.
    std::optional<LRESULT> Answer(WPARAM flags, LPARAM objectId);
    // Tells readers that part `id` has just appeared on screen.
    void AnnounceShown(long id) const;

  private:
    const AccessibleContent& content_;
    std::unique_ptr<AccessibilityFunctions> functions_;
    ComPtr<ClientAccessibleObject> object_;
};
