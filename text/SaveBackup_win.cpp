#include "SaveBackup_win.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "SaveBackupHeader.h"

namespace platform {
namespace {

using Header = SaveBackupHeader;
constexpr std::uint64_t dataOffset = saveBackupDataOffset;
constexpr std::size_t copyPiece = 1 << 20;

// FILETIME counts 100 ns from 1601; the header counts nanoseconds from 1970.
std::uint64_t Nanoseconds(const FILETIME& time) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t from1601To1970 = 116444736000000000ull;
    return ticks > from1601To1970 ? (ticks - from1601To1970) * 100 : 0;
}

// `value` in `digits` hexadecimal digits.
Text Hexadecimal(unsigned long value, int digits) {
    Text text(static_cast<std::size_t>(digits), u'0');
    for (int at = digits - 1; at >= 0; --at, value >>= 4) {
        text[static_cast<std::size_t>(at)] = u"0123456789abcdef"[value & 0xF];
    }
    return text;
}

// A name of the file's folder that belongs to the file `info` alone. (Written out by hand: the
// C library's formatting would more than double the programs' code for it.)
Text NameFor(const char16_t* kind, const BY_HANDLE_FILE_INFORMATION& info) {
    return u"~talvor-" + Text(kind) + u"-" + Hexadecimal(info.dwVolumeSerialNumber, 8) + u"-" +
           Hexadecimal(info.nFileIndexHigh, 8) + Hexadecimal(info.nFileIndexLow, 8) + u".tmp";
}

Text BackupName(const BY_HANDLE_FILE_INFORMATION& info) {
    return NameFor(u"backup", info);
}

Text FolderOf(const Text& path) {
    return path.substr(0, path.find_last_of(u"\\/") + 1);
}

// A path as users write it: without the prefix that lifts the length limit.
Text ShownPath(const Text& path) {
    if (path.starts_with(u"\\\\?\\UNC\\")) {
        return u"\\" + path.substr(7);
    }
    return path.starts_with(u"\\\\?\\") ? path.substr(4) : path;
}

Text TemporaryFolder() {
    return GrowingWideText([](wchar_t* buffer, std::size_t size) {
        return GetTempPathW(static_cast<DWORD>(size), buffer);
    });
}

ErrorCode SizeOf(HANDLE file, std::uint64_t& size) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(file, &value)) {
        return LastError();
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return noError;
}

// Copies `size` bytes from `from` at `fromOffset` to `to` at `toOffset`.
ErrorCode Copy(HANDLE from, std::uint64_t fromOffset, HANDLE to, std::uint64_t toOffset,
               std::uint64_t size) {
    std::string buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, copyPiece)), '\0');
    for (std::uint64_t done = 0; done < size;) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - done, copyPiece));
        if (const ErrorCode code = ReadAt(from, buffer.data(), piece, fromOffset + done);
            code != noError) {
            return code;
        }
        if (const ErrorCode code =
                WriteAt(to, std::string_view(buffer.data(), piece), toOffset + done);
            code != noError) {
            return code;
        }
        done += piece;
    }
    return noError;
}

// Whether `file` holds exactly the `size` old bytes that `backup` keeps.
bool HoldsOldBytes(HANDLE file, HANDLE backup, std::uint64_t size) {
    std::uint64_t now = 0;
    if (SizeOf(file, now) != noError || now != size) {
        return false;
    }
    std::string mine(copyPiece, '\0');
    std::string kept(copyPiece, '\0');
    for (std::uint64_t at = 0; at < size;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, copyPiece));
        if (ReadAt(file, mine.data(), piece, at) != noError ||
            ReadAt(backup, kept.data(), piece, dataOffset + at) != noError ||
            std::memcmp(mine.data(), kept.data(), piece) != 0) {
            return false;
        }
        at += piece;
    }
    return true;
}

// Puts the old content kept in `backup` back into `target`, and forces it to the disk.
ErrorCode PutBack(HANDLE backup, std::uint64_t size, HANDLE target) {
    if (const ErrorCode code = Copy(backup, dataOffset, target, 0, size); code != noError) {
        return code;
    }
    if (const ErrorCode code = SetSize(target, size); code != noError) {
        return code;
    }
    return FlushFileBuffers(target) ? noError : LastError();
}

