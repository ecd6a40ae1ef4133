#include <aclapi.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "System_win.h"

namespace file {

const SystemCode noSuchFile = ERROR_FILE_NOT_FOUND;
const SystemCode accessDenied = ERROR_ACCESS_DENIED;
const SystemCode shortFile = ERROR_HANDLE_EOF;
const SystemCode inUse = ERROR_SHARING_VIOLATION;
// A link is opened as itself here (FILE_FLAG_OPEN_REPARSE_POINT), and is then no regular file:
// Windows gives this code only where links lead on without end.
const SystemCode linkInTheWay = ERROR_CANT_RESOLVE_FILENAME;

namespace {

// ReadFile and WriteFile count in DWORDs: longer spans go through in pieces.
constexpr std::size_t ioPiece = 1 << 30;

// The mark: an alternate data stream of the file, which goes with it whatever name it is reached
// by, and which its readers may read.
constexpr char16_t markStream[] = u":talvor-backup";

[[noreturn]] void Fail(const Path& concerned) {
    throw SystemError(GetLastError(), concerned);
}

// A path whose folders are missing names nothing, as a missing file does.
bool Missing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

std::uint64_t FromHighAndLow(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

Path FullPathOf(PathView path) {
    const Path given(path);
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameW(Wide(given), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (length == 0) {
            Fail(given);
        }
        if (length < buffer.size()) {
            return FromWide(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// `value` in `digits` hexadecimal digits. (Written out by hand: the C library's formatting would
// grow the programs by more than this layer's whole code.)
Path Hexadecimal(std::uint64_t value, int digits) {
    Path text(static_cast<std::size_t>(digits), u'0');
    for (int at = digits - 1; at >= 0; --at, value >>= 4) {
        text[static_cast<std::size_t>(at)] = u"0123456789abcdef"[value & 0xF];
    }
    return text;
}

Path NameFor(const char16_t* kind, const FileIdentity& identity) {
    return u"~talvor-" + Path(kind) + u"-" + Hexadecimal(identity.volume, 8) + u"-" +
           Hexadecimal(identity.file, 16) + u".tmp";
}

// Who runs the process: the user of its token, and whether the user is an administrator, whose
// new files Windows gives to the Administrators group while the process runs elevated.
struct Caller {
    std::vector<BYTE> user;
    std::vector<BYTE> administrators;
    bool administrator = false;
};

Caller ReadCaller() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        Fail({});
    }
    // A token is closed as a file is.
    const FileHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        Fail({});
    }
    const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    Caller caller;
    caller.user.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + GetLengthSid(user));
    caller.administrators.resize(SECURITY_MAX_SID_SIZE);
    DWORD sidSize = SECURITY_MAX_SID_SIZE;
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, caller.administrators.data(),
                            &sidSize) ||
        !CheckTokenMembership(nullptr, caller.administrators.data(), &member)) {
        Fail({});
    }
    caller.administrator = member != FALSE;
    return caller;
}

const Caller& TheCaller() {
    static const Caller caller = ReadCaller();
    return caller;
}

PSID Sid(const std::vector<BYTE>& bytes) {
    return const_cast<BYTE*>(bytes.data());
}

bool IsCaller(PSID sid) {
    const Caller& caller = TheCaller();
    return EqualSid(sid, Sid(caller.user)) ||
           (caller.administrator && EqualSid(sid, Sid(caller.administrators)));
}

bool IsSystem(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) != FALSE;
}

// The owner and access list of an open file or folder, as the system gave them.
class Security {
  public:
    Security(HANDLE object, const Path& concerned) {
        const DWORD code = GetSecurityInfo(object, SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           &owner, nullptr, &dacl, nullptr, &descriptor_);
        if (code != ERROR_SUCCESS) {
            throw SystemError(code, concerned);
        }
    }
    ~Security() { LocalFree(descriptor_); }
    Security(const Security&) = delete;
    Security& operator=(const Security&) = delete;

    PSID owner = nullptr;
    PACL dacl = nullptr;  // null: open to everyone

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Every user or group that `dacl` lets in is one that `allowed` accepts. Only entries that
// allow are compared, not what they allow: an entry that denies narrows, and one that only its
// children inherit does not apply.
bool LetsInOnly(const ACL* dacl, const std::function<bool(PSID)>& allowed) {
    if (dacl == nullptr) {
        return false;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* entry = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), index, reinterpret_cast<void**>(&entry))) {
            return false;
        }
        if (entry->AceType == ACCESS_DENIED_ACE_TYPE || (entry->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        // Object and conditional entries are not read: taken as letting in someone else.
        if (entry->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            return false;
        }
        if (!allowed(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart)) {
            return false;
        }
    }
    return true;
}

