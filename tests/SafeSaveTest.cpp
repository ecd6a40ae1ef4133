// A save that fails never costs the profile a byte, nor leaves a file behind; one that succeeds
// rewrites the real file and leaves it what it was: its links, names, owner and permissions.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "profile/ProfileRewrite.h"
#include "support/CaseName.h"
#include "support/TempFolder.h"
#include "text/Error.h"
#include "text/LineList.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string profile = "<lx>\r\n<mapfiles>old</mapfiles>\r\n<showraster>0</showraster>\r\n";
// A profile that fills most of a 4 KiB page, so that its rewrite needs one more.
const std::string pageProfile =
    "<lx>\r\n<note>" + std::string(3900, 'x') + "</note>\r\n<mapfiles>old</mapfiles>\r\n</lx>\r\n";

bool Rewritten(const fs::path& path) {
    return ReadBytes(path).find(ToUtf8(MapFilesLine)) != std::string::npos;
}

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

// Another name of the same file sees the new content: the file was written in place, not
// replaced by a new one.
TEST(SafeSave, SecondNameKeepsSharingTheContent) {
    TempFolder folder;
    WriteBytes(folder / "p.xml", profile);
    fs::create_hard_link(folder / "p.xml", folder / "other.xml");
    ApplyMapSet(AsText(folder / "p.xml"));
    EXPECT_TRUE(Rewritten(folder / "p.xml"));
    EXPECT_TRUE(fs::equivalent(folder / "p.xml", folder / "other.xml"));
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"other.xml", "p.xml"}));
}

// Another program's change between the load and the save is never lost: the save writes
// nothing and says why, whichever way the file would have been saved.
TEST(SafeSave, ChangeByAnotherProgramAfterTheLoadIsKept) {
    const std::string theirs = profile + "<their-line/>\r\n";
    const struct {
        const char* what;
        std::function<void(const fs::path&)> change;
        std::string kept;  // the file's bytes afterwards, "" for no file
    } changes[] = {
        {"a line appended", [&](const fs::path& p) { WriteBytes(p, theirs); }, theirs},
        // Told by its time of change, which a write within the same tick of the file system's
        // clock would not move: the tick is set apart here.
        {"the same size, written again",
         [](const fs::path& p) {
             std::string bytes = profile;
             bytes[1] = 'L';
             const auto loaded = fs::last_write_time(p);
             WriteBytes(p, bytes);
             fs::last_write_time(p, loaded + std::chrono::seconds(2));
         },
         "<Lx>" + profile.substr(4)},
        {"replaced by another file",
         [&](const fs::path& p) {
             WriteBytes(p.string() + ".new", theirs);
             fs::rename(p.string() + ".new", p);
         },
         theirs},
        {"removed", [](const fs::path& p) { fs::remove(p); }, ""},
    };
    for (const bool inPlace : {false, true}) {
        for (const auto& change : changes) {
            SCOPED_TRACE(std::string(change.what) + (inPlace ? ", written in place" : ""));
            TempFolder folder;
            const fs::path target = folder / "p.xml";
            WriteBytes(target, profile);
            if (inPlace) {
                fs::create_hard_link(target, folder / "other.xml");
            }
            LineList list;
            list.LoadFile(AsText(target));
            RewriteProfile(list);
            change.change(target);
            try {
                list.SaveFile(AsText(target));
                ADD_FAILURE() << "saved over the change";
            } catch (const FileCreateError& error) {
                EXPECT_EQ(error.Message(), u"Impossible de créer le fichier \"" + AsText(target) +
                                               u"\". Le fichier a été modifié par un autre "
                                               u"programme pendant sa réécriture ; réessayez");
            }
            EXPECT_EQ(fs::exists(target) ? ReadBytes(target) : "", change.kept);
            std::set<std::string> names = {"p.xml"};
            if (inPlace) {
                names.insert("other.xml");
            }
            if (change.kept.empty()) {
                names.erase("p.xml");
            }
            EXPECT_EQ(folder.Names(), names);
        }
    }
}

