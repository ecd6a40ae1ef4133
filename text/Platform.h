#pragma once

// The file system and code-page services that the line list needs, behind one interface with a
// Win32 implementation (Platform_win.cpp) and a POSIX one (Platform_posix.cpp). Failures come back
// as the platform's error codes; the line list turns them into its errors.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Text.h"

namespace platform {

using ErrorCode = std::uint32_t;
constexpr ErrorCode noError = 0;

// What tells that a file is still the one that was read, with the same content: the file itself
// (its volume, and its number there), its size and the time of its last change.
struct FileStamp {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // in the platform's own units
    bool operator==(const FileStamp&) const = default;
};

// An error code of our own: the file is not the one that was read any more (another program
// wrote, replaced or removed it meanwhile). Windows keeps codes with bit 29 for applications, and
// no POSIX error number is that large.
constexpr ErrorCode fileChangedMeanwhile = 0x20000001;
inline constexpr TextView fileChangedMeanwhileText =
    u"Le fichier a été modifié par un autre programme pendant sa réécriture ; réessayez";
// Others of our own, each about a backup that the caller is told the path of: a rewrite in
// place of the file was cut short, and its old bytes wait in the backup for the next save to put
// them back; ...
constexpr ErrorCode cutRewritePending = 0x20000003;
inline constexpr TextView cutRewritePendingText =
    u"Une réécriture de ce fichier a été interrompue ; son ancien contenu est gardé dans le "
    u"fichier \"%s\", que le prochain enregistrement remettra en place";
// ... the file was changed by another program since, so that the old bytes must not undo it:
// both stay for the user to compare; ...
constexpr ErrorCode changedAfterCutRewrite = 0x20000004;
inline constexpr TextView changedAfterCutRewriteText =
    u"Une réécriture de ce fichier a été interrompue, puis il a été modifié par un autre "
    u"programme ; son ancien contenu est gardé dans le fichier \"%s\"";
// ... or the file's backup is missing, or is not one that may be used (not this file's, not
// whole, or open to others).
constexpr ErrorCode backupUnusable = 0x20000005;
inline constexpr TextView backupUnusableText =
    u"Une réécriture de ce fichier a été interrompue, et la copie de son ancien contenu \"%s\" "
    u"est absente ou inutilisable";

// The text of one of the codes above; empty for a code of the system's.
inline TextView OwnErrorText(ErrorCode code) {
    switch (code) {
        case fileChangedMeanwhile:
            return fileChangedMeanwhileText;
        case cutRewritePending:
            return cutRewritePendingText;
        case changedAfterCutRewrite:
            return changedAfterCutRewriteText;
        case backupUnusable:
            return backupUnusableText;
        default:
            return {};
    }
}

// The text of one of the codes above that concern a backup, with the backup's path in it.
inline Text WithBackupPath(Text text, TextView backup) {
    if (const std::size_t at = text.find(u"%s"); at != Text::npos) {
        text.replace(at, 2, backup);
    }
    return text;
}

// The path completed to a full path, as the platform does it: joined to the current folder,
// "." and ".." folded, no link resolved; the file need not exist.
Text FullPath(TextView path);

// The platform's message for an error code in the user's language, untrimmed; empty if it has none.
// The codes of our own have our own messages.
Text SystemErrorText(ErrorCode code);

// An open file, closed when its owner goes.
class InputFile {
  public:
    InputFile();
    ~InputFile();
    InputFile(InputFile&&) noexcept;
    InputFile& operator=(InputFile&&) noexcept;

