// Loaded with LD_PRELOAD by tests/faults/crash_points_test.py: it stops a save at one chosen
// system call, the same one on every run, so that a test can walk every point of the save in turn
// instead of hoping that a random kill lands in its narrow windows. The calls that open, write,
// size, sync, rename, link and remove files, and set their owner, mode and attributes, go through
// here under every name that glibc exports for them (glibc's own inner calls do not).
// Environment:
//   CRASH_UNDER=FOLDER  only calls on paths inside FOLDER, or on open files there, are counted;
//                       all others (the outputs, /proc, /dev, the libraries) pass untouched
//   CRASH_ALSO=F1:F2    more folders whose calls are counted (the user's private backup folder)
//   CRASH_AT=N          the Nth counted call, from 1, across all the functions below in the order
//                       made, does CRASH_DO instead of the call:
//   CRASH_DO=kill       SIGKILL, as a kill -9 exactly there (the default)
//   CRASH_DO=eio|enospc fails with that error without making the call (posix_fallocate returns
//                       the error, as it does)
//   CRASH_DO=stop       SIGSTOP before the call, which is made once the process is continued:
//                       another program may act in that moment, as it would by chance
//   CRASH_LOG=FILE      one line appended for each counted call, as it returns:
//                       NUMBER <tab> FUNCTION <tab> PATH[ -> PATH] <tab> ino=INODE <tab> RESULT
//                       where PATH is the path made absolute, or the open file's path as
//                       /proc/self/fd tells it, INODE is the file that the call acts on (the one
//                       opened, written, synced, renamed, linked or unlinked; 0 when none), and
//                       RESULT "= VALUE", "= -1 ERRNO", "= -1 ERRNO injected" or "killed".
// The bookkeeping uses only calls that are safe in a signal handler (a save removes its new file
// from one), and a thread's own guard keeps it from counting the calls that it makes itself.
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

enum Action { actionKill, actionEio, actionEnospc, actionStop };

static struct {
    long at;  // 0: never
    enum Action action;
    int log;  // -1: no log
    char folders[8][PATH_MAX];
    size_t folderCount;
    int ready;
} settings = {.log = -1};

static long counted;
static __thread int busy __attribute__((tls_model("initial-exec")));

// One counted call while it is being made.
struct Call {
    long number;
    const char* function;
    char path[2][PATH_MAX];
    int paths;
    unsigned long long inode;
};

static void AddFolder(const char* start, size_t length) {
    while (length > 1 && start[length - 1] == '/') {
        --length;
    }
    if (length == 0 || length >= PATH_MAX ||
        settings.folderCount == sizeof settings.folders / sizeof settings.folders[0]) {
        return;
    }
    memcpy(settings.folders[settings.folderCount], start, length);
    settings.folders[settings.folderCount][length] = '\0';
    ++settings.folderCount;
}

static void AddFolders(const char* list) {
    if (list == NULL) {
        return;
    }
    for (const char* start = list;;) {
        const char* end = strchr(start, ':');
        AddFolder(start, end == NULL ? strlen(start) : (size_t)(end - start));
        if (end == NULL) {
            return;
        }
        start = end + 1;
    }
}

__attribute__((constructor)) static void Setup(void) {
    if (settings.ready) {
        return;
    }
    settings.ready = 1;
    const char* at = getenv("CRASH_AT");
    settings.at = at != NULL ? atol(at) : 0;
    const char* action = getenv("CRASH_DO");
    if (action != NULL && strcmp(action, "eio") == 0) {
        settings.action = actionEio;
    } else if (action != NULL && strcmp(action, "enospc") == 0) {
        settings.action = actionEnospc;
    } else if (action != NULL && strcmp(action, "stop") == 0) {
        settings.action = actionStop;
    } else {
        settings.action = actionKill;
    }
    AddFolders(getenv("CRASH_UNDER"));
    AddFolders(getenv("CRASH_ALSO"));
    const char* log = getenv("CRASH_LOG");
    if (log != NULL && log[0] != '\0') {
        const int fd = (int)syscall(SYS_openat, AT_FDCWD, log,
                                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        // Far from the numbers that the program's own files get, so that its logs read the same.
        settings.log = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 900);
        if (fd >= 0) {
            close(fd);
        }
    }
}