// Whether `dacl` has an entry that lets `sid` in.
bool LetsIn(const ACL* dacl, PSID sid) {
    return dacl == nullptr ||
           !LetsInOnly(dacl, [sid](PSID other) { return !EqualSid(sid, other); });
}

// What a new file or folder is made with: open to the caller alone, whatever its folder would
// hand down to it. (Wine 8 adds the system itself, which may open any file anyway.)
class CallerOnly {
  public:
    CallerOnly() {
        const PSID user = Sid(TheCaller().user);
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
        const auto acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            Fail({});
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
    }
    CallerOnly(const CallerOnly&) = delete;
    CallerOnly& operator=(const CallerOnly&) = delete;

    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

  private:
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

// Whether the volume of `file` keeps alternate data streams. Wine 8 says that its drives of the
// host's folders are NTFS without them, and there a name with a stream's colon would be made as a
// file of that name: a stream is never opened without this. GetVolumeInformationW, which Windows
// XP has, asks the volume's root; Wine then prints a warning about the host's device on the
// program's error output, which the handle's function does not.
bool KeepsStreams(HANDLE file, const Path& where) {
    using ByHandle = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    // GetProcAddress gives a generic pointer; the detour through void (*)() says that the cast to
    // the real signature is meant.
    const auto byHandle = reinterpret_cast<ByHandle>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetVolumeInformationByHandleW")));
    DWORD flags = 0;
    if (byHandle != nullptr) {
        if (!byHandle(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
            Fail(where);
        }
    } else {
        std::vector<wchar_t> root(where.size() + 2);
        if (!GetVolumePathNameW(Wide(where), root.data(), static_cast<DWORD>(root.size())) ||
            !GetVolumeInformationW(root.data(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
            Fail(where);
        }
    }
    return (flags & FILE_NAMED_STREAMS) != 0;
}

// shell32, loaded once from the system folder by its full path, its own imports looked for there
// too, so that a DLL planted beside the program never runs; kept for the process's life. The
// tool's import table names only DLLs that Windows loads before the program's first statement.
HMODULE Shell32() {
    static const HMODULE module = [] {
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return HMODULE{};
        }
        const Path path = FromWide(folder, length) + u"\\shell32.dll";
        return LoadLibraryExW(Wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }();
    return module;
}

// The user's local application data folder, from the user's token (the profile that Windows
// loaded for the user), not from the environment; with `create`, made where missing. Empty
// where there is none.
Path LocalApplicationData(bool create) {
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    const HMODULE shell32 = Shell32();
    if (shell32 == nullptr) {
        return {};
    }
    const auto getFolderPath = reinterpret_cast<GetFolderPath>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell32, "SHGetFolderPathW")));
    wchar_t folder[MAX_PATH];
    if (getFolderPath == nullptr ||
        getFolderPath(nullptr, CSIDL_LOCAL_APPDATA | (create ? CSIDL_FLAG_CREATE : 0), nullptr,
                      SHGFP_TYPE_CURRENT, folder) != S_OK) {
        return {};
    }
    return FromWide(folder, wcslen(folder));
}

}  // namespace

FileFacts SystemFile::Facts() const {
    const HANDLE file = handle_->file.Get();
    FileFacts facts;
    // A pipe or a device has no more facts to give (Wine refuses to tell them).
    if (GetFileType(file) != FILE_TYPE_DISK) {
        return facts;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        Fail(where_);
    }
    facts.identity.volume = info.dwVolumeSerialNumber;
    // NTFS's file index holds the sequence number of the file's record, which changes when a new
    // file reuses the record: no time of birth is needed to tell them apart, and none is taken.
    // (Wine 8 gives the time of the last change of the file's status as its creation time,
    // which every write moves.)
    facts.identity.file = FromHighAndLow(info.nFileIndexHigh, info.nFileIndexLow);
    facts.size = FromHighAndLow(info.nFileSizeHigh, info.nFileSizeLow);
    facts.modified =
        FromHighAndLow(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    facts.links = info.nNumberOfLinks;
    // A link opened as itself (its reparse point) holds no file's bytes.
    facts.regular =
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    facts.ownedByCaller = IsCaller(Security(file, where_).owner);
    return facts;
}

void SystemFile::ReadAt(std::uint64_t offset, std::span<char> bytes) const {
    for (std::size_t done = 0; done < bytes.size();) {
        OVERLAPPED at = At(offset + done);
        DWORD got = 0;
        const auto asked = static_cast<DWORD>(std::min(bytes.size() - done, ioPiece));
        if (!ReadFile(handle_->file.Get(), bytes.data() + done, asked, &got, &at)) {
            // A read from the end on is refused so.
            if (GetLastError() == ERROR_HANDLE_EOF) {
                throw SystemError(shortFile, where_);
            }
            Fail(where_);
        }
        if (got == 0) {
            throw SystemError(shortFile, where_);
        }
        done += got;
    }
}

void SystemFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        OVERLAPPED at = At(offset + done);
        DWORD put = 0;
        const auto asked = static_cast<DWORD>(std::min(bytes.size() - done, ioPiece));
        if (!WriteFile(handle_->file.Get(), bytes.data() + done, asked, &put, &at)) {
            Fail(where_);
        }
        // A write that makes no progress would never end.
        if (put == 0) {
            throw SystemError(ERROR_WRITE_FAULT, where_);
        }
        done += put;
    }
}

