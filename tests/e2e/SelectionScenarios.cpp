// The profile selection driven as a user does it: the button, the file-open dialog, the rewrite of
// the chosen profile, the notice after a cancel, and the error boxes after a failure, with what
// happens to the profile and to the process. Each test makes its own start, so each waits for
// the ten-second reveal once.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "DriverOptions.h"
#include "Installer.h"
#include "KeyInput.h"
#include "Poll.h"
#include "ScreenImage.h"
#include "WindowQuery.h"
#include "tests/support/CaseName.h"
#include "tests/support/TempFolder.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr milliseconds kRevealTimeout{20000};
constexpr milliseconds kBoxTimeout{10000};
constexpr milliseconds kExitTimeout{10000};

// Written out by hand, not taken from the program's code, so that a mistake there shows.
constexpr wchar_t kTitle[] = L"Talvor_skarnel_installer";
constexpr wchar_t kNoticeText[] =
    L"L'installation va se terminer sans appliquer la modification au profil.\r\n"
    L"Relancer l'installer pour recommencer.\r\n"
    L"\r\n"
    L"Install will end without applying modifications to the profile\r\n"
    L"Relaunch installer to retry.";
constexpr char kMapFilesLine[] =
    "    <mapfiles>4511-4313-vqd-contrast.cmr,4513-4315-vqd-contrast.cmr,4515-4317-vqd-contrast."
    "cmr,455-437-vqd-contrast.cmr,457-439-vqd-contrast.cmr,459-4311-vqd-contrast.cmr,4711-4513-"
    "vqd-contrast.cmr,4713-4515-vqd-contrast.cmr,4715-4517-vqd-contrast.cmr,475-457-vqd-contrast."
    "cmr,477-459-vqd-contrast.cmr,479-4511-vqd-contrast.cmr,4911-4713-vqd-contrast.cmr,4913-4715-"
    "vqd-contrast.cmr,4915-4717-vqd-contrast.cmr,495-477-vqd-contrast.cmr,497-479-vqd-contrast."
    "cmr,499-4711-vqd-contrast.cmr</mapfiles>";
constexpr char kShowRasterLine[] = "        <showraster>1</showraster>";

// A UTF-8 profile with a byte-order mark and LF line breaks; the rewrite keeps the mark and
// writes CR LF.
const std::string kProfile =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<profile>\n  <display>\n"
    "    <mapfiles>overview.cmr</mapfiles>\n    <layers>\n"
    "      <showraster>0</showraster>\n    </layers>\n  </display>\n</profile>\n";
const std::string kRewritten = std::string(
                                   "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                   "\r\n<profile>\r\n  <display>\r\n") +
                               kMapFilesLine + "\r\n    <layers>\r\n" + kShowRasterLine +
                               "\r\n    </layers>\r\n  </display>\r\n</profile>\r\n";

// A folder of the test's own, with the folder of profiles that the installer is given.
class ScratchFolder {
  public:
    ScratchFolder() { fs::create_directories(Profiles()); }

    const fs::path& Path() const { return folder_.Path(); }
    // Its name holds a space.
    fs::path Profiles() const { return folder_.Path() / L"Mes profils"; }

  private:
    TempFolder folder_;
};

// The folder as the launcher passes it: quoted, with a trailing backslash before the closing
// quote, after an empty quoted pair.
std::wstring FolderArguments(const fs::path& folder) {
    return L"\"\" \"" + folder.wstring() + L"\\\"";
}

// The platform's text for an error code without its trailing blanks and full stops, as the
// program puts it into its messages.
std::wstring SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    return text;
}

// Starts `program` with `arguments` and waits until the reveal has shown Button1.
Installer StartRevealedWith(const std::wstring& program, const std::wstring& arguments) {
    Installer installer = Installer::Start(program, arguments);
    WaitUntil([&] { return installer.Button1Ready() || !installer.Proc().IsRunning(); },
              kRevealTimeout);
    if (!installer.Button1Ready()) {
        throw std::runtime_error("the installer showed no Button1 within the reveal's time");
    }
    return installer;
}