// The real functions: glibc's, the next after this library. All are found before the program
// starts, so that none is looked up in a signal handler.
// clang-format off
#define FUNCTIONS(X)                                                                             \
    X(openat) X(write) X(pwrite) X(pwrite64) X(fsync) X(fdatasync) X(ftruncate) X(ftruncate64)   \
    X(fchmod) X(fchown) X(fallocate) X(fallocate64) X(fsetxattr) X(fremovexattr)                 \
    X(posix_fallocate) X(posix_fallocate64) X(copy_file_range) X(rename) X(renameat)             \
    X(renameat2) X(link) X(linkat) X(unlink) X(unlinkat) X(setxattr) X(removexattr)
// clang-format on
#define SLOT(function) static void* real_##function;
FUNCTIONS(SLOT)

static void* Next(void** slot, const char* name) {
    if (*slot == NULL) {
        *slot = dlsym(RTLD_NEXT, name);
    }
    return *slot;
}

// The real FUNCTION as a function of TYPE.
#define REAL(type, function) ((type)(uintptr_t)Next(&real_##function, #function))

__attribute__((constructor)) static void FindFunctions(void) {
#define FIND(function) Next(&real_##function, #function);
    FUNCTIONS(FIND)
}

static void Copy(char* to, const char* from) {
    size_t length = strlen(from);
    if (length >= PATH_MAX) {
        length = PATH_MAX - 1;
    }
    memcpy(to, from, length);
    to[length] = '\0';
}

// The path of the open file `fd` (the working folder for AT_FDCWD); empty when unknown.
static void PathOfFd(int fd, char* path) {
    path[0] = '\0';
    if (fd == AT_FDCWD) {
        if (syscall(SYS_getcwd, path, PATH_MAX) < 0) {
            path[0] = '\0';
        }
        return;
    }
    char link[40] = "/proc/self/fd/";
    char digits[20];
    int count = 0;
    for (unsigned value = (unsigned)fd; count == 0 || value != 0; value /= 10) {
        digits[count++] = (char)('0' + value % 10);
    }
    size_t at = strlen(link);
    while (count > 0) {
        link[at++] = digits[--count];
    }
    link[at] = '\0';
    const ssize_t length = readlink(link, path, PATH_MAX - 1);
    path[length > 0 ? length : 0] = '\0';
}

// `name` as the call takes it, relative to the folder `fd`, made absolute.
static void PathAt(int fd, const char* name, char* path) {
    if (name == NULL) {
        path[0] = '\0';
        return;
    }
    if (name[0] == '/') {
        Copy(path, name);
        return;
    }
    PathOfFd(fd, path);
    size_t length = strlen(path);
    if (name[0] != '\0' && length + 1 + strlen(name) < PATH_MAX) {
        if (length == 0 || path[length - 1] != '/') {
            path[length++] = '/';
        }
        Copy(path + length, name);
    }
}

static int Inside(const char* path) {
    if (settings.folderCount == 0) {
        return 1;
    }
    for (size_t i = 0; i < settings.folderCount; ++i) {
        const size_t length = strlen(settings.folders[i]);
        if (strncmp(path, settings.folders[i], length) == 0 &&
            (path[length] == '/' || path[length] == '\0')) {
            return 1;
        }
    }
    return 0;
}

static unsigned long long InodeOfFd(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 ? (unsigned long long)info.st_ino : 0;
}

static unsigned long long InodeOfPath(const char* path, int follow) {
    struct stat info;
    return fstatat(AT_FDCWD, path, &info, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0
               ? (unsigned long long)info.st_ino
               : 0;
}

// Starts `call` with its paths set; whether it is one to count. One that is not, or one made while
// this thread is already inside the bookkeeping, goes straight to the real function.
static int Counted(struct Call* call, const char* function) {
    if (busy) {
        return 0;
    }
    Setup();
    int inside = 0;
    for (int i = 0; i < call->paths; ++i) {
        inside = inside || (call->path[i][0] != '\0' && Inside(call->path[i]));
    }
    if (!inside) {
        return 0;
    }
    call->function = function;
    call->number = __atomic_add_fetch(&counted, 1, __ATOMIC_SEQ_CST);
    return 1;
}

enum { lineSize = 3 * PATH_MAX };

// Appends `text`; a name's tab or line break would split the line into wrong fields.
static void Append(char* line, size_t* at, const char* text) {
    for (; *text != '\0' && *at < lineSize - 8; ++text) {
        line[(*at)++] = *text == '\t' || *text == '\n' ? '?' : *text;
    }
    line[*at] = '\0';
}

// Always room for the separators: the texts stop short of the end.
static void Separate(char* line, size_t* at, char separator) {
    if (*at < lineSize - 1) {
        line[(*at)++] = separator;
        line[*at] = '\0';
    }
}

static void AppendNumber(char* line, size_t* at, long long value) {
    char digits[24];
    int count = 0;
    unsigned long long magnitude =
        value < 0 ? 0ull - (unsigned long long)value : (unsigned long long)value;
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        digits[count++] = '-';
    }
    char text[24];
    for (int i = 0; i < count; ++i) {
        text[i] = digits[count - 1 - i];
    }
    text[count] = '\0';
    Append(line, at, text);
}

