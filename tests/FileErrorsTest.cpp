// Errors of loading and saving files, with their exact messages.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/CaseName.h"
#include "support/TempFolder.h"
#include "text/Error.h"
#include "text/LineList.h"
#include "text/Platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// The system's text for a missing file, as the messages end with it.
Text MissingFileText() {
#ifdef _WIN32
    return TrimSystemText(platform::SystemErrorText(ERROR_FILE_NOT_FOUND));
#else
    return u"No such file or directory";
#endif
}

TEST(SystemText, TrailingBlanksAndFullStopsGo) {
    EXPECT_EQ(TrimSystemText(u"Access is denied.\r\n"), u"Access is denied");
    EXPECT_EQ(TrimSystemText(u"a . .\t. "), u"a");
    EXPECT_EQ(TrimSystemText(u"...\r\n"), u"");
    EXPECT_EQ(TrimSystemText(u"v1.2 x"), u"v1.2 x");
}

TEST(FullPath, RelativePathsAreCompletedLexically) {
    TempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    const Text base = AsText(fs::current_path());
    const Text separator = AsText(fs::path("a") / "b").substr(1, 1);
    EXPECT_EQ(platform::FullPath(u"x.xml"), base + separator + u"x.xml");
    EXPECT_EQ(platform::FullPath(u"./sub/../x.xml"), base + separator + u"x.xml");
    fs::current_path(previous);
}

TEST(LoadFile, MissingFileNamesItsFullPath) {
    TempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    LineList list;
    list.LoadBytes("kept");
    try {
        list.LoadFile(u"missing.xml");
        ADD_FAILURE() << "no error";
    } catch (const FileOpenError& error) {
        const Text full = AsText(fs::current_path() / "missing.xml");
        EXPECT_EQ(error.Message(),
                  u"Impossible d'ouvrir le fichier \"" + full + u"\". " + MissingFileText());
    }
    fs::current_path(previous);
    EXPECT_EQ(list.SaveBytes(), "kept\r\n");
}

// Only a regular file is read: a folder, a device or a pipe is refused at once, before a read
// that would wait for a writer or never end.
struct SpecialFileCase {
    std::string name;
    std::function<fs::path(const TempFolder&)> make;
    Text systemText;
};

void PrintTo(const SpecialFileCase& row, std::ostream* out) {
    *out << row.name;
}

#ifdef _WIN32
const SpecialFileCase specialFileCases[] = {
    {"folder", [](const TempFolder& folder) { return folder.Path(); },
     TrimSystemText(platform::SystemErrorText(ERROR_ACCESS_DENIED))},
    {"device", [](const TempFolder&) { return fs::path(L"NUL"); },
     TrimSystemText(platform::SystemErrorText(ERROR_NOT_SUPPORTED))},
};
#else
const SpecialFileCase specialFileCases[] = {
    {"folder", [](const TempFolder& folder) { return folder.Path(); }, u"Is a directory"},
    {"device", [](const TempFolder&) { return fs::path("/dev/zero"); }, u"Operation not supported"},
    {"fifo_without_writer",
     [](const TempFolder& folder) {
         const fs::path fifo = folder / "fifo";
         EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
         return fifo;
     },
     u"Operation not supported"},
};
#endif

class SpecialFileTest : public testing::TestWithParam<SpecialFileCase> {};

TEST_P(SpecialFileTest, IsRefusedAtOnce) {
    TempFolder folder;
    const fs::path path = GetParam().make(folder);
    LineList list;
    try {
        list.LoadFile(AsText(path));
        ADD_FAILURE() << "no error";
    } catch (const FileOpenError& error) {
        EXPECT_EQ(error.Message(), u"Impossible d'ouvrir le fichier \"" +
                                       platform::FullPath(AsText(path)) + u"\". " +
                                       GetParam().systemText);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, SpecialFileTest, testing::ValuesIn(specialFileCases), CaseName());

TEST(SaveFile, MissingFolderRaisesCreateError) {
    TempFolder folder;
    const fs::path target = folder / "no-such-folder" / "p.xml";
    LineList list;
    list.InsertLine(0, u"x");
    try {
        list.SaveFile(AsText(target));
        ADD_FAILURE() << "no error";
    } catch (const FileCreateError& error) {
        const Text prefix = u"Impossible de créer le fichier \"" + AsText(target) + u"\". ";
        EXPECT_EQ(error.Message().substr(0, prefix.size()), prefix);
        EXPECT_GT(error.Message().size(), prefix.size()) << "the system's text is missing";
    }
    EXPECT_EQ(folder.Names(), std::set<std::string>{});
}

TEST(SaveFile, NewFileIsCreated) {
    TempFolder folder;
    LineList list;
    list.InsertLine(0, u"x");
    list.SaveFile(AsText(folder / "new.xml"));
    EXPECT_EQ(ReadBytes(folder / "new.xml"), "x\r\n");
    EXPECT_EQ(folder.Names(), std::set<std::string>{"new.xml"});
}

TEST(WriteError, TheSystemTextFollowsTheMessageAfterAColon) {
    EXPECT_EQ(FileWriteError(u"Disk full").Message(), FileWriteError().Message() + u": Disk full");
}

}  // namespace
