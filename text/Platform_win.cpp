#include "Platform.h"

#include <windows.h>

#include <climits>
#include <vector>

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// Windows strings are the same UTF-16 code units.
const wchar_t* Wide(const Text& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

ErrorCode LastError() {
    return static_cast<ErrorCode>(GetLastError());
}

// A file handle closed when its owner goes.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        const bool closed = !Valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Conversions take int lengths; longer inputs go through in pieces cut where `cut` says.
constexpr std::size_t conversionPiece = 1 << 30;

}  // namespace

Text FullPath(TextView path) {
    const Text input(path);
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameW(Wide(input), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (length == 0) {
            return input;
        }
        if (length < buffer.size()) {
            return Text(reinterpret_cast<const char16_t*>(buffer.data()), length);
        }
        buffer.resize(length);
    }
}

Text SystemErrorText(ErrorCode code) {
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
    const HANDLE file = CreateFileW(Wide(Text(path)), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    handle_ = std::make_unique<Handle>(Handle{FileHandle(file)});
    return noError;
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
    const DWORD asked = static_cast<DWORD>(capacity < conversionPiece ? capacity : conversionPiece);
    const BOOL ok = ReadFile(handle_->file.Get(), buffer, asked, &read, nullptr);
    got = read;
    return ok ? noError : LastError();
}

struct FileReplacement::State {
    Text target;
    Text temporary;  // empty when writing in place
    FileHandle file;
    bool targetExists = false;
    DWORD targetAttributes = 0;
    bool committed = false;
};

FileReplacement::FileReplacement() : state_(std::make_unique<State>()) {}

FileReplacement::~FileReplacement() {
    if (!state_->committed && !state_->temporary.empty()) {
        state_->file.Close();
        DeleteFileW(Wide(state_->temporary));
    }
}

ErrorCode FileReplacement::Open(TextView path) {
    State& s = *state_;
    s.target = Text(path);
    // Opening the file as the save would open it tells whether it may be written at all: a
    // read-only file, one held open by another program or one without the right is refused.
    {
        FileHandle probe(CreateFileW(Wide(s.target), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (probe.Valid()) {
            s.targetExists = true;
            s.targetAttributes = GetFileAttributesW(Wide(s.target));
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            return LastError();
        }
    }

    const Text full = FullPath(path);
    const std::size_t slash = full.find_last_of(u"\\/");
    const Text folder = slash == Text::npos ? Text() : full.substr(0, slash + 1);
    const Text name = slash == Text::npos ? full : full.substr(slash + 1);
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const DWORD stamp = GetTickCount() ^ (GetCurrentProcessId() << 8) ^ (attempt << 24);
        Text suffix = u".00000000.tmp";
        for (int digit = 0; digit < 8; ++digit) {
            suffix[8 - digit] = u"0123456789ABCDEF"[(stamp >> (4 * digit)) & 0xF];
        }
        const Text candidate = folder + u"~" + name + suffix;
        const HANDLE file = CreateFileW(Wide(candidate), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            s.temporary = candidate;
            s.file = FileHandle(file);
            return noError;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    // No new file can be made in the folder: write in place.
    const HANDLE file = CreateFileW(Wide(s.target), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    s.file = FileHandle(file);
    return noError;
}

ErrorCode FileReplacement::Write(const char* data, std::size_t size, std::size_t& written) {
    DWORD done = 0;
    const DWORD asked = static_cast<DWORD>(size < conversionPiece ? size : conversionPiece);
    const BOOL ok = WriteFile(state_->file.Get(), data, asked, &done, nullptr);
    written = done;
    return ok ? noError : LastError();
}

ErrorCode FileReplacement::Flush() {
    if (!FlushFileBuffers(state_->file.Get())) {
        return LastError();
    }
    return state_->file.Close() ? noError : LastError();
}

ErrorCode FileReplacement::Commit() {
    State& s = *state_;
    if (!s.temporary.empty()) {
        // ReplaceFileW keeps the file's attributes, owner and security on the new content.
        const BOOL moved =
            s.targetExists ? ReplaceFileW(Wide(s.target), Wide(s.temporary), nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                           : MoveFileExW(Wide(s.temporary), Wide(s.target), MOVEFILE_WRITE_THROUGH);
        if (!moved) {
            return LastError();
        }
        // Wine's ReplaceFileW leaves the new file's own attributes (hidden, archive...); put the
        // profile's back, as Windows does. The content is in place already, so this is best effort.
        if (s.targetExists && s.targetAttributes != INVALID_FILE_ATTRIBUTES &&
            GetFileAttributesW(Wide(s.target)) != s.targetAttributes) {
            SetFileAttributesW(Wide(s.target), s.targetAttributes);
        }
    }
    s.committed = true;
    return noError;
}

// Large pages on Windows need a privilege that users do not hold.
void PreferLargePages(char*, std::size_t) {}

bool SystemCodePageIsUtf8() {
    return GetACP() == CP_UTF8;
}

namespace {

// The length of the next piece of at most `conversionPiece` bytes that does not cut a UTF-8
// sequence.
std::size_t Utf8Piece(std::string_view bytes) {
    if (bytes.size() <= conversionPiece) {
        return bytes.size();
    }
    std::size_t size = conversionPiece;
    while (size > 0 && (static_cast<unsigned char>(bytes[size]) & 0xC0) == 0x80) {
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
        const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                              static_cast<int>(size), nullptr, 0);
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(units));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(size),
                            reinterpret_cast<wchar_t*>(text.data() + at), units);
        bytes.remove_prefix(size);
    }
}

namespace {

void Encode(UINT codePage, TextView text, std::string& bytes) {
    for (std::size_t start = 0; start < text.size();) {
        std::size_t size =
            text.size() - start < conversionPiece ? text.size() - start : conversionPiece;
        // Keep a surrogate pair in one piece.
        if (start + size < text.size() && text[start + size - 1] >= 0xD800 &&
            text[start + size - 1] <= 0xDBFF) {
            --size;
        }
        const auto piece = reinterpret_cast<const wchar_t*>(text.data() + start);
        const int count = WideCharToMultiByte(codePage, 0, piece, static_cast<int>(size), nullptr,
                                              0, nullptr, nullptr);
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(count));
        WideCharToMultiByte(codePage, 0, piece, static_cast<int>(size), bytes.data() + at, count,
                            nullptr, nullptr);
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

// The length of the next piece of at most `conversionPiece` bytes that does not end on a lead
// byte left alone.
std::size_t CodePagePiece(std::string_view bytes) {
    if (bytes.size() <= conversionPiece) {
        return bytes.size();
    }
    std::size_t i = 0;
    while (i < conversionPiece) {
        i += IsDBCSLeadByte(static_cast<BYTE>(bytes[i])) ? 2 : 1;
    }
    return i;
}

}  // namespace

void DecodeSystemCodePage(std::string_view bytes, Text& text) {
    while (!bytes.empty()) {
        const std::size_t size = CodePagePiece(bytes);
        const int units =
            MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(size), nullptr, 0);
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(units));
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(size),
                            reinterpret_cast<wchar_t*>(text.data() + at), units);
        bytes.remove_prefix(size);
    }
}

void EncodeSystemCodePage(TextView text, std::string& bytes) {
    Encode(CP_ACP, text, bytes);
}

}  // namespace platform