void SystemFile::SetSize(std::uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle_->file.Get(), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(handle_->file.Get())) {
        Fail(where_);
    }
}

// The new size first, in one step: a failure after it leaves the file in a size that a cut
// rewrite has. Windows' SetEndOfFile takes the room of the longer file on NTFS, but Wine 8's only
// makes a hole that takes none: zeros are written over it, which take the room on both.
void SystemFile::Reserve(std::uint64_t size) {
    const std::uint64_t old = Facts().size;
    if (size <= old) {
        return;
    }
    SetSize(size);
    const std::string zeros(static_cast<std::size_t>(std::min<std::uint64_t>(size - old, 1 << 20)),
                            '\0');
    for (std::uint64_t at = old; at < size;) {
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - at, zeros.size()));
        WriteAt(at, std::string_view(zeros.data(), length));
        at += length;
    }
}

void SystemFile::Sync() {
    if (!FlushFileBuffers(handle_->file.Get())) {
        Fail(where_);
    }
}

// The sharing mode that the file was opened with keeps others out already: a save opens it
// shared with nobody, a read shares it with readers only.
void SystemFile::Lock(bool) {}

bool SystemFile::KeptLike(const SystemFile& profile) const {
    const Security mine(handle_->file.Get(), where_);
    const Security theirs(profile.handle_->file.Get(), profile.where_);
    if (!IsCaller(mine.owner) && !EqualSid(mine.owner, theirs.owner)) {
        return false;
    }
    return LetsInOnly(mine.dacl, [&](PSID sid) {
        return EqualSid(sid, mine.owner) || IsCaller(sid) || LetsIn(theirs.dacl, sid);
    });
}

