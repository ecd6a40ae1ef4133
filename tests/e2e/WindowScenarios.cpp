// The installer's window driven from outside: start-up, layout at the prefix's DPI, the logo, the
// credits reveal, the keyboard, and the ways the process ends. The reveal takes ten seconds per
// start, so each suite makes one start and its tests look at it in the order they are written.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "DriverOptions.h"
#include "Installer.h"
#include "KeyInput.h"
#include "Layout.h"
#include "LogoReference.h"
#include "WindowQuery.h"
#include "win32/Handles.h"

namespace e2e {
namespace {

constexpr milliseconds kRevealTimeout{20000};
constexpr milliseconds kExitTimeout{5000};
// A reveal step is seen no earlier than its time (less the capture's own delay) and at most this
// much later, which leaves room for a busy machine.
constexpr double kEarly = 0.1;
constexpr double kLate = 0.9;

constexpr wchar_t kCaption[] = L"Le Talvor Map Installer";
constexpr wchar_t kButtonCaption[] = L"S\u00e9lection profil / Select profile";

ExpectedWindow Expected() {
    // A prefix without its LogPixels would make every scaled check fail for the wrong reason.
    if (const UINT dpi = GetDpiForSystem(); static_cast<int>(dpi) != Options().dpi) {
        throw std::runtime_error("this prefix gives " + std::to_string(dpi) + " DPI, not " +
                                 std::to_string(Options().dpi));
    }
    const auto expected = ExpectedAt(Options().dpi);
    if (!expected) {
        throw std::runtime_error("no expected layout for " + std::to_string(Options().dpi) +
                                 " DPI");
    }
    return *expected;
}

std::string ScreenshotName(const std::string& base) {
    const int dpi = Options().dpi;
    return dpi == 96 ? base + ".bmp" : base + "-" + std::to_string(dpi) + ".bmp";
}

// Any dialog or message box that the main window owns.
bool HasOwnedDialog(const Installer& installer) {
    return !TopLevelWindows(installer.Proc().Id(), L"#32770", installer.Window()).empty();
}

// The common file-open dialog: its file-name box is an Edit with id 0x480 under Wine and a
// ComboBoxEx32 with id 0x47C on Windows.
bool HasOwnedFileOpenDialog(const Installer& installer) {
    for (const HWND dialog :
         TopLevelWindows(installer.Proc().Id(), L"#32770", installer.Window())) {
        if (GetDlgItem(dialog, 0x480) != nullptr || GetDlgItem(dialog, 0x47C) != nullptr) {
            return true;
        }
    }
    return false;
}

// --- A normal start: every check that the window, its first paint and its reveal allow. -------

class NormalStart : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            const auto started = Clock::now();
            installer_.emplace(Installer::Start());
            areas_ = AreasAt(Options().dpi, Expected().client);
            timeline_.emplace(WatchReveal(*installer_, areas_, started, kRevealTimeout));
            revealed_.emplace(installer_->CaptureClient());
            if (!Options().screenshots.empty()) {
                installer_->CaptureWindow().SaveBmp(Options().screenshots /
                                                    ScreenshotName("window"));
            }
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }
    static void TearDownTestSuite() { installer_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(startError_.empty()) << startError_;
        ASSERT_TRUE(timeline_->firstPaint) << "the window never showed the logo and \"Credits :\"";
    }

    static const Installer& Running() { return *installer_; }
    static const RevealTimeline& Timeline() { return *timeline_; }
    static const ScreenImage& Revealed() { return *revealed_; }
    static const Areas& Area() { return areas_; }

  private:
    static inline std::optional<Installer> installer_;
    static inline Areas areas_;
    static inline std::optional<RevealTimeline> timeline_;
    static inline std::optional<ScreenImage> revealed_;
    static inline std::string startError_;
};

