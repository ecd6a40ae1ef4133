// Where the file-open dialog opens for argument 1, decided against real folders and files.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "MapInstaller/StartPlace.h"
#include "support/TempFolder.h"

namespace {

TEST(StartPlace, AFileOpensItsFolderAndAMissingOneItsFolderIfThatExists) {
    const TempFolder temp;
    std::filesystem::create_directory(temp / "profiles");
    WriteBytes(temp / "profiles" / "Camille.xml", "<profile/>\r\n");
    const Text root = AsText(temp.Path());
    const Text profiles = root + u"\\profiles\\";

    const struct {
        const char* what;
        Text argument;
        StartPlace expected;
    } cases[] = {
        {"an existing file", profiles + u"Camille.xml", {profiles, u"Camille.xml"}},
        {"a missing file in an existing folder", profiles + u"Nobody.xml", {profiles, u""}},
        {"the same with forward slashes",
         root + u"/profiles/Nobody.xml",
         {root + u"/profiles/", u""}},
        {"a missing file in a missing folder",
         root + u"\\absent\\Nobody.xml",
         {root + u"\\absent\\Nobody.xml", u""}},
        {"an existing folder", root + u"\\profiles", {root + u"\\profiles", u""}},
        {"an existing folder with its separator", profiles, {profiles, u""}},
        {"a missing folder with its separator",
         profiles + u"absent\\",
         {profiles + u"absent\\", u""}},
        {"a name without a folder", u"Nobody.xml", {u"Nobody.xml", u""}},
        {"nothing", u"", {u"", u""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StartPlace place = StartPlaceFor(c.argument);
        EXPECT_EQ(ToUtf8(place.folder), ToUtf8(c.expected.folder));
        EXPECT_EQ(ToUtf8(place.fileName), ToUtf8(c.expected.fileName));
    }
}

}  // namespace