    // Opens an existing regular file for reading; others may read it meanwhile but not write it
    // (on POSIX systems, those that take the file's lock, as a save does; a read waits for a save
    // in progress, up to a bound). A folder, a device or a pipe is refused at once, without
    // waiting for a writer.
    ErrorCode Open(TextView path);
    // The backup that a failure of Open concerns (a rewrite of the file cut short), if any.
    const Text& Backup() const { return backup_; }
    ErrorCode Size(std::uint64_t& size) const;
    ErrorCode Stamp(FileStamp& stamp) const;
    // Reads up to `capacity` bytes; `got` is 0 at the end of the file.
    ErrorCode Read(char* buffer, std::size_t capacity, std::size_t& got);

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    Text backup_;
};

// Makes good a rewrite in place of the file at `path` that was cut short, as the first step of a
// save: the old bytes go back unless the file holds the whole new ones, and what the cut rewrite
// left goes. A read never does it: it fails instead (cutRewritePending). `backup` names the backup
// that a failure concerns.
ErrorCode RecoverCutRewrite(TextView path, Text& backup);

// The new content of a file, put in its place so that the file is either wholly rewritten or
// untouched, whatever fails and wherever the process is interrupted.
//
// The file rewritten is the real one: a symbolic link is followed and stays a link. The content
// goes to a new file beside it, which takes the file's place in one step with its permissions,
// owner and attributes. Where that would change what the file is (it has several names, or an
// owner that the new file cannot be given) or the folder refuses a new file for lack of
// permission, the content is written in place instead, once the room for all of it is reserved.
//
// Given the stamp of the file as it was read, the save writes nothing unless the file is still
// that one, checked when it opens and again just before the file is replaced or overwritten, and
// fails with fileChangedMeanwhile: another program's change is never lost silently. One save at a
// time: on POSIX systems the save holds the file's lock (two runs of this program wait for each
// other, up to a bound); on Windows the file's sharing mode keeps others out.
class FileReplacement {
  public:
    FileReplacement();
    ~FileReplacement();  // removes the new file unless it was put in place
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Fails when the file cannot be written (read-only, held open by another program, no right,
    // not a regular file) or no new file can be made (no space, an I/O error); the file is then
    // untouched.
    ErrorCode Open(TextView path, const FileStamp* asRead = nullptr);
    // Writes at most `size` bytes; `written` tells how many went. A failure may still have
    // written some.
    ErrorCode Write(const char* data, std::size_t size, std::size_t& written);
    // Forces the written content to the disk; in place, this is where the file is rewritten, and
    // a failure to reserve its room leaves it untouched.
    ErrorCode Flush();
    // Puts the new content in the file's place.
    ErrorCode Commit();
    // Where the old bytes wait when a rewrite in place failed and could not put them back;
    // empty otherwise. The next read of the file puts them back.
    Text BackupLeft() const;
    // The folder that a failure of Flush concerns where it is not the file's own (the one that
    // was to keep the old bytes aside); empty otherwise.
    Text FailedFolder() const;

    class State;  // what each system's save keeps and does

  private:
    std::unique_ptr<State> state_;
};

// From now on an interrupt of the process (Ctrl-C, a request to terminate, its console closing;
// on POSIX systems every signal that would end it and can be caught, a timer's, a user's or a
// broken pipe's among them) removes the new file of a save in progress, and waits for a rewrite
// in place to end, before the process ends as it would have. On POSIX systems a write past the
// file-size limit then fails with an error instead of ending the process.
void RemoveNewFileOnInterrupt();

// Asks for large memory pages behind the `size` bytes at `data`, not yet touched, where the system
// gives them for the asking: a large buffer is then filled with far fewer page faults.
void PreferLargePages(char* data, std::size_t size);

// The system's ANSI code page is UTF-8 (then a byte-order mark goes before such texts).
bool SystemCodePageIsUtf8();

// Whether the bytes are strict UTF-8: no invalid, overlong, surrogate or cut sequence.
bool ValidUtf8(std::string_view bytes);
// Decodes UTF-8 that ValidUtf8 accepted. Appends to `text`. The conversions below raise
// EncodingError where the platform fails one.
void DecodeUtf8(std::string_view bytes, Text& text);
// Encodes to UTF-8; a lone surrogate becomes U+FFFD. Appends to `bytes`.
void EncodeUtf8(TextView text, std::string& bytes);

// Whether every byte sequence decoded from the system code page encodes back to itself.
bool SystemCodePageRoundTrips();
// Conversions from and to the system's ANSI code page; every text has an answer, so only a
// failure of the platform makes them raise.
void DecodeSystemCodePage(std::string_view bytes, Text& text);
void EncodeSystemCodePage(TextView text, std::string& bytes);

}  // namespace platform