// Starts `program` (the installer of this run unless given) with the folder of profiles as the
// launcher passes it, and waits until the reveal has shown Button1.
Installer StartRevealed(const ScratchFolder& folder,
                        const std::wstring& program = Options().installer) {
    return StartRevealedWith(program, FolderArguments(folder.Profiles()));
}

// The text of another process's edit box, asked with the message itself.
std::wstring EditText(HWND edit) {
    wchar_t text[MAX_PATH] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        5000, &copied);
    return std::wstring(text, copied);
}

HWND WaitForFileDialog(const Installer& installer) {
    return installer.WaitForBox([](HWND box) { return FileNameBox(box) != nullptr; }, kBoxTimeout);
}

// Clicks Button1 and returns the file-open dialog that it opens, or null.
HWND OpenFileDialog(const Installer& installer) {
    installer.ClickButton1();
    return WaitForFileDialog(installer);
}

HWND WaitForBoxTitled(const Installer& installer, const std::wstring& title) {
    return installer.WaitForBox([&](HWND box) { return Caption(box) == title; }, kBoxTimeout);
}

// Types `name` into the file-open dialog and confirms it, as a user who types a name and
// presses Enter.
void Choose(HWND dialog, const std::wstring& name) {
    SendMessageTimeoutW(FileNameBox(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()),
                        SMTO_BLOCK, 5000, nullptr);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

// Closes the file-open dialog with Cancel.
void Cancel(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

// The sample profile, written into the folder of profiles.
fs::path WriteProfile(const ScratchFolder& folder) {
    const fs::path profile = folder.Profiles() / L"profile.xml";
    WriteBytes(profile, kProfile);
    return profile;
}

// What a message box or task dialog shows, read from outside.
struct BoxContent {
    std::wstring text;
    std::vector<std::pair<int, std::wstring>> buttons;  // visible buttons: id and caption
    bool icon = false;
    RECT rect{};
};

BoxContent ReadBox(HWND box) {
    BoxContent content;
    GetWindowRect(box, &content.rect);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) {
            continue;
        }
        const std::wstring kind = ClassName(child);
        if (kind == L"Button") {
            content.buttons.emplace_back(GetDlgCtrlID(child), Caption(child));
        } else if (kind == L"Static" && (Style(child) & SS_TYPEMASK) == SS_ICON) {
            // The message box keeps its icon control when it has no icon, with none set.
            content.icon = content.icon || SendMessageW(child, STM_GETICON, 0, 0) != 0;
        } else if (kind == L"Static" && Caption(child).size() > content.text.size()) {
            content.text = Caption(child);
        }
    }
    return content;
}

// A box as the user sees it once it is drawn: a box that has just appeared may not be painted
// yet. Its program has painted it when it waits for input again, and the screen holds the picture
// when two captures a moment apart agree.
void Screenshot(const Installer& installer, HWND window, const std::string& name) {
    if (Options().screenshots.empty()) {
        return;
    }
    WaitForInputIdle(installer.Proc().Handle(), 5000);
    RECT rect{};
    GetWindowRect(window, &rect);
    std::optional<ScreenImage> picture;
    WaitUntil(
        [&] {
            ScreenImage now = ScreenImage::Capture(rect);
            const bool settled = picture && now.SameAs(*picture);
            picture = std::move(now);
            return settled;
        },
        milliseconds(3000));
    picture->SaveBmp(Options().screenshots / (name + ".bmp"));
}

// The error box of a failure: the title, the error icon, one OK button, and `text`.
void ExpectErrorBox(const Installer& installer, const std::wstring& title,
                    const std::wstring& text) {
    const HWND box = WaitForBoxTitled(installer, title);
    ASSERT_NE(box, nullptr) << "no error box";
    const BoxContent content = ReadBox(box);
    EXPECT_EQ(content.text, text);
    EXPECT_TRUE(content.icon);
    ASSERT_EQ(content.buttons.size(), 1u);
    EXPECT_EQ(content.buttons[0].first, IDOK);
    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, kBoxTimeout));
}