static void Log(const struct Call* call, const char* result, long long value, int error) {
    if (settings.log < 0) {
        return;
    }
    static __thread char line[lineSize] __attribute__((tls_model("initial-exec")));
    size_t at = 0;
    AppendNumber(line, &at, call->number);
    Separate(line, &at, '\t');
    Append(line, &at, call->function);
    Separate(line, &at, '\t');
    Append(line, &at, call->path[0]);
    if (call->paths > 1) {
        Append(line, &at, " -> ");
        Append(line, &at, call->path[1]);
    }
    Separate(line, &at, '\t');
    Append(line, &at, "ino=");
    AppendNumber(line, &at, (long long)call->inode);
    Separate(line, &at, '\t');
    if (result != NULL) {
        Append(line, &at, result);
    } else {
        Append(line, &at, "= ");
        AppendNumber(line, &at, value);
        if (value == -1) {
            const char* name = strerrorname_np(error);
            Append(line, &at, " ");
            if (name != NULL) {
                Append(line, &at, name);
            } else {
                AppendNumber(line, &at, error);
            }
        }
    }
    Separate(line, &at, '\n');
    syscall(SYS_write, settings.log, line, at);
}

// Whether this call is the one to fail: then errno holds the error to return. The one to kill
// never returns.
static int Injected(struct Call* call) {
    if (call->number != settings.at) {
        return 0;
    }
    busy = 1;
    if (settings.action == actionKill) {
        Log(call, "killed", 0, 0);
        syscall(SYS_kill, getpid(), SIGKILL);
    }
    if (settings.action == actionStop) {
        syscall(SYS_kill, getpid(), SIGSTOP);
        busy = 0;
        return 0;
    }
    const int error = settings.action == actionEio ? EIO : ENOSPC;
    Log(call, error == EIO ? "= -1 EIO injected" : "= -1 ENOSPC injected", 0, 0);
    busy = 0;
    errno = error;
    return 1;
}

// Logs the call's result; the inode of what an open opened is known only now.
static void Done(struct Call* call, long long value, int openedFd) {
    const int error = errno;
    busy = 1;
    if (openedFd >= 0) {
        call->inode = InodeOfFd(openedFd);
    }
    Log(call, NULL, value, error);
    busy = 0;
    errno = error;
}

static void OnFd(struct Call* call, int fd) {
    call->paths = 1;
    call->inode = 0;
    if (!busy) {
        busy = 1;
        PathOfFd(fd, call->path[0]);
        call->inode = InodeOfFd(fd);
        busy = 0;
    }
}

static void OnPath(struct Call* call, int fd, const char* name) {
    call->paths = 1;
    call->inode = 0;
    if (!busy) {
        busy = 1;
        PathAt(fd, name, call->path[0]);
        busy = 0;
    }
}

// A second path: the target of a rename or a link.
static void AndPath(struct Call* call, int fd, const char* name) {
    call->paths = 2;
    if (!busy) {
        busy = 1;
        PathAt(fd, name, call->path[1]);
        busy = 0;
    }
}

static void OfPath(struct Call* call, int follow) {
    if (!busy) {
        busy = 1;
        call->inode = InodeOfPath(call->path[0], follow);
        busy = 0;
    }
}

// The functions that open a file, under all their names.

static int NeedsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

typedef int (*OpenAtFunction)(int, const char*, int, ...);

static int OpenAt(const char* function, int fd, const char* path, int flags, mode_t mode) {
    struct Call call;
    OnPath(&call, fd, path);
    if (!Counted(&call, function)) {
        return REAL(OpenAtFunction, openat)(fd, path, flags, mode);
    }
    if (Injected(&call)) {
        return -1;
    }
    const int result = REAL(OpenAtFunction, openat)(fd, path, flags, mode);
    Done(&call, result, result);
    return result;
}