// The file loaded is the file saved however each path spells it.
TEST(SafeSave, ChangeIsKeptWhateverThePathsSpelling) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    const fs::path spelledAgain = folder / "." / "sub" / ".." / "p.xml";
    fs::create_directory(folder / "sub");
    LineList list;
    list.LoadFile(AsText(spelledAgain));
    RewriteProfile(list);
    const std::string theirs = profile + "<their-line/>\r\n";
    WriteBytes(target, theirs);
    EXPECT_THROW(list.SaveFile(AsText(target)), FileCreateError);
    EXPECT_EQ(ReadBytes(target), theirs);
}

TEST(SafeSave, SymbolicLinkStaysAndItsTargetIsRewritten) {
    TempFolder folder;
    fs::create_directory(folder / "sub");
    WriteBytes(folder / "sub" / "real.xml", profile);
    std::error_code error;
    fs::create_symlink(fs::path("sub") / "real.xml", folder / "p.xml", error);
    if (error) {
        // Wine 8 makes no symbolic links; tests/tool_test.sh makes them from Linux for it.
        GTEST_SKIP() << "no symbolic link can be made here: " << error.message();
    }
    ApplyMapSet(AsText(folder / "p.xml"));
    EXPECT_TRUE(fs::is_symlink(folder / "p.xml"));
    EXPECT_TRUE(Rewritten(folder / "sub" / "real.xml"));
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"p.xml", "sub"}));
}

#ifdef _WIN32
// A handle without sharing stands for another program that holds the profile open.
struct Handle {
    HANDLE value;
    ~Handle() { CloseHandle(value); }
};

// ReplaceFileW puts the new content in the profile's place in one step on Windows: a program
// that looks for the profile meanwhile always finds it. Wine 8's ReplaceFileW removes the profile
// before it renames the new file: the gap is shown here, so that a Wine that closes it is noticed.
struct ProfileWatch {
    std::wstring path;
    volatile LONG stop = 0;
    volatile LONG missing = 0;
};

