// The installer in the high-contrast black scheme that this prefix holds: after the reveal every
// label's text is drawn in the window-text colour on the window colour and the logo keeps its
// picture; the messages of a change of scheme repaint the window, and a new scheme is followed.

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "DriverOptions.h"
#include "Installer.h"
#include "Layout.h"
#include "LogoReference.h"
#include "win32/Handles.h"

namespace e2e {
namespace {

constexpr milliseconds kRevealTimeout{20000};
constexpr milliseconds kRepaintTimeout{3000};

// Drawn over the window by the driver: a colour that no scheme here paints.
constexpr uint32_t kScribble = 0xFF0000;

// 0x00RRGGBB, as the screen's pictures give colours.
uint32_t ScreenColour(COLORREF colour) {
    return (uint32_t{GetRValue(colour)} << 16) | (uint32_t{GetGValue(colour)} << 8) |
           GetBValue(colour);
}

struct Scheme {
    uint32_t window;
    uint32_t text;
};

// The scheme of the prefix as this process reads it: the driver runs in the installer's prefix.
Scheme CurrentScheme() {
    return {ScreenColour(GetSysColor(COLOR_WINDOW)), ScreenColour(GetSysColor(COLOR_WINDOWTEXT))};
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Sets the window, window-text, button-face and button-text colours as the user's scheme
// (SetSysColors, which tells every window with WM_SYSCOLORCHANGE), and puts the old ones back at
// the end, so that later programs of this prefix start in the prefix's scheme.
class SchemeChange {
  public:
    SchemeChange(COLORREF window, COLORREF text, COLORREF buttonFace, COLORREF buttonText) {
        for (int i = 0; i < 4; ++i) {
            old_[i] = GetSysColor(elements_[i]);
        }
        const COLORREF colours[] = {window, text, buttonFace, buttonText};
        if (!SetSysColors(4, elements_, colours)) {
            throw std::runtime_error("SetSysColors failed");
        }
    }
    ~SchemeChange() { SetSysColors(4, elements_, old_); }
    SchemeChange(const SchemeChange&) = delete;
    SchemeChange& operator=(const SchemeChange&) = delete;

  private:
    static constexpr int elements_[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE,
                                        COLOR_BTNTEXT};
    COLORREF old_[4] = {};
};

struct NamedArea {
    const char* name;
    RECT area;
};

// Each label's band holds the text colour where its letters are and the window colour around
// them (the blend of the two only at the letters' edges); the blank area right of "Credits :" and
// the bottom row are the window colour alone.
void ExpectDrawnIn(const ScreenImage& image, const Areas& areas, Scheme scheme) {
    const NamedArea labels[] = {{"Label1", areas.label1},
                                {"Label2", areas.label2},
                                {"Label3", areas.label3},
                                {"Label4", areas.label4}};
    for (const NamedArea& label : labels) {
        const RECT& r = label.area;
        const int pixels = (r.right - r.left) * (r.bottom - r.top);
        const int background = image.Count(r, scheme.window);
        const int text = image.Count(r, scheme.text);
        EXPECT_GE(background, pixels / 2)
            << label.name << ": " << background << " of " << pixels
            << " pixels in the window colour " << std::hex << scheme.window;
        EXPECT_GE(text, kInk) << label.name << ": " << text << " pixels in the text colour "
                              << std::hex << scheme.text;
        std::printf("%s: %d of %d pixels in the window colour, %d in the text colour\n", label.name,
                    background, pixels, text);
    }
    const RECT& blank = areas.blank;
    EXPECT_EQ(image.Count(blank, scheme.window),
              (blank.right - blank.left) * (blank.bottom - blank.top));
    const LONG bottom = image.Height() - 1;
    EXPECT_EQ(image.Count({0, bottom, image.Width(), bottom + 1}, scheme.window), image.Width());
}

// Paints over the whole client area from this process, as any other program could, so that only
// a repaint by the installer itself brings its picture back.
void Scribble(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const WindowDc dc(window);
    const Brush red(CreateSolidBrush(RGB(255, 0, 0)));
    FillRect(dc.Get(), &client, red.Get());
    GdiFlush();
}

bool ScribbleSeen(const Installer& installer, const Areas& areas) {
    return installer.CaptureClient().Count(areas.label1, kScribble) > 0;
}

bool ScribbleGone(const Installer& installer) {
    const ScreenImage image = installer.CaptureClient();
    return image.Count({0, 0, image.Width(), image.Height()}, kScribble) == 0;
}

// One start in the prefix's scheme, revealed, shared by the tests in the order they are written.
class HighContrast : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            scheme_ = CurrentScheme();
            // A prefix without the scheme would make every check pass or fail for the wrong
            // reason.
            if (scheme_.window != 0x000000 || scheme_.text != 0xFFFFFF) {
                throw std::runtime_error(
                    "this prefix does not hold the high-contrast black scheme");
            }
            const auto expected = ExpectedAt(Options().dpi);
            if (!expected) {
                throw std::runtime_error("no expected layout at this DPI");
            }
            areas_ = AreasAt(Options().dpi, expected->client);
            picture_ = expected->picture;
            installer_.emplace(Installer::Start());
            if (!WaitUntil([] { return installer_->Button1Visible(); }, kRevealTimeout)) {
                throw std::runtime_error("the reveal did not end");
            }
            // The button's own paint comes right after it is shown.
            Sleep(500);
            revealed_.emplace(installer_->CaptureClient());
            if (!Options().screenshots.empty()) {
                installer_->CaptureWindow().SaveBmp(Options().screenshots /
                                                    "window-high-contrast.bmp");
            }
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }
    static void TearDownTestSuite() { installer_.reset(); }
    void SetUp() override { ASSERT_TRUE(startError_.empty()) << startError_; }