#define MODE_ARGUMENT(flags)                   \
    mode_t mode = 0;                           \
    if (NeedsMode(flags)) {                    \
        va_list arguments;                     \
        va_start(arguments, flags);            \
        mode = (mode_t)va_arg(arguments, int); \
        va_end(arguments);                     \
    }

int open(const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    return OpenAt("open", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    return OpenAt("open64", AT_FDCWD, path, flags, mode);
}

int openat(int fd, const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    return OpenAt("openat", fd, path, flags, mode);
}

int openat64(int fd, const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    return OpenAt("openat64", fd, path, flags, mode);
}

// What a build with _FORTIFY_SOURCE calls for an open without a mode.
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int fd, const char* path, int flags);
int __openat64_2(int fd, const char* path, int flags);

int __open_2(const char* path, int flags) {
    return OpenAt("open", AT_FDCWD, path, flags, 0);
}

int __open64_2(const char* path, int flags) {
    return OpenAt("open64", AT_FDCWD, path, flags, 0);
}

int __openat_2(int fd, const char* path, int flags) {
    return OpenAt("openat", fd, path, flags, 0);
}

int __openat64_2(int fd, const char* path, int flags) {
    return OpenAt("openat64", fd, path, flags, 0);
}

int creat(const char* path, mode_t mode) {
    return OpenAt("creat", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

int creat64(const char* path, mode_t mode) {
    return OpenAt("creat64", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

// The calls on an open file, and those on paths: each counts, may be the one stopped, and logs.

#define ON_FD(function, type, fd, ...)                          \
    struct Call call;                                           \
    OnFd(&call, fd);                                            \
    if (!Counted(&call, #function)) {                           \
        return REAL(type, function)(__VA_ARGS__);               \
    }                                                           \
    if (Injected(&call)) {                                      \
        return -1;                                              \
    }                                                           \
    const long long result = REAL(type, function)(__VA_ARGS__); \
    Done(&call, result, -1);                                    \
    return result

ssize_t write(int fd, const void* buffer, size_t size) {
    ON_FD(write, ssize_t(*)(int, const void*, size_t), fd, fd, buffer, size);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    ON_FD(pwrite, ssize_t(*)(int, const void*, size_t, off_t), fd, fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off64_t offset) {
    ON_FD(pwrite64, ssize_t(*)(int, const void*, size_t, off64_t), fd, fd, buffer, size, offset);
}

int fsync(int fd) {
    ON_FD(fsync, int (*)(int), fd, fd);
}

int fdatasync(int fd) {
    ON_FD(fdatasync, int (*)(int), fd, fd);
}

int ftruncate(int fd, off_t size) {
    ON_FD(ftruncate, int (*)(int, off_t), fd, fd, size);
}

int ftruncate64(int fd, off64_t size) {
    ON_FD(ftruncate64, int (*)(int, off64_t), fd, fd, size);
}

int fchmod(int fd, mode_t mode) {
    ON_FD(fchmod, int (*)(int, mode_t), fd, fd, mode);
}

int fchown(int fd, uid_t owner, gid_t group) {
    ON_FD(fchown, int (*)(int, uid_t, gid_t), fd, fd, owner, group);
}

int fallocate(int fd, int mode, off_t offset, off_t size) {
    ON_FD(fallocate, int (*)(int, int, off_t, off_t), fd, fd, mode, offset, size);
}

int fallocate64(int fd, int mode, off64_t offset, off64_t size) {
    ON_FD(fallocate64, int (*)(int, int, off64_t, off64_t), fd, fd, mode, offset, size);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    ON_FD(fsetxattr, int (*)(int, const char*, const void*, size_t, int), fd, fd, name, value, size,
          flags);
}

int fremovexattr(int fd, const char* name) {
    ON_FD(fremovexattr, int (*)(int, const char*), fd, fd, name);
}

// posix_fallocate returns its error instead of setting errno.
#define POSIX_FALLOCATE(function, type)                        \
    struct Call call;                                          \
    OnFd(&call, fd);                                           \
    if (!Counted(&call, #function)) {                          \
        return REAL(type, function)(fd, offset, size);         \
    }                                                          \
    if (Injected(&call)) {                                     \
        return errno;                                          \
    }                                                          \
    const int result = REAL(type, function)(fd, offset, size); \
    errno = result;                                            \
    Done(&call, result == 0 ? 0 : -1, -1);                     \
    return result

int posix_fallocate(int fd, off_t offset, off_t size) {
    POSIX_FALLOCATE(posix_fallocate, int (*)(int, off_t, off_t));
}

int posix_fallocate64(int fd, off64_t offset, off64_t size) {
    POSIX_FALLOCATE(posix_fallocate64, int (*)(int, off64_t, off64_t));
}

// Counted when either file is inside; the inode is the one written.
ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size,
                        unsigned int flags) {
    typedef ssize_t (*Function)(int, off64_t*, int, off64_t*, size_t, unsigned int);
    struct Call call;
    OnFd(&call, in);
    call.paths = 2;
    if (!busy) {
        busy = 1;
        PathOfFd(out, call.path[1]);
        call.inode = InodeOfFd(out);
        busy = 0;
    }
    if (!Counted(&call, "copy_file_range")) {
        return REAL(Function, copy_file_range)(in, inOffset, out, outOffset, size, flags);
    }
    if (Injected(&call)) {
        return -1;
    }
    const ssize_t result =
        REAL(Function, copy_file_range)(in, inOffset, out, outOffset, size, flags);
    Done(&call, result, -1);
    return result;
}

// The calls on paths; the inode is that of the first path, taken before the call changes it.
#define ON_PATHS(function, type, ...)                     \
    if (!Counted(&call, #function)) {                     \
        return REAL(type, function)(__VA_ARGS__);         \
    }                                                     \
    if (Injected(&call)) {                                \
        return -1;                                        \
    }                                                     \
    const int result = REAL(type, function)(__VA_ARGS__); \
    Done(&call, result, -1);                              \
    return result

// A call on `from`, and on `to` when given; FOLLOW: the inode is that of what a link names.
static void OnPaths(struct Call* call, int fromFolder, const char* from, int toFolder,
                    const char* to, int follow) {
    OnPath(call, fromFolder, from);
    OfPath(call, follow);
    if (to != NULL) {
        AndPath(call, toFolder, to);
    }
}

int rename(const char* from, const char* to) {
    struct Call call;
    OnPaths(&call, AT_FDCWD, from, AT_FDCWD, to, 0);
    ON_PATHS(rename, int (*)(const char*, const char*), from, to);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
    struct Call call;
    OnPaths(&call, fromFolder, from, toFolder, to, 0);
    ON_PATHS(renameat, int (*)(int, const char*, int, const char*), fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) {
    struct Call call;
    OnPaths(&call, fromFolder, from, toFolder, to, 0);
    ON_PATHS(renameat2, int (*)(int, const char*, int, const char*, unsigned int), fromFolder, from,
             toFolder, to, flags);
}

int link(const char* from, const char* to) {
    struct Call call;
    OnPaths(&call, AT_FDCWD, from, AT_FDCWD, to, 0);
    ON_PATHS(link, int (*)(const char*, const char*), from, to);
}

// A file without a name gets one through /proc/self/fd, outside the folders: the new name is
// what counts the call.
int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    struct Call call;
    if ((flags & AT_EMPTY_PATH) != 0 && from[0] == '\0') {
        OnFd(&call, fromFolder);
        AndPath(&call, toFolder, to);
    } else {
        OnPaths(&call, fromFolder, from, toFolder, to, (flags & AT_SYMLINK_FOLLOW) != 0);
    }
    ON_PATHS(linkat, int (*)(int, const char*, int, const char*, int), fromFolder, from, toFolder,
             to, flags);
}

int unlink(const char* path) {
    struct Call call;
    OnPaths(&call, AT_FDCWD, path, AT_FDCWD, NULL, 0);
    ON_PATHS(unlink, int (*)(const char*), path);
}

int unlinkat(int folder, const char* path, int flags) {
    struct Call call;
    OnPaths(&call, folder, path, AT_FDCWD, NULL, 0);
    ON_PATHS(unlinkat, int (*)(int, const char*, int), folder, path, flags);
}

int setxattr(const char* path, const char* name, const void* value, size_t size, int flags) {
    struct Call call;
    OnPaths(&call, AT_FDCWD, path, AT_FDCWD, NULL, 1);
    ON_PATHS(setxattr, int (*)(const char*, const char*, const void*, size_t, int), path, name,
             value, size, flags);
}

int removexattr(const char* path, const char* name) {
    struct Call call;
    OnPaths(&call, AT_FDCWD, path, AT_FDCWD, NULL, 1);
    ON_PATHS(removexattr, int (*)(const char*, const char*), path, name);
}
