#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "CutRewriteCode.h"
#include "FileReplacementState.h"
#include "Platform_win.h"
#include "file/Backup.h"
#include "file/InPlaceRewrite.h"

namespace platform {
namespace {

// The new file of a save in progress, for the console handler, which runs on a thread of its own:
// file::EndingHeld keeps the handler waiting while it changes, and while a step that must not be
// cut short runs.
struct PendingFile {
    Text path;                           // empty when there is none
    HANDLE file = INVALID_HANDLE_VALUE;  // while it is open
};

// Never destroyed: the handler may still use it while the process ends.
PendingFile& Pending() {
    static PendingFile* const pending = new PendingFile;
    return *pending;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    // Kept until the process has ended, so that no new file is made meanwhile.
    file::HoldEndingForGood();
    // The new file is shared with no one, so that no other save takes it for a leftover: it is
    // closed first, then it goes.
    if (Pending().file != INVALID_HANDLE_VALUE) {
        CloseHandle(Pending().file);
    }
    if (!Pending().path.empty()) {
        DeleteFileW(Wide(Pending().path));
    }
    // The code of the system's own handler, which Wine replaces by 0.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

// A short name that no file of the folder is likely to have; names are tried until one is free.
Text CandidateName(unsigned attempt) {
    static const char16_t digits[] = u"0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long value = static_cast<unsigned long long>(GetTickCount()) ^
                               (GetCurrentProcessId() * 0x10001ull) ^ (attempt * 0x9E3779B9ull);
    Text name = u"~talvor-";
    for (int i = 0; i < 6; ++i) {
        name.push_back(digits[value % 36]);
        value /= 36;
    }
    return name + u".tmp";
}
constexpr unsigned nameAttempts = 100;

}  // namespace

class WindowsReplacement final : public FileReplacement::State {
  public:
    ErrorCode Open(TextView path) override;
    ErrorCode WriteNew(const char* data, std::size_t size, std::size_t& written) override;
    ErrorCode FlushNew() override;
    ErrorCode ReplaceTarget() override;
    void DropNew() override;
    ErrorCode WriteInPlace() override;
    Text BackupLeft() const override;
    Text FailedFolder() const override;

  private:
    Text target;  // the real file's full path
    bool targetExists = false;
    DWORD targetAttributes = INVALID_FILE_ATTRIBUTES;
    FileHandle targetFile;  // in place: the file itself, open for writing
    Text fresh;             // the new file's full path; empty in place
    Text freshName;         // the name of an existing file's new file
    FileHandle freshFile;
    Text backupLeft;    // a backup of the old bytes that could not be put back
    Text failedFolder;  // where the backup could not be made

