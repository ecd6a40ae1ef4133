// The main window made in-process, hidden: what it paints, read through WM_PRINTCLIENT, and how
// it lays itself out again when its monitor's scale changes.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "MapInstaller/MapInstaller.h"
#include "text/Text.h"
#include "win32/CommonControls.h"
#include "win32/Handles.h"
#include "win32/ModulePath.h"
#include "win32/WindowDpi.h"

namespace {

constexpr COLORREF white = RGB(255, 255, 255);

// The client area as the window paints it into a memory device context.
class ClientPicture {
  public:
    explicit ClientPicture(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        const WindowDc screen(nullptr);
        const MemoryDc memory(screen.Get());
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        const Bitmap bitmap(
            CreateDIBSection(memory.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        const SelectedObject selected(memory.Get(), bitmap.Get());
        // Black first, so that whatever the window leaves unpainted shows.
        PatBlt(memory.Get(), 0, 0, width_, height_, BLACKNESS);
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()),
                     PRF_CLIENT | PRF_ERASEBKGND);
        GdiFlush();
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        pixels_.assign(pixels, pixels + static_cast<std::size_t>(width_) * height_);
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    COLORREF At(int x, int y) const {
        const std::uint32_t p = pixels_[static_cast<std::size_t>(y) * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels that are not white in [left, right) x [top, bottom).
    int Ink(int left, int top, int right, int bottom) const {
        int count = 0;
        for (int y = top; y < bottom && y < height_; ++y) {
            for (int x = left; x < right && x < width_; ++x) {
                count += At(x, y) != white ? 1 : 0;
            }
        }
        return count;
    }
    // The rightmost column with ink in the rows [top, bottom), or -1.
    int RightmostInk(int top, int bottom) const {
        for (int x = width_ - 1; x >= 0; --x) {
            if (Ink(x, top, x + 1, bottom) > 0) {
                return x;
            }
        }
        return -1;
    }

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> pixels_;
};

RECT ChildRect(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int FontHeight(HWND control) {
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    GetObjectW(font, sizeof(description), &description);
    return description.lfHeight;
}

class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        // The layout below is the one at 96 DPI: the test's monitor is brought there first.
        if (WindowDpi(form.Handle()) != 96) {
            Rescale(96);
        }
    }

    // Sends what the platform sends when the window moves to a monitor of `dpi`: the suggested
    // rectangle keeps the window's corner and frame and has room for the scaled client area.
    void Rescale(int dpi) {
        RECT outer{};
        RECT client{};
        GetWindowRect(form.Handle(), &outer);
        GetClientRect(form.Handle(), &client);
        suggested = outer;
        suggested.right += MulDivRound(489, dpi, 96) - client.right;
        suggested.bottom += MulDivRound(172, dpi, 96) - client.bottom;
        SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
    }

    HWND Button() const { return GetDlgItem(form.Handle(), button1Id); }

    TForm1 form;
    RECT suggested{};
};

TEST_F(MainWindowTest, PaintsWhiteWithTheLogoAndOnlyTheCreditsHeadingBeforeTheReveal) {
    const ClientPicture picture(form.Handle());
    ASSERT_EQ(picture.Width(), 489);
    ASSERT_EQ(picture.Height(), 172);
    EXPECT_EQ(picture.At(488, 171), white);
    EXPECT_EQ(picture.At(180, 160), white);
    // The logo is drawn at most 169 pixels wide and high, from the top left corner.
    EXPECT_GT(picture.Ink(0, 0, 169, 169), 169 * 169 / 4);
    EXPECT_EQ(picture.Ink(170, 0, 192, 172), 0);
    // "Credits :" is shown; the credit lines and the announcement are hidden until the reveal.
    EXPECT_GT(picture.Ink(192, 0, 489, 26), 0);
    EXPECT_EQ(picture.Ink(192, 27, 489, 172), 0);
    // Button1's window, and the common controls with it, come at the reveal, after this paint.
    EXPECT_EQ(Button(), nullptr);
}

// The reveal runs here in full, ten seconds, for Button1's window: made after a DPI change, it
// takes the scaled layout; made before one, it moves and takes the new font.
TEST_F(MainWindowTest, ADpiChangeTakesTheSuggestedRectangleAndScalesControlsAndFonts) {
    Rescale(144);

    RECT outer{};
    GetWindowRect(form.Handle(), &outer);
    EXPECT_TRUE(EqualRect(&outer, &suggested));
    RECT client{};
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, 734);
    EXPECT_EQ(client.bottom, 258);

    const ClientPicture picture(form.Handle());
    ASSERT_EQ(picture.Width(), 734);
    // The logo grows to its 254-pixel control; the heading moves to 288 and is drawn larger.
    EXPECT_GT(picture.Ink(170, 0, 254, 254), 0);
    EXPECT_EQ(picture.Ink(255, 0, 288, 258), 0);
    EXPECT_GT(picture.Ink(288, 0, 734, 39), 0);
    EXPECT_EQ(picture.Ink(288, 40, 734, 258), 0);
    EXPECT_GT(picture.RightmostInk(0, 39), 288 + 56);

    form.FormActivate(&form);
    ASSERT_NE(Button(), nullptr);
    // Shown, on a window that the test never shows.
    EXPECT_TRUE(GetWindowLongPtrW(Button(), GWL_STYLE) & WS_VISIBLE);
    // Of the button class that the common controls registered before it was made.
    WNDCLASSEXW standard{};
    standard.cbSize = sizeof(standard);
    ASSERT_NE(StandardControls(), nullptr);
    EXPECT_EQ(GetClassLongPtrW(Button(), GCW_ATOM),
              GetClassInfoExW(StandardControls(), L"Button", &standard));
    // Made at 144 DPI, the button takes the scaled layout; the change back to 96 DPI moves it and
    // gives it the new font.
    struct ButtonPlace {
        int dpi;
        LONG left, top, width, height, fontHeight;
    };
    const ButtonPlace places[] = {{144, 288, 209, 426, 37, -18}, {96, 192, 139, 284, 25, -12}};
    for (const ButtonPlace& place : places) {
        SCOPED_TRACE(place.dpi);
        if (place.dpi != 144) {
            Rescale(place.dpi);
        }
        const RECT button = ChildRect(form.Handle(), Button());
        EXPECT_EQ(button.left, place.left);
        EXPECT_EQ(button.top, place.top);
        EXPECT_EQ(button.right - button.left, place.width);
        EXPECT_EQ(button.bottom - button.top, place.height);
        EXPECT_EQ(FontHeight(Button()), place.fontHeight);
    }
}

TEST_F(MainWindowTest, ARoundTripOfScalesComesBackToTheSameLayout) {
    const ClientPicture before(form.Handle());
    Rescale(120);
    Rescale(96);
    const ClientPicture after(form.Handle());
    EXPECT_EQ(after.Width(), before.Width());
    EXPECT_EQ(after.Height(), before.Height());
    EXPECT_EQ(after.RightmostInk(0, 26), before.RightmostInk(0, 26));
}

// The common controls of the manifest (version 6, from the side-by-side folder, not the system
// folder's version 5.82), with their own button class.
TEST(StandardControlsTest, AreTheManifestsVersionWithTheirButton) {
    const HMODULE controls = StandardControls();
    ASSERT_NE(controls, nullptr);
    Text path = ModulePath(controls);
    for (char16_t& c : path) {
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    }
    EXPECT_NE(path.find(u"\\winsxs\\"), Text::npos) << ToUtf8(path);
    WNDCLASSEXW button{};
    button.cbSize = sizeof(button);
    EXPECT_NE(GetClassInfoExW(controls, L"Button", &button), 0);
    EXPECT_EQ(StandardControls(), controls);
}

}  // namespace
