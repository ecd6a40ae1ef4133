#include "Platform.h"

#include "Platform_win.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "CutRewriteCode.h"
#include "Error.h"
#include "WideText_win.h"

namespace platform {
namespace {

// MultiByteToWideChar and WideCharToMultiByte count in ints on both sides: longer texts go through
// in pieces that neither side of which can exceed INT_MAX, cut between two characters. A byte
// gives at most one code unit, a code unit at most three bytes.
constexpr std::size_t bytePiece = 1 << 30;
constexpr std::size_t unitPiece = 1 << 28;
static_assert(unitPiece * 3 <= std::size_t{INT_MAX} && bytePiece <= std::size_t{INT_MAX});

// A piece that is not empty converts to at least one code unit or byte: a 0 from a conversion
// call is the platform's failure (memory, or input that it refuses), raised rather than the piece
// left out of the result.
int Converted(int count) {
    if (count <= 0) {
        throw EncodingError();
    }
    return count;
}

}  // namespace

Text FullPath(TextView path) {
    const Text input(path);
    const Text full = GrowingWideText([&](wchar_t* buffer, std::size_t size) {
        return GetFullPathNameW(Wide(input), static_cast<DWORD>(size), buffer, nullptr);
    });
    return full.empty() ? input : full;
}

Text SystemErrorText(ErrorCode code) {
    if (const TextView text = OwnErrorText(code); !text.empty()) {
        return Text(text);
    }
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        return {};
    }
    Text text(reinterpret_cast<const char16_t*>(message), length);
    LocalFree(message);
    return text;
}

struct InputFile::Handle {
    FileHandle file;
};

InputFile::InputFile() = default;
InputFile::~InputFile() = default;
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;

ErrorCode InputFile::Open(TextView path) {
    const Text full = FullPath(path);
    FileHandle file(CreateFileW(Wide(full), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return LastError();
    }
    // A device or a pipe gives no file's content; a folder is refused by CreateFileW already.
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        return ERROR_NOT_SUPPORTED;
    }
    // The bytes of a rewrite cut short are not read as the file's: the next save puts the old
    // ones back first. The check reads the file: it is read again from its start.
    if (const ErrorCode code = CheckNoCutRewrite(file.Get(), FinalPath(file.Get(), full), backup_);
        code != noError) {
        return code;
    }
    const LARGE_INTEGER start{};
    if (!SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN)) {
        return LastError();
    }
    handle_ = std::make_unique<Handle>(Handle{std::move(file)});
    return noError;
}

ErrorCode RecoverCutRewrite(TextView path, Text& backup) {
    // The real file's path, its links resolved; the file layer opens it again, shared with nobody.
    Text real = FullPath(path);
    if (const FileHandle file(CreateFileW(Wide(real), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        file.Valid()) {
        real = FinalPath(file.Get(), real);
    }
    return CutRewriteCode(backup, [&real] { file::RecoverCutRewrite(real); });
}

ErrorCode CheckNoCutRewrite(HANDLE file, const Text& path, Text& backup) {
    return CutRewriteCode(backup, [file, &path] {
        const file::SystemFile profile(std::make_unique<file::SystemFile::Handle>(Duplicate(file)),
                                       path);
        file::CheckNoCutRewrite(profile, path);
    });
}

FileHandle Duplicate(HANDLE file) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return FileHandle();
    }
    return FileHandle(copy);
}

// A path as users write it: without the prefix that lifts the length limit.
Text ShownPath(const file::Path& text) {
    if (text.starts_with(u"\\\\?\\UNC\\")) {
        return u"\\" + text.substr(7);
    }
    return text.starts_with(u"\\\\?\\") ? text.substr(4) : text;
}

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

ErrorCode InputFile::Stamp(FileStamp& stamp) const {
    return StampOf(handle_->file.Get(), stamp);
}

ErrorCode InputFile::Size(std::uint64_t& size) const {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(handle_->file.Get(), &value)) {
        return LastError();
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return noError;
}

ErrorCode InputFile::Read(char* buffer, std::size_t capacity, std::size_t& got) {
    DWORD read = 0;
    const DWORD asked = static_cast<DWORD>(capacity < ioPiece ? capacity : ioPiece);
    const BOOL ok = ReadFile(handle_->file.Get(), buffer, asked, &read, nullptr);
    got = read;
    return ok ? noError : LastError();
}