// After an error box: the window is active again with Button1, and the process goes on.
void ExpectWindowStays(const Installer& installer) {
    EXPECT_TRUE(
        WaitUntil([&] { return ActiveOfThread(installer.Proc().ThreadId()) == installer.Window(); },
                  kBoxTimeout));
    EXPECT_TRUE(installer.Button1Ready());
    EXPECT_TRUE(installer.Proc().IsRunning());
}

// Checks the cancel notice and closes it with `close`.
template <typename Close>
void ExpectNotice(const Installer& installer, Close close) {
    const HWND notice = WaitForBoxTitled(installer, kTitle);
    ASSERT_NE(notice, nullptr) << "no notice after the cancel";
    const BoxContent content = ReadBox(notice);
    EXPECT_EQ(content.text, kNoticeText);
    EXPECT_FALSE(content.icon);
    ASSERT_EQ(content.buttons.size(), 1u);
    EXPECT_EQ(content.buttons[0], std::make_pair(1, std::wstring(L"OK")));

    // Centred in the working area of the main window's monitor, at its own size.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(installer.Window(), MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const RECT& own = content.rect;
    EXPECT_EQ(own.left, work.left + ((work.right - work.left) - (own.right - own.left)) / 2);
    EXPECT_EQ(own.top, work.top + ((work.bottom - work.top) - (own.bottom - own.top)) / 2);

    Screenshot(installer, notice, "notice");
    close(notice);
}

// Where the dialog opens for argument 1, and the profile chosen there rewritten.
struct StartCase {
    const char* name;
    // Argument 1 for the folder of profiles and the profile in it.
    std::wstring (*arguments)(const fs::path& profiles, const fs::path& profile);
    // What the dialog's name box holds when it opens.
    const wchar_t* nameShown;
    // The picture of the dialog, under this name; none when empty.
    const char* screenshot;
};

const StartCase startCases[] = {
    // A bare name typed is looked for in the folder that the dialog shows.
    {"the folder of profiles",
     [](const fs::path& profiles, const fs::path&) { return FolderArguments(profiles); }, L"",
     "dialog"},
    // The name alone, taken with Enter, is looked for in the folder that the dialog shows: the
    // rewrite of this very file says that the dialog opened in the file's folder.
    {"a file",
     [](const fs::path&, const fs::path& profile) { return L"\"" + profile.wstring() + L"\""; },
     L"profile.xml", ""},
    // The folder of the missing file, with the name box empty.
    {"a missing file",
     [](const fs::path& profiles, const fs::path&) {
         return L"\"" + (profiles / L"Nobody.xml").wstring() + L"\"";
     },
     L"", ""},
};

class StartPlaceTest : public testing::TestWithParam<StartCase> {};

TEST_P(StartPlaceTest, TheDialogOpensThereAndTheProfileChosenIsRewritten) {
    const StartCase& start = GetParam();
    ScratchFolder folder;
    const fs::path profile = WriteProfile(folder);
    const Installer installer =
        StartRevealedWith(Options().installer, start.arguments(folder.Profiles(), profile));

    const HWND dialog = OpenFileDialog(installer);
    ASSERT_NE(dialog, nullptr) << "no file-open dialog";
    if (*start.screenshot != '\0') {
        Screenshot(installer, dialog, start.screenshot);
    }
    const HWND nameBox = FileNameBox(dialog);
    EXPECT_EQ(EditText(nameBox), start.nameShown);
    EXPECT_EQ(installer.OwnedBoxes().size(), 1u) << "no message besides the dialog";
    if (*start.nameShown != L'\0') {
        PostKeyPress(nameBox, VK_RETURN);
    } else {
        Choose(dialog, L"profile.xml");
    }

    EXPECT_EQ(installer.Proc().WaitForExit(kExitTimeout), std::optional<DWORD>(0));
    EXPECT_EQ(ReadBytes(profile), kRewritten);
}

INSTANTIATE_TEST_SUITE_P(ArgumentOne, StartPlaceTest, testing::ValuesIn(startCases), CaseName());