TEST_F(NormalStart, WindowHasTheCaptionStylesAndClientSize) {
    const HWND window = Running().Window();
    EXPECT_EQ(ClassName(window), L"TForm1");
    EXPECT_EQ(Caption(window), kCaption);
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);

    const LONG_PTR style = Style(window);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_CLIPSIBLINGS);
    EXPECT_TRUE(style & WS_CLIPCHILDREN);
    EXPECT_FALSE(style & WS_SYSMENU) << "no system menu, hence no buttons in the title bar";
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the frame is fixed";
    const LONG_PTR exStyle = ExStyle(window);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_CONTROLPARENT);
    EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), ULONG_PTR{CS_DBLCLKS});

    const SIZE client = ClientSize(window);
    EXPECT_EQ(client.cx, Expected().client.cx);
    EXPECT_EQ(client.cy, Expected().client.cy);
    // The window paints its own white where nothing is drawn: the bottom row, and the right
    // column beside Button1.
    const ScreenImage& image = Revealed();
    EXPECT_EQ(image.CountNonWhite({0, client.cy - 1, client.cx, client.cy}), 0);
    EXPECT_EQ(image.CountNonWhite({client.cx - 1, Area().button1.top, client.cx, client.cy}), 0);
}

TEST_F(NormalStart, FirstPaintShowsOnlyTheLogoAndCredits) {
    const ScreenImage& first = *Timeline().firstPaintImage;
    EXPECT_GE(first.CountNonWhite(Area().logo), kInk);
    EXPECT_GE(first.CountNonWhite(Area().label1), kInk);
    EXPECT_EQ(first.CountNonWhite(Area().label2), 0);
    EXPECT_EQ(first.CountNonWhite(Area().label3), 0);
    EXPECT_EQ(first.CountNonWhite(Area().label4), 0);
    EXPECT_EQ(first.CountNonWhite(Area().button1), 0);
}

TEST_F(NormalStart, LogoPictureKeepsItsShapeAtTheTopLeft) {
    const SIZE picture = Expected().picture;
    const RECT logo = Area().logo;
    const ScreenImage& image = Revealed();
    // The artwork is a map on white: a good part of it is coloured.
    EXPECT_GE(image.CountNonWhite({0, 0, picture.cx, picture.cy}), picture.cx * picture.cy / 4);
    // The picture is narrower than its control (proportions kept, truncated): the control's
    // columns right of it stay white, and so does everything below it.
    EXPECT_EQ(image.CountNonWhite({picture.cx, 0, logo.right, logo.bottom}), 0)
        << "columns " << picture.cx << " to " << logo.right - 1 << " must be white";
    EXPECT_EQ(image.CountNonWhite({0, picture.cy, logo.right, Expected().client.cy}), 0);
    // Placed at the top left, not centred: coloured pixels reach the picture's first rows and
    // columns and its last ones.
    const auto bounds = image.NonWhiteBounds({0, 0, picture.cx, picture.cy});
    ASSERT_TRUE(bounds);
    EXPECT_LE(bounds->left, picture.cx / 10);
    EXPECT_LE(bounds->top, picture.cy / 10);
    EXPECT_GE(bounds->right, picture.cx - picture.cx / 10);
    EXPECT_GE(bounds->bottom, picture.cy - picture.cy / 10);
}

TEST_F(NormalStart, LogoIsTheJpegShrunkWithoutSmoothing) {
    ASSERT_FALSE(Options().logo.empty()) << "the driver needs --logo=JPEG";
    const SIZE picture = Expected().picture;
    const ScreenImage reference = LogoReference(Options().logo, picture);
    const int different = PixelsDifferingFrom(Revealed(), reference, kLogoTolerance);
    EXPECT_LE(different, picture.cx * picture.cy / 100)
        << different << " of " << picture.cx * picture.cy << " pixels differ";
}

TEST_F(NormalStart, RevealStepsComeNearTwoFiveEightAndTenSeconds) {
    const RevealTimeline& t = Timeline();
    const struct {
        const char* what;
        std::optional<double> seen;
        double at;
    } steps[] = {
        {"Label2", t.label2, 2.0},
        {"Label3", t.label3, 5.0},
        {"Label4", t.label4, 8.0},
        {"Button1 visible", t.button1Visible, 10.0},
        {"Button1 drawn", t.button1Drawn, 10.0},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(step.seen) << step.what << " never appeared";
        EXPECT_GE(*step.seen, step.at - kEarly) << step.what << " too early";
        EXPECT_LE(*step.seen, step.at + kLate) << step.what << " too late";
    }
    std::printf(
        "first paint %.2f s after the start; then Label2 %.2f, Label3 %.2f, Label4 %.2f, "
        "Button1 %.2f s\n",
        *t.firstPaint, *t.label2, *t.label3, *t.label4, *t.button1Visible);
}