ErrorCode StampOf(HANDLE file, FileStamp& stamp) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return LastError();
    }
    const auto wide = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    stamp = {info.dwVolumeSerialNumber, wide(info.nFileIndexHigh, info.nFileIndexLow),
             wide(info.nFileSizeHigh, info.nFileSizeLow),
             wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)};
    return noError;
}

// Large pages on Windows need a privilege that users do not hold.
void PreferLargePages(char*, std::size_t) {}

bool SystemCodePageIsUtf8() {
    return GetACP() == CP_UTF8;
}

namespace {

// The length of the next piece of at most `bytePiece` bytes that does not cut a UTF-8 sequence.
// A sequence has at most three bytes after its first; more are invalid anyway.
std::size_t Utf8Piece(std::string_view bytes) {
    if (bytes.size() <= bytePiece) {
        return bytes.size();
    }
    std::size_t size = bytePiece;
    while (size > bytePiece - 3 && (static_cast<unsigned char>(bytes[size]) & 0xC0) == 0x80) {
        --size;
    }
    return size;
}

}  // namespace

bool ValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t size = Utf8Piece(bytes);
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(size),
                                nullptr, 0) == 0) {
            return false;
        }
        bytes.remove_prefix(size);
    }
    return true;
}

void DecodeUtf8(std::string_view bytes, Text& text) {
    while (!bytes.empty()) {
        const std::size_t size = Utf8Piece(bytes);
        const int units = Converted(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                        static_cast<int>(size), nullptr, 0));
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(units));
        Converted(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                      static_cast<int>(size),
                                      reinterpret_cast<wchar_t*>(text.data() + at), units));
        bytes.remove_prefix(size);
    }
}

namespace {

void Encode(UINT codePage, TextView text, std::string& bytes) {
    for (std::size_t start = 0; start < text.size();) {
        std::size_t size = text.size() - start < unitPiece ? text.size() - start : unitPiece;
        // Keep a surrogate pair in one piece.
        if (start + size < text.size() && text[start + size - 1] >= 0xD800 &&
            text[start + size - 1] <= 0xDBFF) {
            --size;
        }
        const auto piece = reinterpret_cast<const wchar_t*>(text.data() + start);
        const int count = Converted(WideCharToMultiByte(codePage, 0, piece, static_cast<int>(size),
                                                        nullptr, 0, nullptr, nullptr));
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(count));
        Converted(WideCharToMultiByte(codePage, 0, piece, static_cast<int>(size), bytes.data() + at,
                                      count, nullptr, nullptr));
        start += size;
    }
}

}  // namespace

void EncodeUtf8(TextView text, std::string& bytes) {
    Encode(CP_UTF8, text, bytes);
}

bool SystemCodePageRoundTrips() {
    CPINFO info{};
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1) {
        return false;
    }
    // A single-byte code page comes back byte for byte when each byte maps to a character that
    // maps back to it.
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        wchar_t unit = 0;
        char back = 0;
        if (MultiByteToWideChar(CP_ACP, 0, &byte, 1, &unit, 1) != 1 ||
            WideCharToMultiByte(CP_ACP, 0, &unit, 1, &back, 1, nullptr, nullptr) != 1 ||
            back != byte) {
            return false;
        }
    }
    return true;
}

namespace {

// The length of the next piece of about `bytePiece` bytes that does not end on a lead byte left
// alone.
std::size_t CodePagePiece(std::string_view bytes) {
    if (bytes.size() <= bytePiece) {
        return bytes.size();
    }
    std::size_t i = 0;
    while (i < bytePiece) {
        i += IsDBCSLeadByte(static_cast<BYTE>(bytes[i])) ? 2 : 1;
    }
    return i;
}

}  // namespace

void DecodeSystemCodePage(std::string_view bytes, Text& text) {
    while (!bytes.empty()) {
        const std::size_t size = CodePagePiece(bytes);
        const int units = Converted(
            MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(size), nullptr, 0));
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(units));
        Converted(MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(size),
                                      reinterpret_cast<wchar_t*>(text.data() + at), units));
        bytes.remove_prefix(size);
    }
}

void EncodeSystemCodePage(TextView text, std::string& bytes) {
    Encode(CP_ACP, text, bytes);
}

}  // namespace platform