TEST(ProfileSelection, CancelShowsTheNoticeThenEndsWithTheProfileUntouched) {
    ScratchFolder folder;
    const fs::path profile = WriteProfile(folder);
    const Installer installer = StartRevealed(folder);

    const HWND dialog = OpenFileDialog(installer);
    ASSERT_NE(dialog, nullptr) << "no file-open dialog";
    Cancel(dialog);
    ExpectNotice(installer,
                 [](HWND notice) { PostMessageW(GetDlgItem(notice, 1), BM_CLICK, 0, 0); });

    EXPECT_EQ(installer.Proc().WaitForExit(kExitTimeout), std::optional<DWORD>(0));
    EXPECT_EQ(ReadBytes(profile), kProfile);
}

TEST(ProfileSelection, TabThenEnterOpensTheDialogAndEscapeClosesTheNotice) {
    ScratchFolder folder;
    const Installer installer = StartRevealed(folder);

    PostKeyPress(installer.Window(), VK_TAB);
    PostKeyPress(installer.Window(), VK_RETURN);
    const HWND dialog = WaitForFileDialog(installer);
    ASSERT_NE(dialog, nullptr) << "Tab then Enter opened no file-open dialog";
    Cancel(dialog);
    ExpectNotice(installer, [](HWND notice) { PostKeyPress(GetDlgItem(notice, 1), VK_ESCAPE); });

    EXPECT_EQ(installer.Proc().WaitForExit(kExitTimeout), std::optional<DWORD>(0));
}

TEST(ProfileSelection, UnwritableProfileGivesTheErrorBoxAtEachTryAndTheWindowStays) {
    ScratchFolder folder;
    const fs::path profile = WriteProfile(folder);
    ASSERT_TRUE(SetFileAttributesW(profile.c_str(), FILE_ATTRIBUTE_READONLY));
    const Installer installer = StartRevealed(folder);
    const std::wstring reason = SystemText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(reason.empty());
    ASSERT_GT(reason.back(), L'.') << "the full stop is then added";
    const std::wstring expected =
        L"Impossible de cr\u00e9er le fichier \"" + profile.wstring() + L"\". " + reason + L".";

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const HWND dialog = OpenFileDialog(installer);
        ASSERT_NE(dialog, nullptr) << "no file-open dialog";
        Choose(dialog, L"profile.xml");
        if (attempt == 1 && !Options().screenshots.empty()) {
            const HWND box = WaitForBoxTitled(installer, kTitle);
            ASSERT_NE(box, nullptr);
            Screenshot(installer, box, "error");
        }
        ExpectErrorBox(installer, kTitle, expected);
        ExpectWindowStays(installer);
    }
    EXPECT_EQ(ReadBytes(profile), kProfile);
}

// A copy of the installer of this run under `name`, in the scratch folder.
std::wstring CopyOfInstaller(const ScratchFolder& folder, const wchar_t* name) {
    const fs::path copy = folder.Path() / name;
    fs::copy_file(fs::path(Options().installer), copy);
    return copy.wstring();
}

TEST(ProfileSelection, TypedMissingFileGivesTheOpenErrorUnderTheProgramsOwnName) {
    ScratchFolder folder;
    const Installer installer = StartRevealed(folder, CopyOfInstaller(folder, L"INSTALL.EXE"));

    const HWND dialog = OpenFileDialog(installer);
    ASSERT_NE(dialog, nullptr) << "no file-open dialog";
    Choose(dialog, L"absent.xml");
    const std::wstring reason = SystemText(ERROR_FILE_NOT_FOUND);
    ASSERT_GT(reason.back(), L'.');
    ExpectErrorBox(installer, L"Install",
                   L"Impossible d'ouvrir le fichier \"" +
                       (folder.Profiles() / L"absent.xml").wstring() + L"\". " + reason + L".");
    ExpectWindowStays(installer);
    EXPECT_FALSE(fs::exists(folder.Profiles() / L"absent.xml"));
}