// Label4's ink: two lines, the second indented by the four spaces, and never the stored one-line
// caption: the first picture with Label4 in it already has both lines.
void ExpectTwoLineAnnouncement(const ScreenImage& image, const RECT& area) {
    const auto ink = image.NonWhiteBounds(area);
    ASSERT_TRUE(ink);
    const int dpi = Options().dpi;
    EXPECT_LE(ink->left, area.left + MulDiv(3, dpi, 96));
    EXPECT_GE(ink->bottom - ink->top, MulDiv(22, dpi, 96)) << "one line only";
    const LONG lowerThird = ink->bottom - (ink->bottom - ink->top) / 3;
    const auto secondLine = image.NonWhiteBounds({area.left, lowerThird, area.right, ink->bottom});
    ASSERT_TRUE(secondLine);
    EXPECT_GE(secondLine->left, ink->left + MulDiv(6, dpi, 96)) << "the English line is indented";
}

TEST_F(NormalStart, AnnouncementIsTwoLinesFromItsFirstAppearance) {
    ASSERT_TRUE(Timeline().label4FirstImage);
    ExpectTwoLineAnnouncement(*Timeline().label4FirstImage, Area().label4);
    ExpectTwoLineAnnouncement(Revealed(), Area().label4);
}

// Fonts follow the DPI: ink heights of "Credits :" (16 pixels at 96 DPI, no descender) and of the
// two-line announcement (the window font, 12 pixels at 96 DPI).
TEST_F(NormalStart, LabelFontsAreScaledToTheDpi) {
    const int dpi = Options().dpi;
    const auto heightOf = [&](const RECT& area) {
        const auto ink = Revealed().NonWhiteBounds(area);
        return ink ? ink->bottom - ink->top : 0;
    };
    const LONG credits = heightOf(Area().label1);
    EXPECT_GE(credits, MulDiv(10, dpi, 96));
    EXPECT_LE(credits, MulDiv(14, dpi, 96));
    const LONG announcement = heightOf(Area().label4);
    EXPECT_GE(announcement, MulDiv(22, dpi, 96));
    EXPECT_LE(announcement, MulDiv(32, dpi, 96));
}

// The labels' captions and fonts, written out by hand: each line must end inside the client
// area, as it does on Windows.
struct LabelText {
    const char* name;
    LONG left;       // at 96 DPI
    int fontHeight;  // at 96 DPI
    const wchar_t* caption;
};
constexpr LabelText kLabels[] = {
    {"Label1", 192, 16, L"Credits :"},
    {"Label2", 192, 16, L"Map : Gaspard Milon (CN : VQ)"},
    {"Label3", 192, 16, L"Installer : No\u00e9mie Castel (CN : RT3)"},
    {"Label4", 192, 12,
     L"La carte va maintenant \u00eatre appliqu\u00e9e \u00e0 votre profil LX\r\n"
     L"    The map will now be applied to your LX profile"},
};

// The width of `caption` as a label measures it, in "Segoe UI" of `height` pixels: this process
// runs in the same prefix, so it gets the font that the installer gets.
LONG MeasuredWidth(const wchar_t* caption, int height) {
    const Font font(CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
    const WindowDc screen(nullptr);
    const SelectedObject selected(screen.Get(), font.Get());
    RECT rect{0, 0, 0, 0};
    DrawTextW(screen.Get(), caption, -1, &rect,
              DT_LEFT | DT_TOP | DT_NOPREFIX | DT_EXPANDTABS | DT_CALCRECT);
    return rect.right - rect.left;
}

// A line cut at the window's edge leaves ink in its last columns; the measured text says by how
// much each label stays inside.
TEST_F(NormalStart, NoLabelReachesPastTheClientArea) {
    const int dpi = Options().dpi;
    const LONG width = Expected().client.cx;
    const LONG lastColumns = width - MulDiv(2, dpi, 96);
    EXPECT_EQ(Revealed().CountNonWhite({lastColumns, 0, width, Area().button1.top}), 0)
        << "ink in the last columns of the client area: a label is cut";
    for (const LabelText& label : kLabels) {
        const LONG right = MulDiv(label.left, dpi, 96) +
                           MeasuredWidth(label.caption, MulDiv(label.fontHeight, dpi, 96));
        EXPECT_LE(right, width) << label.name << " ends past the client area";
        std::printf("%s ends at %ld of %ld\n", label.name, right, width);
    }
}

TEST_F(NormalStart, Button1IsTheOnlyChildWindowAndSitsInItsPlace) {
    const HWND window = Running().Window();
    const HWND button = Running().Button1();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(GetWindow(window, GW_CHILD), button);
    EXPECT_EQ(GetWindow(button, GW_HWNDNEXT), nullptr) << "labels have no windows of their own";
    EXPECT_EQ(Caption(button), kButtonCaption);
    const LONG_PTR style = Style(button);
    EXPECT_TRUE(style & WS_TABSTOP);
    EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON) << "not the window's default button";
    EXPECT_TRUE(IsWindowEnabled(button));

    const RECT place = RectInClient(button, window);
    const RECT expected = Expected().button1;
    EXPECT_EQ(place.left, expected.left);
    EXPECT_EQ(place.top, expected.top);
    EXPECT_EQ(place.right - place.left, expected.right - expected.left);
    EXPECT_EQ(place.bottom - place.top, expected.bottom - expected.top);
}