// Another program's view: looks for the profile until told to stop.
DWORD WINAPI LookForProfile(void* context) {
    auto& watch = *static_cast<ProfileWatch*>(context);
    while (InterlockedCompareExchange(&watch.stop, 0, 0) == 0) {
        if (GetFileAttributesW(watch.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            InterlockedIncrement(&watch.missing);
        }
    }
    return 0;
}

TEST(SafeSave, ProfileIsThereThroughoutTheReplacement) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, pageProfile);
    ProfileWatch watch{target.wstring()};
    const HANDLE looker = CreateThread(nullptr, 0, LookForProfile, &watch, 0, nullptr);
    ASSERT_NE(looker, nullptr);
    constexpr int saves = 200;
    for (int i = 0; i < saves; ++i) {
        ApplyMapSet(AsText(target));
    }
    InterlockedExchange(&watch.stop, 1);
    WaitForSingleObject(looker, INFINITE);
    CloseHandle(looker);
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (wine) {
        EXPECT_GT(watch.missing, 0) << "Wine's ReplaceFileW no longer leaves a gap";
    } else {
        EXPECT_EQ(watch.missing, 0) << "the profile was missing " << watch.missing << " times";
    }
    std::printf("the profile was found missing %ld times during %d saves\n",
                static_cast<long>(watch.missing), saves);
}

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
    EXPECT_TRUE(Rewritten(target));
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}
#else
TEST(SafeSave, PermissionBitsOwnerAndGroupStay) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    // As root, the profile of another user and group; the new file would be root's.
    const passwd* nobody = getpwnam("nobody");
    const bool otherOwner = geteuid() == 0 && nobody != nullptr;
    if (otherOwner) {
        ASSERT_EQ(chown(target.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ApplyMapSet(AsText(target));
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_TRUE(Rewritten(target));
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
    if (!otherOwner) {
        std::puts("note: not root, so the profile could not be given to another user");
    }
}

// The exit status of `work` run in a child process that has left root for user nobody, who may
// not make files in the folders of the test: true where it returned true.
bool AsNobody(const std::function<bool()>& work) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) {
        ADD_FAILURE() << "no user nobody";
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        const bool dropped = setgroups(0, nullptr) == 0 && setgid(nobody->pw_gid) == 0 &&
                             setuid(nobody->pw_uid) == 0;
        _exit(dropped && work() ? 0 : 1);
    }
    int status = 1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SafeSave, FolderThatRefusesANewFileGetsTheProfileWrittenInPlace) {
    TempFolder folder;
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    const auto apply = [&target] {
        try {
            ApplyMapSet(AsText(target));
            return true;
        } catch (const Error& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return false;
        }
    };
    if (geteuid() == 0) {
        // Root may make files in any folder: the save runs as a user who may not.
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(chown(target.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        EXPECT_TRUE(AsNobody(apply));
    } else {
        fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(apply());
        fs::permissions(folder.Path(), fs::perms::owner_all);
    }
    EXPECT_TRUE(Rewritten(target));
    EXPECT_EQ(folder.Names(), std::set<std::string>{"p.xml"});
}

// Another user's file at the name of the profile's backup, in a folder that all may write, is
// neither read as a backup nor written over, by a read or by a save in place.
TEST(SafeSave, BackupPlantedByAnotherUserIsNeverUsed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "planting a file as another user needs root";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    TempFolder folder;
    ASSERT_EQ(chmod(folder.Path().c_str(), 01777), 0);
    const fs::path target = folder / "p.xml";
    WriteBytes(target, profile);
    fs::create_hard_link(target, folder / "other.xml");
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    char name[64];
    std::snprintf(name, sizeof name, ".talvor-backup-%llx-%llx",
                  static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    const fs::path planted = folder / name;
    const std::string plantedBytes = "talvor-backup 2\n" + std::string(48, '\0') + "<planted/>";
    WriteBytes(planted, plantedBytes);
    ASSERT_EQ(chown(planted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

    LineList read;
    read.LoadFile(AsText(target));
    EXPECT_EQ(read.SaveBytes(), profile);
    ApplyMapSet(AsText(target));
    EXPECT_TRUE(Rewritten(target));
    EXPECT_EQ(ReadBytes(planted), plantedBytes);
}

// A real full disk: a small tmpfs, filled to its last page.
struct FullDiskCase {
    std::string name;
    const char* mountOptions;
    bool secondName;  // the profile has another name, so it is written in place
    bool createError;
    Text messageEnd;
};

void PrintTo(const FullDiskCase& row, std::ostream* out) {
    *out << row.name;
}

const FullDiskCase fullDiskCases[] = {
    {"replaced", "size=256k", false, false, u"No space left on device"},
    {"written_in_place", "size=256k", true, false, u"No space left on device"},
    {"no_inode_left", "size=1m,nr_inodes=2", false, true, u"No space left on device"},
};

class FullDiskTest : public testing::TestWithParam<FullDiskCase> {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        }
        if (mount("talvor-test", folder_.Path().c_str(), "tmpfs", 0, GetParam().mountOptions) !=
            0) {
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
        if (filler == nullptr) {
            return;  // not even a file: no inode is left
        }
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }

    TempFolder folder_;
    bool mounted_ = false;
};

TEST_P(FullDiskTest, ProfileKeepsEveryByte) {
    const FullDiskCase& row = GetParam();
    const fs::path target = folder_ / "p.xml";
    WriteBytes(target, pageProfile);
    std::set<std::string> names{"p.xml"};
    if (row.secondName) {
        fs::create_hard_link(target, folder_ / "other.xml");
        names.insert("other.xml");
    }
    Fill();
    if (fs::exists(folder_ / "filler")) {
        names.insert("filler");
    }
    try {
        ApplyMapSet(AsText(target));
        ADD_FAILURE() << "no error";
    } catch (const FileCreateError& error) {
        EXPECT_TRUE(row.createError) << ToUtf8(error.Message());
        EXPECT_TRUE(error.Message().ends_with(row.messageEnd)) << ToUtf8(error.Message());
    } catch (const FileWriteError& error) {
        EXPECT_FALSE(row.createError) << ToUtf8(error.Message());
        // In place, it is the backup that finds no room: the message says where.
        const Text where =
            row.secondName ? u" (dossier \"" + AsText(folder_.Path()) + u"\")" : Text();
        EXPECT_EQ(error.Message(), u"Erreur d'écriture dans le flux: " + row.messageEnd + where);
    }
    EXPECT_EQ(ReadBytes(target), pageProfile);
    EXPECT_EQ(folder_.Names(), names);
}

INSTANTIATE_TEST_SUITE_P(Disks, FullDiskTest, testing::ValuesIn(fullDiskCases), CaseName());
#endif

}  // namespace