MarkState SystemFile::ReadMark(Path& backup) const {
    if (!KeepsStreams(handle_->file.Get(), where_)) {
        return MarkState::NotKept;
    }
    const FileHandle mark(CreateFileW(Wide(where_ + markStream), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!mark.Valid()) {
        if (Missing(GetLastError())) {
            return MarkState::Unmarked;
        }
        Fail(where_);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(mark.Get(), &size)) {
        Fail(where_);
    }
    // A path is at most 32 767 code units long; a longer mark is no path of ours.
    constexpr LONGLONG longest = 32767 * sizeof(char16_t);
    const auto length = static_cast<DWORD>(std::min(size.QuadPart, longest));
    backup.assign(length / sizeof(char16_t), u'\0');
    DWORD got = 0;
    if (!ReadFile(mark.Get(), backup.data(), length, &got, nullptr)) {
        Fail(where_);
    }
    backup.resize(got / sizeof(char16_t));
    return MarkState::Marked;
}

void SystemFile::SetMark(const Path& backup) {
    if (!KeepsStreams(handle_->file.Get(), where_)) {
        return;
    }
    const FileHandle mark(CreateFileW(Wide(where_ + markStream), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    const auto length = static_cast<DWORD>(backup.size() * sizeof(char16_t));
    // Forced to the disk with its own handle: the file's flush is its main stream's.
    if (!mark.Valid() || !WriteFile(mark.Get(), backup.data(), length, &put, nullptr) ||
        put != length || !FlushFileBuffers(mark.Get())) {
        Fail(where_);
    }
}

void SystemFile::RemoveMark() {
    if (!KeepsStreams(handle_->file.Get(), where_)) {
        return;
    }
    if (!DeleteFileW(Wide(where_ + markStream)) && !Missing(GetLastError())) {
        Fail(where_);
    }
}

Path SystemFolder::PathOf(PathView name) const {
    return (where_.ends_with(u'\\') ? where_ : where_ + u'\\') + Path(name);
}

// Windows has no folder that keeps its names for good.
bool SystemFolder::KeepsNamesForGood() const {
    return false;
}

// Open to its owner alone: Windows has no group that a file shares as POSIX systems do, so the
// profile's access list is not copied.
std::optional<SystemFile> SystemFolder::CreateExclusive(PathView name, const SystemFile&) {
    const Path path = PathOf(name);
    CallerOnly security;
    // CREATE_NEW takes no name that exists, a link's included, which it never follows.
    FileHandle file(CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, security.Attributes(),
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ||
            code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT) {
            return std::nullopt;
        }
        Fail(where_);
    }
    return SystemFile(std::make_unique<SystemFile::Handle>(std::move(file)), path);
}

void SystemFolder::Remove(PathView name) {
    const Path path = PathOf(name);
    if (!DeleteFileW(Wide(path)) && !Missing(GetLastError())) {
        Fail(path);
    }
}

// Windows has no call that forces one folder's names to the disk (only a whole volume's, for
// administrators): NTFS writes its journal of name changes itself.
void SystemFolder::Sync() {}

std::optional<SystemFile> OpenExisting(PathView path, Access access) {
    const Path full = FullPathOf(path);
    // A reader shares the file with other readers, and lets it be removed, so that a backup or a
    // leftover can go while it is still open, as on every system.
    const bool read = access == Access::Read;
    FileHandle file(CreateFileW(Wide(full), read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                read ? FILE_SHARE_READ | FILE_SHARE_DELETE : 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (!file.Valid()) {
        if (Missing(GetLastError())) {
            return std::nullopt;
        }
        Fail(full);
    }
    return SystemFile(std::make_unique<SystemFile::Handle>(std::move(file)), full);
}

SystemFolder OpenFolderOf(PathView path, Path& name) {
    const std::size_t slash = path.find_last_of(u"\\/");
    name = Path(slash == PathView::npos ? path : path.substr(slash + 1));
    // With its separator, so that a drive's root stays the root, not the drive's current folder.
    Path folder = FullPathOf(slash == PathView::npos ? u"." : path.substr(0, slash + 1));
    if (folder.size() > 1 && folder.ends_with(u'\\') && !folder.ends_with(u":\\")) {
        folder.pop_back();
    }
    // Shared with all but one that would remove or rename it, for as long as it is held.
    FileHandle handle(CreateFileW(Wide(folder), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.Valid()) {
        Fail(folder);
    }
    return SystemFolder(std::make_unique<SystemFolder::Handle>(std::move(handle)), folder);
}

// LOCAL APPDATA\talvor-backups: the local part of the user's profile, which stays on this
// machine and through a restart. Made open to the user alone; one that lets in anybody else but
// the system (and the Administrators, for an administrator) is not used.
std::optional<SystemFolder> OpenPrivateFolder(bool create) {
    const Path base = LocalApplicationData(create);
    if (base.empty()) {
        return std::nullopt;
    }
    const Path path = base + u"\\talvor-backups";
    if (create) {
        CallerOnly security;
        if (!CreateDirectoryW(Wide(path), security.Attributes()) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            Fail(path);
        }
    }
    FileHandle folder(CreateFileW(Wide(path), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!folder.Valid()) {
        if (Missing(GetLastError()) || GetLastError() == ERROR_ACCESS_DENIED) {
            return std::nullopt;
        }
        Fail(path);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder.Get(), &info)) {
        Fail(path);
    }
    const Security security(folder.Get(), path);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !IsCaller(security.owner) ||
        !LetsInOnly(security.dacl, [](PSID sid) { return IsCaller(sid) || IsSystem(sid); })) {
        return std::nullopt;
    }
    return SystemFolder(std::make_unique<SystemFolder::Handle>(std::move(folder)), path);
}

Path BackupName(const FileIdentity& identity) {
    return NameFor(u"backup", identity);
}

Path NewFileName(const FileIdentity& identity) {
    return NameFor(u"new", identity);
}

namespace {

// Never destroyed: the console handler may still take it while the process ends.
CRITICAL_SECTION& EndingLock() {
    static CRITICAL_SECTION* const lock = [] {
        auto* section = new CRITICAL_SECTION;
        InitializeCriticalSection(section);
        return section;
    }();
    return *lock;
}

}  // namespace

struct EndingHeld::Saved {};

EndingHeld::EndingHeld() {
    EnterCriticalSection(&EndingLock());
}

EndingHeld::~EndingHeld() {
    LeaveCriticalSection(&EndingLock());
}

void HoldEndingForGood() {
    EnterCriticalSection(&EndingLock());
}

}  // namespace file
