#pragma once

// The controls of the main window: labels without a platform window of their own, drawn by the
// window they sit on, and a push button that is a child window of the platform.

#include <windows.h>

#include "app/DpiScaling.h"
#include "text/Text.h"

// The object that raised an event; handlers receive it as `Sender`.
class EventSource {
  public:
    virtual ~EventSource() = default;
};

// A label sizes itself to its text: the width of its widest line, the height of all its lines
// (no word wrap, tabs expanded), keeping its left and top edges.
class DrawnLabel : public EventSource {
  public:
    DrawnLabel(TextView caption, bool visible) : caption_(caption), visible_(visible) {}

    // Puts the label on `parent` at `corner` in `font`, and measures it.
    void Place(HWND parent, const Position& corner, HFONT font);
    // Replaces the caption and measures the label again; a hidden label marks nothing for paint.
    void SetCaption(TextView caption);
    // Marks the rectangle that the label occupies as needing paint; the next paint draws it.
    void Show();
    // Draws the caption in `textColour` over what is already painted there.
    void Paint(HDC dc, COLORREF textColour) const;

    TextView Caption() const { return caption_; }
    bool Visible() const { return visible_; }
    // The rectangle that the label occupies, in its parent's client coordinates.
    RECT Area() const;

  private:
    void Measure();
    void Invalidate() const;

    Text caption_;
    bool visible_;
    HWND parent_ = nullptr;
    HFONT font_ = nullptr;
    Bounds bounds_;
};

// A standard push button. Its platform window is made when it is first shown: the platform's
// button code (the common controls library, loaded and initialised just before the window is
// made) then comes after the window's first paint, not before it. Its messages pass through the
// same guard as every window's of the application before the platform's button code handles them.
// A click message (BM_CLICK) that comes while the button takes no clicks is dropped, as a mouse
// click would be: one posted before a modal dialog opened would otherwise run the click handler
// again from the dialog's own loop.
class PushButton : public EventSource {
  public:
    PushButton(int id, TextView caption) : id_(id), caption_(caption) {}

    // Puts the button on `parent` at `bounds` in `font`; a button already shown moves there.
    void Place(HWND parent, const Bounds& bounds, HFONT font);
    // Makes the platform window, with a tab stop, if there is none yet, and shows it. Raises
    // Error when the platform refuses the window.
    void Show();
    // Visible and enabled: Tab may give it the focus.
    bool CanFocus() const;
    // Visible and enabled in a window that is enabled too: a click reaches it. While a modal
    // dialog is open its owner is disabled, and a click is not taken.
    bool TakesClicks() const;
    bool Visible() const;
    bool Focused() const;
    // In its parent's client coordinates.
    RECT Area() const;

    HWND Handle() const { return window_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Create();

    int id_;
    Text caption_;
    HWND parent_ = nullptr;
    Bounds bounds_;
    HFONT font_ = nullptr;
    // Owned by the parent window, destroyed with it.
    HWND window_ = nullptr;
    WNDPROC platformProcedure_ = nullptr;
};