ErrorCode WriteHeader(HANDLE file, const Header& header) {
    const std::string_view bytes(reinterpret_cast<const char*>(&header), sizeof header);
    if (const ErrorCode code = WriteAt(file, bytes, 0); code != noError) {
        return code;
    }
    return FlushFileBuffers(file) ? noError : LastError();
}

// The backup is opened with delete sharing, so that it can go while it is still open.
FileHandle OpenBackup(const Text& path, DWORD access, DWORD disposition) {
    return FileHandle(CreateFileW(Wide(path), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

Text NewFileName(const BY_HANDLE_FILE_INFORMATION& target) {
    return NameFor(u"new", target);
}

ErrorCode SaveBackup::Create(const Text& targetPath, HANDLE target) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(target, &info)) {
        return LastError();
    }
    const Text name = BackupName(info);
    // Beside the file, unless its folder refuses a new file.
    path_ = FolderOf(targetPath) + name;
    file_ = OpenBackup(path_, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    if (!file_.Valid()) {
        path_ = TemporaryFolder() + name;
        file_ = OpenBackup(path_, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
        if (!file_.Valid()) {
            const ErrorCode code = LastError();
            path_.clear();
            return code;
        }
    }
    size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    Header header;
    header.size = size_;
    header.began = Nanoseconds(now);
    header.needed = 1;
    ErrorCode code = Copy(target, 0, file_.Get(), dataOffset, size_);
    if (code == noError) {
        code = FlushFileBuffers(file_.Get()) ? noError : LastError();
    }
    if (code == noError) {
        code = WriteHeader(file_.Get(), header);
    }
    if (code != noError) {
        DeleteFileW(Wide(path_));
        file_.Close();
        path_.clear();
    }
    return code;
}

ErrorCode SaveBackup::Restore(HANDLE target) const {
    return PutBack(file_.Get(), size_, target);
}

Text SaveBackup::Path() const {
    return ShownPath(path_);
}

void SaveBackup::Remove() {
    if (!DeleteFileW(Wide(path_))) {
        // A backup that stays must not undo the new content at the next read.
        Header header;
        header.size = size_;
        WriteHeader(file_.Get(), header);
    }
    file_.Close();
    path_.clear();
}

ErrorCode RecoverInterruptedSave(const Text& path, FileHandle& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.Get(), &info)) {
        return LastError();
    }
    const Text name = BackupName(info);
    for (const Text& folder : {FolderOf(path), TemporaryFolder()}) {
        const Text backupPath = folder + name;
        // A backup that is there but cannot be read leaves the file's state unknown: no read.
        const FileHandle backup = OpenBackup(backupPath, GENERIC_READ, OPEN_EXISTING);
        if (!backup.Valid()) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
                continue;
            }
            return LastError();
        }
        Header header;
        const bool complete =
            ReadAt(backup.Get(), reinterpret_cast<char*>(&header), sizeof header, 0) == noError &&
            header.Complete();
        if (complete && header.needed != 0 &&
            !HoldsOldBytes(file.Get(), backup.Get(), header.size)) {
            if (Nanoseconds(info.ftLastWriteTime) > header.began + LongestRewrite(header.size)) {
                // Changed since by another program: both stay for the user to compare.
                return interruptedSaveBackupLeft;
            }
            // The file alone, for writing, for as long as the old bytes go back.
            file.Close();
            const ErrorCode putBack = [&] {
                const FileHandle writable(CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0,
                                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                      nullptr));
                return writable.Valid() ? PutBack(backup.Get(), header.size, writable.Get())
                                        : LastError();
            }();
            file = FileHandle(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (putBack != noError) {
                return putBack;
            }
            if (!file.Valid()) {
                return LastError();
            }
        }
        DeleteFileW(Wide(backupPath));
    }
    // The comparison read the file: it is read again from its start.
    LARGE_INTEGER start{};
    return SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) ? noError : LastError();
}

}  // namespace platform
