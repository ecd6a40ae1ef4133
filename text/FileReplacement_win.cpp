#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "FileReplacementState.h"
#include "Platform_win.h"
#include "SaveBackup_win.h"

namespace platform {
namespace {

// The new file of a save in progress, for the console handler, which runs on a thread of its own.
// Its lock also keeps the handler waiting while a step that must not be cut short runs.
class PendingFile {
  public:
    PendingFile() { InitializeCriticalSection(&lock_); }

    void Lock() { EnterCriticalSection(&lock_); }
    void Unlock() { LeaveCriticalSection(&lock_); }
    Text path;                           // empty when there is none
    HANDLE file = INVALID_HANDLE_VALUE;  // while it is open

  private:
    CRITICAL_SECTION lock_;
};

// Never destroyed: the handler may still use it while the process ends.
PendingFile& Pending() {
    static PendingFile* const pending = new PendingFile;
    return *pending;
}

class PendingLock {
  public:
    PendingLock() { Pending().Lock(); }
    ~PendingLock() { Pending().Unlock(); }
    PendingLock(const PendingLock&) = delete;
    PendingLock& operator=(const PendingLock&) = delete;
};

BOOL WINAPI OnConsoleEvent(DWORD) {
    // Kept until the process has ended, so that no new file is made meanwhile.
    Pending().Lock();
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

// The file's path after every link, as the system resolved it when opening it. Windows XP lacks
// the function: there the full path as given stands for it.
Text FinalPath(HANDLE file, const Text& fullPath) {
    using Function = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    // GetProcAddress gives a generic pointer; the detour through void (*)() says that the cast to
    // the real signature is meant.
    const auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (function == nullptr) {
        return fullPath;
    }
    const Text final = GrowingWideText([&](wchar_t* buffer, std::size_t size) {
        return function(file, buffer, static_cast<DWORD>(size),
                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    return final.empty() ? fullPath : final;
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

  private:
    Text target;  // the real file's full path
    bool targetExists = false;
    DWORD targetAttributes = INVALID_FILE_ATTRIBUTES;
    FileHandle targetFile;  // in place: the file itself, open for writing
    Text fresh;             // the new file's full path; empty in place
    Text freshName;         // the name of an existing file's new file
    FileHandle freshFile;
    Text backupLeft;  // a backup of the old bytes that could not be put back

    ErrorCode CheckUnchanged(HANDLE file) const;
    ErrorCode CreateFresh();
    ErrorCode Overwrite();
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
        const PendingLock lock;
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
    const PendingLock lock;
    freshFile.Close();
    Pending().file = INVALID_HANDLE_VALUE;
    if (!fresh.empty()) {
        DeleteFileW(Wide(fresh));
        fresh.clear();
    }
    Pending().path.clear();
}

ErrorCode WindowsReplacement::WriteInPlace() {
    // Cut short, the file would be neither old nor new: the console handler waits; for what
    // cannot wait (the process ended from outside, a disk that fails part-way), the old bytes are
    // kept aside first.
    const PendingLock lock;
    // Windows programs cannot write the file while it is held here; others may (under Wine).
    if (const ErrorCode code = CheckUnchanged(targetFile.Get()); code != noError) {
        return code;
    }
    SaveBackup backup;
    if (const ErrorCode code = backup.Create(target, targetFile.Get()); code != noError) {
        return code;
    }
    if (const ErrorCode code = Overwrite(); code != noError) {
        if (backup.Restore(targetFile.Get()) == noError) {
            backup.Remove();
        } else {
            backupLeft = backup.Path();
        }
        return code;
    }
    backup.Remove();
    return targetFile.Close() ? noError : LastError();
}

// The new content over the old, to the disk.
ErrorCode WindowsReplacement::Overwrite() {
    LARGE_INTEGER oldSize{};
    if (!GetFileSizeEx(targetFile.Get(), &oldSize)) {
        return LastError();
    }
    const auto old = static_cast<std::uint64_t>(oldSize.QuadPart);
    const std::uint64_t size = content.Size();
    const auto writeAt = [this](std::string_view bytes, std::uint64_t offset) {
        return WriteAt(targetFile.Get(), bytes, offset);
    };
    // The room for the whole content first, so that a full disk leaves every old byte in place.
    // It is taken by writing what goes past the old end: Wine's SetEndOfFile would only leave a
    // hole that takes no room.
    if (size > old) {
        if (const ErrorCode code = content.ForEachPiece(old, size, writeAt); code != noError) {
            return code;
        }
    }
    if (const ErrorCode code = content.ForEachPiece(0, old, writeAt); code != noError) {
        return code;
    }
    if (const ErrorCode code = SetSize(targetFile.Get(), size); code != noError) {
        return code;
    }
    return FlushFileBuffers(targetFile.Get()) ? noError : LastError();
}

ErrorCode WindowsReplacement::ReplaceTarget() {
    const PendingLock lock;
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
        freshName = NewFileName(info);
        target = FinalPath(file.Get(), full);
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
    const PendingLock lock;
    Pending().file = INVALID_HANDLE_VALUE;
    return freshFile.Close() ? noError : LastError();
}

Text WindowsReplacement::BackupLeft() const {
    return backupLeft;
}

std::unique_ptr<FileReplacement::State> NewReplacementState() {
    return std::make_unique<WindowsReplacement>();
}

void RemoveNewFileOnInterrupt() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace platform