    static const Installer& Running() { return *installer_; }
    static const Areas& Area() { return areas_; }
    static Scheme StartScheme() { return scheme_; }
    static SIZE Picture() { return picture_; }
    static const ScreenImage& Revealed() { return *revealed_; }

  private:
    static inline std::optional<Installer> installer_;
    static inline std::optional<ScreenImage> revealed_;
    static inline Areas areas_;
    static inline SIZE picture_;
    static inline Scheme scheme_;
    static inline std::string startError_;
};

// Under Wine SPI_GETHIGHCONTRAST never reports the flag that the prefix sets: there it is the
// white text's contrast against white that gives the window the scheme's colours.
TEST_F(HighContrast, LabelsAreDrawnInTheWindowTextColourOnTheWindowColour) {
    ExpectDrawnIn(Revealed(), Area(), StartScheme());
}

TEST_F(HighContrast, LogoKeepsItsPicture) {
    ASSERT_FALSE(Options().logo.empty()) << "the driver needs --logo=JPEG";
    const ScreenImage reference = LogoReference(Options().logo, Picture());
    const int different = PixelsDifferingFrom(Revealed(), reference, kLogoTolerance);
    EXPECT_LE(different, Picture().cx * Picture().cy / 100)
        << different << " of " << Picture().cx * Picture().cy << " pixels differ";
    // The logo's last column, beside the picture, is the window's background.
    const RECT beside{Picture().cx, 0, Area().logo.right, Picture().cy};
    EXPECT_EQ(Revealed().Count(beside, StartScheme().window),
              (beside.right - beside.left) * (beside.bottom - beside.top));
}

// What the platform sends when the user changes the colours, high contrast or the visual theme.
// Each one alone must make the installer paint its whole window again.
TEST_F(HighContrast, EachChangeMessageRepaintsTheWholeWindow) {
    const HWND window = Running().Window();
    const struct {
        const char* name;
        bool broadcast;
        UINT message;
        WPARAM wParam;
    } messages[] = {
        {"WM_SYSCOLORCHANGE", true, WM_SYSCOLORCHANGE, 0},
        {"WM_SETTINGCHANGE", true, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST},
        {"WM_THEMECHANGED", false, WM_THEMECHANGED, 0},
    };
    for (const auto& m : messages) {
        SCOPED_TRACE(m.name);
        Scribble(window);
        ASSERT_TRUE(WaitUntil([&] { return ScribbleSeen(Running(), Area()); }, kRepaintTimeout))
            << "the driver's paint never reached the screen";
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(m.broadcast ? HWND_BROADCAST : window, m.message, m.wParam, 0,
                            SMTO_ABORTIFHUNG, 5000, &answer);
        EXPECT_TRUE(WaitUntil([&] { return ScribbleGone(Running()); }, kRepaintTimeout))
            << "the window was not painted again";
        ExpectDrawnIn(Running().CaptureClient(), Area(), StartScheme());
    }
}

// Back to the default scheme while the window is open. On Windows the installer takes it at once:
// black text on white. Wine 8 sends WM_SYSCOLORCHANGE and repaints every window, but a running
// program's GetSysColor keeps the colours that it first read (only programs started afterwards see
// the new ones), so there the window is painted again in the colours it started with.
TEST_F(HighContrast, FollowsANewSchemeWhileOpen) {
    Scribble(Running().Window());
    ASSERT_TRUE(WaitUntil([&] { return ScribbleSeen(Running(), Area()); }, kRepaintTimeout));
    const SchemeChange change(RGB(255, 255, 255), RGB(0, 0, 0), RGB(240, 240, 240), RGB(0, 0, 0));
    const Scheme expected = UnderWine() ? StartScheme() : CurrentScheme();
    EXPECT_EQ(CurrentScheme().window, 0xFFFFFFu);
    EXPECT_TRUE(WaitUntil([&] { return ScribbleGone(Running()); }, kRepaintTimeout));
    ExpectDrawnIn(Running().CaptureClient(), Area(), expected);
}

}  // namespace
}  // namespace e2e