    ErrorCode CheckUnchanged(HANDLE file) const;
    ErrorCode CreateFresh();
};

ErrorCode WindowsReplacement::CheckUnchanged(HANDLE file) const {
    if (!asRead) {
        return noError;
    }
    FileStamp now;
    if (const ErrorCode code = StampOf(file, now); code != noError) {
        return code;
    }
    return now == *asRead ? noError : fileChangedMeanwhile;
}

ErrorCode WindowsReplacement::CreateFresh() {
    const Text folder = target.substr(0, target.find_last_of(u"\\/") + 1);
    for (unsigned attempt = 0; attempt < nameAttempts; ++attempt) {
        // The file's own name for its new file (twice: once more after a leftover has gone), or,
        // for a file that does not exist yet or while another save writes under that name, a name
        // that no file of the folder is likely to have.
        const bool own = targetExists && attempt < 2;
        const Text candidate = folder + (own ? freshName : CandidateName(attempt));
        const file::EndingHeld held;
        freshFile = FileHandle(CreateFileW(Wide(candidate), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (freshFile.Valid()) {
            fresh = candidate;
            Pending().path = candidate;
            Pending().file = freshFile.Get();
            return noError;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return LastError();
        }
        // The file's own new file is there: left by a save that was killed, unless another save
        // of the file is writing it, which keeps it from going.
        if (own && attempt == 0) {
            DeleteFileW(Wide(candidate));
        }
    }
    return ERROR_FILE_EXISTS;
}

void WindowsReplacement::DropNew() {
    const file::EndingHeld held;
    freshFile.Close();
    Pending().file = INVALID_HANDLE_VALUE;
    if (!fresh.empty()) {
        DeleteFileW(Wide(fresh));
        fresh.clear();
    }
    Pending().path.clear();
}

ErrorCode WindowsReplacement::WriteInPlace() {
    // Windows programs cannot write the file while it is held here; others may (under Wine).
    try {
        file::Path name;
        file::SystemFolder folder = file::OpenFolderOf(target, name);
        file::SystemFile profile(
            std::make_unique<file::SystemFile::Handle>(Duplicate(targetFile.Get())), target);
        file::RewriteInPlace(folder, profile, content, [this] {
            if (const ErrorCode code = CheckUnchanged(targetFile.Get()); code != noError) {
                throw file::SystemError(code, {});
            }
        });
    } catch (const file::OldBytesKept& kept) {
        backupLeft = ShownPath(kept.Backup());
        return kept.Code();
    } catch (const file::BackupNotMade& notMade) {
        failedFolder = ShownPath(notMade.Concerned());
        return notMade.Code();
    } catch (const file::SystemError& error) {
        return error.Code();
    }
    return targetFile.Close() ? noError : LastError();
}

ErrorCode WindowsReplacement::ReplaceTarget() {
    const file::EndingHeld held;
    if (asRead) {
        // Last look before the replacement: a program that holds the file open for writing keeps
        // it from being opened here, and one that wrote it meanwhile has changed its stamp.
        const FileHandle file(CreateFileW(Wide(target), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            return GetLastError() == ERROR_FILE_NOT_FOUND ? fileChangedMeanwhile : LastError();
        }
        if (const ErrorCode code = CheckUnchanged(file.Get()); code != noError) {
            return code;
        }
    }
    if (!targetExists) {
        if (!MoveFileExW(Wide(fresh), Wide(target), MOVEFILE_WRITE_THROUGH)) {
            return LastError();
        }
    } else if (!ReplaceFileW(Wide(target), Wide(fresh), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                             nullptr, nullptr)) {
        // ReplaceFileW keeps the file's attributes, owner and security on the new content.
        const ErrorCode code = LastError();
        if (code != ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
            GetFileAttributesW(Wide(target)) != INVALID_FILE_ATTRIBUTES) {
            return code;
        }
        // Without a backup name this failure has removed the old file already: the new one takes
        // its place, or stays where it is as the only copy.
        if (!MoveFileExW(Wide(fresh), Wide(target), MOVEFILE_WRITE_THROUGH)) {
            fresh.clear();
            Pending().path.clear();
            return code;
        }
    }
    // Wine's ReplaceFileW leaves the new file's own attributes (hidden, archive...); put the
    // profile's back, as Windows does. The content is in place already, so this is best effort.
    if (targetExists && targetAttributes != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesW(Wide(target)) != targetAttributes) {
        SetFileAttributesW(Wide(target), targetAttributes);
    }
    fresh.clear();
    Pending().path.clear();
    return noError;
}

ErrorCode WindowsReplacement::Open(TextView path) {
    const Text full = FullPath(path);
    // Opening the file as the save would open it tells whether it may be written at all: a
    // read-only file, one held open by another program or one without the right is refused.
    FileHandle file(CreateFileW(Wide(full), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    target = full;
    if (file.Valid()) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
            return ERROR_NOT_SUPPORTED;
        }
        if (!GetFileInformationByHandle(file.Get(), &info)) {
            return LastError();
        }
        if (const ErrorCode code = CheckUnchanged(file.Get()); code != noError) {
            return code;
        }
        targetExists = true;
        targetAttributes = info.dwFileAttributes;
        const file::Path name = file::NewFileName(
            {info.dwVolumeSerialNumber,
             (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0});
        freshName = name;
        target = FinalPath(file.Get(), full);
        // A cut rewrite's bytes are no file to save over: its old bytes go back first, by the
        // recovery that begins every save.
        if (const ErrorCode code = CheckNoCutRewrite(file.Get(), target, backupLeft);
            code != noError) {
            return code;
        }
        // Replacing one name of several would part it from the others.
        if (info.nNumberOfLinks > 1) {
            targetFile = std::move(file);
            inPlace = true;
            return noError;
        }
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return LastError();
    } else if (asRead) {
        return fileChangedMeanwhile;
    }
    const ErrorCode created = CreateFresh();
    if (targetExists && created == ERROR_ACCESS_DENIED) {
        targetFile = std::move(file);
        inPlace = true;
        return noError;
    }
    return created;
}

ErrorCode WindowsReplacement::WriteNew(const char* data, std::size_t size, std::size_t& written) {
    DWORD done = 0;
    const auto asked = static_cast<DWORD>(std::min(size, ioPiece));
    const BOOL ok = WriteFile(freshFile.Get(), data, asked, &done, nullptr);
    written = done;
    return ok ? noError : LastError();
}

ErrorCode WindowsReplacement::FlushNew() {
    if (!FlushFileBuffers(freshFile.Get())) {
        return LastError();
    }
    const file::EndingHeld held;
    Pending().file = INVALID_HANDLE_VALUE;
    return freshFile.Close() ? noError : LastError();
}

Text WindowsReplacement::BackupLeft() const {
    return backupLeft;
}

Text WindowsReplacement::FailedFolder() const {
    return failedFolder;
}

std::unique_ptr<FileReplacement::State> NewReplacementState() {
    return std::make_unique<WindowsReplacement>();
}

void RemoveNewFileOnInterrupt() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace platform