TEST_F(NormalStart, EnterAloneDoesNothingAfterTheReveal) {
    // The reveal leaves the keyboard focus on the window itself, not on Button1.
    EXPECT_EQ(FocusOfThread(Running().Proc().ThreadId()), Running().Window());
    PostKeyPress(Running().Window(), VK_RETURN);
    // Nothing may happen, so this waits the time a dialog would take to come, and more.
    EXPECT_FALSE(WaitUntil([&] { return HasOwnedDialog(Running()); }, milliseconds(1500)));
    EXPECT_TRUE(Running().Proc().IsRunning());
}

TEST_F(NormalStart, TabPutsTheFocusOnButton1) {
    PostKeyPress(Running().Window(), VK_TAB);
    const DWORD thread = Running().Proc().ThreadId();
    EXPECT_TRUE(WaitUntil([&] { return FocusOfThread(thread) == Running().Button1(); },
                          milliseconds(2000)));
}

TEST_F(NormalStart, CloseRequestEndsWithExitCodeZero) {
    PostMessageW(Running().Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(Running().Proc().WaitForExit(kExitTimeout), DWORD{0});
}

// --- A minimised start: the reveal runs unseen; restoring shows it; then the session ends. ------

// One start with `showCommand`, shared by the tests of a suite; a failed start fails each test.
template <WORD showCommand>
class StartShownAs : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            started_ = Clock::now();
            installer_.emplace(Installer::Start(showCommand));
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }
    static void TearDownTestSuite() { installer_.reset(); }
    void SetUp() override { ASSERT_TRUE(startError_.empty()) << startError_; }

    static const Installer& Running() { return *installer_; }
    static Clock::time_point Started() { return started_; }

  private:
    static inline std::optional<Installer> installer_;
    static inline Clock::time_point started_;
    static inline std::string startError_;
};

class MinimisedStart : public StartShownAs<SW_SHOWMINNOACTIVE> {};

TEST_F(MinimisedStart, OpensMinimised) {
    const HWND window = Running().Window();
    EXPECT_TRUE(
        WaitUntil([&] { return IsWindowVisible(window) && IsIconic(window); }, milliseconds(3000)));
}

TEST_F(MinimisedStart, RevealRunsWhileMinimised) {
    const HWND window = Running().Window();
    ASSERT_TRUE(WaitUntil([&] { return Running().Button1Visible(); }, kRevealTimeout));
    const double shown = SecondsSince(Started(), Clock::now());
    EXPECT_TRUE(IsIconic(window));
    EXPECT_GE(shown, 10.0 - kEarly);
    EXPECT_LE(shown, 10.0 + Options().startAllowance)
        << "the reveal should start when the process does";
    std::printf("minimised, Button1 was shown %.2f s after the process was started\n", shown);
}

