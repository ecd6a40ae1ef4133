#pragma once

// What each system does with files, and nothing more. Every operation does one thing and reports
// what happened: a result, or a SystemError that names the file or folder it concerns. None
// decides what a save does next: the rules of a rewrite in place, of its backup and of recovery
// are written once above it (InPlaceRewrite.cpp, Backup.cpp, Recovery.cpp). System_posix.cpp and
// System_win.cpp implement it.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "BackupRecord.h"

namespace file {

// A path as the system takes it: UTF-16 code units on Windows, bytes on POSIX systems. The rules
// above never make one of their own: names come from the functions below.
#ifdef _WIN32
// (char16_t rather than wchar_t, the same units: the program then holds one kind of string.)
using Path = std::u16string;
using PathView = std::u16string_view;
#else
using Path = std::string;
using PathView = std::string_view;
#endif

// An error code of the system: errno, or GetLastError's.
using SystemCode = std::uint32_t;

// A call of the system failed.
class SystemError : public std::exception {
  public:
    SystemError(SystemCode code, Path concerned) : code_(code), concerned_(std::move(concerned)) {}
    SystemCode Code() const noexcept { return code_; }
    // The file or folder that the failure concerns, where the call had one.
    const Path& Concerned() const noexcept { return concerned_; }
    const char* what() const noexcept override { return "a call of the system failed"; }

  private:
    SystemCode code_;
    Path concerned_;
};

// The system's codes that the rules above need to tell apart.
extern const SystemCode noSuchFile;    // ENOENT, ERROR_FILE_NOT_FOUND
extern const SystemCode accessDenied;  // EACCES, ERROR_ACCESS_DENIED
extern const SystemCode linkInTheWay;  // a link where a file was to be opened without following one
extern const SystemCode shortFile;     // a file that ended before the bytes asked for (EIO)
extern const SystemCode inUse;         // EBUSY, ERROR_SHARING_VIOLATION: another program holds it

struct FileFacts {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // the time of the last change, in the system's own units
    std::uint32_t links = 1;
    bool regular = false;
    bool ownedByCaller = false;
};

// What a file's mark (the place of its backup while a rewrite needs it) was found to be.
enum class MarkState {
    Marked,    // the file names its backup
    Unmarked,  // the file system keeps marks, and this file has none
    NotKept,   // the file system keeps no marks: a backup is looked for by its name
};

// An open file, closed when its owner goes.
class SystemFile {
  public:
    struct Handle;
    SystemFile();
    SystemFile(std::unique_ptr<Handle> handle, Path where);
    ~SystemFile();
    SystemFile(SystemFile&&) noexcept;
    SystemFile& operator=(SystemFile&&) noexcept;

    // The path it was opened by, as the user would write it, for messages.
    const Path& Where() const { return where_; }
    FileFacts Facts() const;
    // Exactly `bytes.size()` bytes from `offset` on; a file that ends before is a shortFile error.
    void ReadAt(std::uint64_t offset, std::span<char> bytes) const;
    // All of `bytes` at `offset`.
    void WriteAt(std::uint64_t offset, std::string_view bytes);
    void SetSize(std::uint64_t size);
    // Room for `size` bytes, taken now: a full disk fails here, before a byte changes. The file
    // grows to at least that size; what lies past its old end reads as zeros.
    void Reserve(std::uint64_t size);
    // Forces the file's bytes and facts to the disk.
    void Sync();
    // Takes the file's lock, exclusive or shared, waiting for another save of this program up to
    // a bound (POSIX systems; on Windows the sharing mode that the file was opened with is its
    // lock, and this does nothing).
    void Lock(bool exclusive);
    // The file belongs to the caller or to `profile`'s owner, and is open to nobody that
    // `profile` is not open to.
    bool KeptLike(const SystemFile& profile) const;

    MarkState ReadMark(Path& backup) const;
    // Marks the file with the place of its backup; nothing where the file system keeps no marks.
    void SetMark(const Path& backup);
    // Takes the mark off; nothing where there is none.
    void RemoveMark();

    Handle& Native() const { return *handle_; }

  private:
    std::unique_ptr<Handle> handle_;
    Path where_;
};

// An open folder, for making, finding and removing names in it.
class SystemFolder {
  public:
    struct Handle;
    SystemFolder();
    SystemFolder(std::unique_ptr<Handle> handle, Path where);
    ~SystemFolder();
    SystemFolder(SystemFolder&&) noexcept;
    SystemFolder& operator=(SystemFolder&&) noexcept;

    // Its full path, as the user would write it.
    const Path& Where() const { return where_; }
    // The full path of `name` in it.
    Path PathOf(PathView name) const;
    // The folder only takes new names, and never lets one go (`chattr +a`).
    bool KeepsNamesForGood() const;
    // A new file of that name, for reading and writing, made only where the name is free, never
    // through a link, and open to its owner alone, or to `profile`'s group as `profile` is where
    // the system has groups (never wider than `profile`), before a byte is in it. None where the
    // folder refuses it: no right to make it, a folder that cannot be written, a name taken.
    std::optional<SystemFile> CreateExclusive(PathView name, const SystemFile& profile);
    // Removes the name; a name that is not there is no error.
    void Remove(PathView name);
    // Forces the folder's names to the disk.
    void Sync();

  private:
    std::unique_ptr<Handle> handle_;
    Path where_;
};

enum class Access { Read, ReadWrite };

// The file at `path`, opened without following a link at its end and without waiting (a pipe is
// opened, not waited on); none when nothing is there. Others may read it meanwhile; with
// ReadWrite, on Windows, nobody else may open it.
std::optional<SystemFile> OpenExisting(PathView path, Access access);

// The folder that holds the file at `path` (which need not exist), and the file's name in it.
SystemFolder OpenFolderOf(PathView path, Path& name);

// The user's own folder of backups, found from the user's identity, never from the environment;
// with `create`, made where it is missing. None where there is none that only the user may enter.
std::optional<SystemFolder> OpenPrivateFolder(bool create);

// The name of the backup of the file `identity` in a folder, the same in every folder.
Path BackupName(const FileIdentity& identity);
// The name that the new file of a save of the file `identity` has while a save writes it.
Path NewFileName(const FileIdentity& identity);

// Holds back, for as long as it lives, what would end the process (the signals that can be
// caught; on Windows, console events), so that a step that must not be cut short ends first.
class EndingHeld {
  public:
    EndingHeld();
    ~EndingHeld();
    EndingHeld(const EndingHeld&) = delete;
    EndingHeld& operator=(const EndingHeld&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace file