// Wine reports another Windows version to a program named under AppDefaults in the registry.
class WineAppVersion {
  public:
    WineAppVersion(const std::wstring& program, const wchar_t* version)
        : key_(L"Software\\Wine\\AppDefaults\\" + program) {
        const auto bytes = static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t));
        RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, version, bytes);
    }
    ~WineAppVersion() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
    WineAppVersion(const WineAppVersion&) = delete;
    WineAppVersion& operator=(const WineAppVersion&) = delete;

  private:
    std::wstring key_;
};

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(ProfileSelection, WindowsXpGivesTheVersionErrorAtEveryClick) {
    if (!UnderWine()) {
        GTEST_SKIP() << "only Wine can report Windows XP to one program";
    }
    ScratchFolder folder;
    const std::wstring copy = CopyOfInstaller(folder, L"XPINSTALL.EXE");
    // Windows XP as a 32-bit program sees it, version 5.1.
    const WineAppVersion xp(L"XPINSTALL.EXE", L"winxp");
    const Installer installer = StartRevealed(folder, copy);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        installer.ClickButton1();
        ExpectErrorBox(installer, L"Xpinstall",
                       L"FileOpenDialog n\u00e9cessite Windows Vista ou sup\u00e9rieur.");
        EXPECT_TRUE(installer.OwnedBoxes().empty()) << "no file-open dialog after the error";
        ExpectWindowStays(installer);
    }
}

// The DLLs that a window program, the shell's dialog, the common controls and COM may load, under
// the names that a planted copy beside the program would take.
constexpr const wchar_t* kPlantedNames[] = {
    L"apphelp",    L"bcrypt",        L"cfgmgr32",        L"comctl32",
    L"comdlg32",   L"coremessaging", L"cryptbase",       L"cryptsp",
    L"cscapi",     L"d2d1",          L"d3d11",           L"dbghelp",
    L"devobj",     L"dui70",         L"duser",           L"dwmapi",
    L"dwrite",     L"dxgi",          L"edputil",         L"explorerframe",
    L"gdiplus",    L"iertutil",      L"imm32",           L"kernel.appcore",
    L"linkinfo",   L"mpr",           L"msctf",           L"msimg32",
    L"netutils",   L"ntmarta",       L"ntshrui",         L"oleacc",
    L"oleaut32",   L"powrprof",      L"profapi",         L"propsys",
    L"secur32",    L"setupapi",      L"shcore",          L"shell32",
    L"shlwapi",    L"srvcli",        L"sspicli",         L"textinputframework",
    L"thumbcache", L"umpdc",         L"urlmon",          L"userenv",
    L"uxtheme",    L"version",       L"windows.storage", L"windowscodecs",
    L"winmm",      L"wintypes",      L"wtsapi32",
};

// Starts `program`, opens the dialog, cancels it and closes the notice, as a user who changes
// their mind.
void CancelledSession(const ScratchFolder& folder, const std::wstring& program) {
    const Installer installer = StartRevealed(folder, program);
    const HWND dialog = OpenFileDialog(installer);
    ASSERT_NE(dialog, nullptr) << "no file-open dialog";
    Cancel(dialog);
    const HWND notice = WaitForBoxTitled(installer, kTitle);
    ASSERT_NE(notice, nullptr) << "no notice after the cancel";
    PostMessageW(GetDlgItem(notice, 1), BM_CLICK, 0, 0);
    EXPECT_EQ(installer.Proc().WaitForExit(kExitTimeout), std::optional<DWORD>(0));
}

TEST(ProfileSelection, LoadsNoDllPlantedBesideTheProgram) {
    ASSERT_FALSE(Options().markerDll.empty()) << "the marker DLL is given with --marker-dll=DLL";
    ScratchFolder folder;
    const std::wstring copy = CopyOfInstaller(folder, L"Talvor_Skarnel_Installer.exe");
    for (const wchar_t* name : kPlantedNames) {
        fs::copy_file(Options().markerDll, folder.Path() / (std::wstring(name) + L".dll"));
    }
    // A planted DLL may keep the program from starting at all; the markers still tell which.
    try {
        CancelledSession(folder, copy);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }

    std::wstring loaded;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.Path())) {
        if (entry.path().extension() == L".loaded") {
            loaded += L" " + entry.path().stem().wstring();
        }
    }
    EXPECT_TRUE(loaded.empty()) << "planted DLLs that the program loaded:" << loaded;
}

}  // namespace
}  // namespace e2e
