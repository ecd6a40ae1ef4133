// A save that fails never costs the profile a byte, nor leaves a file behind.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "profile/ProfileRewrite.h"
#include "support/TempFolder.h"
#include "text/Error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string profile = "<lx>\r\n<mapfiles>old</mapfiles>\r\n<showraster>0</showraster>\r\n";

void MakeReadOnly(const fs::path& path) {
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#endif
}

TEST(SafeSave, ReadOnlyProfileIsRefusedAndKept) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    MakeReadOnly(target);
    try {
        ApplyMapSet(AsText(target));
        ADD_FAILURE() << "no error";
    } catch (const FileCreateError& error) {
        const Text prefix = u"Impossible de créer le fichier \"" + AsText(target) + u"\". ";
        EXPECT_EQ(error.Message().substr(0, prefix.size()), prefix);
    }
    EXPECT_EQ(ReadBytes(target), profile);
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}

#ifdef _WIN32
// A handle without sharing stands for another program that holds the profile open.
struct Handle {
    HANDLE value;
    ~Handle() { CloseHandle(value); }
};

TEST(SafeSave, ProfileHeldOpenElsewhereIsKept) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    {
        // Held for reading only: the profile loads, but it must not be replaced meanwhile.
        const Handle reader{CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
        ASSERT_NE(reader.value, INVALID_HANDLE_VALUE);
        EXPECT_THROW(ApplyMapSet(AsText(target)), FileCreateError);
    }
    {
        // Held without sharing: not even the load gets in.
        const Handle exclusive{CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
        ASSERT_NE(exclusive.value, INVALID_HANDLE_VALUE);
        EXPECT_THROW(ApplyMapSet(AsText(target)), FileOpenError);
    }
    EXPECT_EQ(ReadBytes(target), profile);
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}

TEST(SafeSave, AttributesOfTheProfileStay) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ApplyMapSet(AsText(target));
    EXPECT_TRUE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_NE(ReadBytes(target), profile);
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}
#else
TEST(SafeSave, PermissionBitsOfTheProfileStay) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ApplyMapSet(AsText(target));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_NE(ReadBytes(target), profile);
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}

TEST(SafeSave, FolderWithoutRoomForANewFileIsWrittenInPlace) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root may create files in any folder, so none can be closed to it";
    }
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    ApplyMapSet(AsText(target));
    fs::permissions(folder.Path(), fs::perms::owner_all);
    EXPECT_NE(ReadBytes(target).find(ToUtf8(MapFilesLine)), std::string::npos);
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}

// A real full disk: a small tmpfs filled to its last byte.
class FullDisk : public testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        }
        if (mount("talvor-test", folder_.Path().c_str(), "tmpfs", 0, "size=256k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            umount(folder_.Path().c_str());
        }
    }
    void Fill() {
        std::FILE* filler = std::fopen((folder_ / "filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        std::fclose(filler);
        // Fill what a partly written block left.
        filler = std::fopen((folder_ / "filler").c_str(), "ab");
        while (std::fputc('x', filler) != EOF && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }

    TempFolder folder_;
    bool mounted_ = false;
};

TEST_F(FullDisk, ProfileKeepsEveryByte) {
    const fs::path target = folder_ / "p.xml";
    WriteBytes(target, profile);
    Fill();
    try {
        ApplyMapSet(AsText(target));
        ADD_FAILURE() << "no error";
    } catch (const FileWriteError& error) {
        EXPECT_EQ(error.Message(), u"Erreur d'écriture dans le flux: No space left on device");
    }
    EXPECT_EQ(ReadBytes(target), profile);
    EXPECT_EQ(folder_.Names(), (std::set<std::string>{"filler", "p.xml"}));
}
#endif

}  // namespace