TEST_F(MinimisedStart, RestoredWindowShowsTheRevealedControls) {
    const HWND window = Running().Window();
    ShowWindowAsync(window, SW_RESTORE);
    // The window leaves the iconic state before it has its size back: wait for both.
    ASSERT_TRUE(WaitUntil(
        [&] { return !IsIconic(window) && ClientSize(window).cx > 0 && ClientSize(window).cy > 0; },
        milliseconds(3000)));
    const ExpectedWindow expected = Expected();
    const SIZE client = ClientSize(window);
    EXPECT_EQ(client.cx, expected.client.cx);
    EXPECT_EQ(client.cy, expected.client.cy);
    const Areas areas = AreasAt(Options().dpi, expected.client);
    const auto allDrawn = [&] {
        const ScreenImage image = Running().CaptureClient();
        return image.CountNonWhite(areas.logo) >= kInk &&
               image.CountNonWhite(areas.label2) >= kInk &&
               image.CountNonWhite(areas.label3) >= kInk &&
               image.CountNonWhite(areas.label4) >= kInk &&
               image.CountNonWhite(areas.button1) >= kInk;
    };
    EXPECT_TRUE(WaitUntil(allDrawn, milliseconds(3000)));
    EXPECT_TRUE(Running().Button1Visible());
}

TEST_F(MinimisedStart, SessionEndExitsWithZero) {
    const HWND window = Running().Window();
    DWORD_PTR answer = 0;
    ASSERT_TRUE(
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_NE(answer, DWORD_PTR{0}) << "the session may end";
    // The process ends inside its handling, so the send may come back with no answer.
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    EXPECT_EQ(Running().Proc().WaitForExit(kExitTimeout), DWORD{0});
}

// --- A close request made during the reveal waits for it. ------------------------------------

TEST(CloseDuringReveal, TakesEffectOnlyOnceTheRevealHasEnded) {
    const Installer running = Installer::Start();
    const Areas areas = AreasAt(Options().dpi, Expected().client);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const ScreenImage image = running.CaptureClient();
            return image.CountNonWhite(areas.logo) >= kInk && image.CountNonWhite(areas.blank) == 0;
        },
        milliseconds(10000)));
    const auto firstPaint = Clock::now();
    PostMessageW(running.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(running.Proc().WaitForExit(kRevealTimeout), DWORD{0});
    const double ended = SecondsSince(firstPaint, Clock::now());
    EXPECT_GE(ended, 10.0 - kEarly) << "the close request cut the reveal short";
    // Then it is the event loop's first message, and the process ends soon after.
    EXPECT_LE(ended, 10.0 + kLate + 1.0);
    std::printf("a close request posted at the first paint ended the process %.2f s later\n",
                ended);
}

// --- A maximised start, and the keyboard's way to the file-open dialog. ------------------------

class MaximisedStart : public StartShownAs<SW_SHOWMAXIMIZED> {};

TEST_F(MaximisedStart, OpensMaximisedWithTheControlsAtTheTopLeft) {
    const HWND window = Running().Window();
    ASSERT_TRUE(
        WaitUntil([&] { return IsWindowVisible(window) && IsZoomed(window); }, milliseconds(3000)));
    const SIZE client = ClientSize(window);
    const ExpectedWindow expected = Expected();
    EXPECT_GT(client.cx, expected.client.cx);
    EXPECT_GT(client.cy, expected.client.cy);
    ASSERT_TRUE(WaitUntil([&] { return Running().Button1Visible(); }, kRevealTimeout));
    const RECT place = RectInClient(Running().Button1(), window);
    EXPECT_EQ(place.left, expected.button1.left);
    EXPECT_EQ(place.top, expected.button1.top);
    // The larger client area is white below the layout and right of its normal width.
    const ScreenImage image = Running().CaptureClient();
    EXPECT_EQ(image.CountNonWhite({0, expected.client.cy, client.cx, client.cy}), 0);
    EXPECT_EQ(image.CountNonWhite({expected.client.cx, 0, client.cx, client.cy}), 0);
}

TEST_F(MaximisedStart, TabThenEnterOpensTheFileDialog) {
    ASSERT_TRUE(WaitUntil([&] { return Running().Button1Visible(); }, kRevealTimeout));
    PostKeyPress(Running().Window(), VK_TAB);
    const DWORD thread = Running().Proc().ThreadId();
    ASSERT_TRUE(WaitUntil([&] { return FocusOfThread(thread) == Running().Button1(); },
                          milliseconds(2000)));
    PostKeyPress(Running().Window(), VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return HasOwnedFileOpenDialog(Running()); }, milliseconds(5000)))
        << "no file-open dialog owned by the main window";
}

}  // namespace
}  // namespace e2e
