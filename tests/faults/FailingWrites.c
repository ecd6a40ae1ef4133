// Loaded with LD_PRELOAD by tests/faults/in_place_faults_test.sh: a disk that fails part-way
// through a write, which nothing real on a test machine gives on demand. Environment:
//   FAIL_PWRITE_AFTER=N      pwrite calls after the first N fail with EIO
//   FAIL_FSYNC_AFTER=N       fsync calls after the first N fail with EIO
//   FAIL_COPY_AFTER=N        copy_file_range calls after the first N fail with EIO
//   FAIL_FILE=NAME           with the two below: only writes to files of that name fail (a Wine
//                            program's, whose own calls go through Wine's)
//   FAIL_FILE_WRITES_AFTER=N write and pwrite calls to that file after the first N fail with EIO
//   FAIL_FILE_WRITES_COUNT=K so many of them fail, the later ones go through (all, when unset)
//   KILL_AT_RENAME=1         the process gets SIGKILL as it renames a file: a kill -9 at the one
//                            moment that a random kill almost never hits, after the new file got
//                            its name and before it took the old one's place
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

// dlsym gives an object pointer; POSIX lets it be read as the function pointer it is.

static int Fails(const char* variable, long* calls) {
    const char* limit = getenv(variable);
    return limit != NULL && ++*calls > atol(limit);
}

// Whether this write to `fd` is one that FAIL_FILE names to fail.
static int FileWriteFails(int fd) {
    static long calls;
    const char* name = getenv("FAIL_FILE");
    if (name == NULL) {
        return 0;
    }
    char link[64];
    char path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0) {
        return 0;
    }
    path[length] = '\0';
    const char* base = strrchr(path, '/');
    if (base == NULL || strcmp(base + 1, name) != 0) {
        return 0;
    }
    const char* after = getenv("FAIL_FILE_WRITES_AFTER");
    const char* count = getenv("FAIL_FILE_WRITES_COUNT");
    const long call = ++calls;
    return after != NULL && call > atol(after) &&
           (count == NULL || call <= atol(after) + atol(count));
}

ssize_t write(int fd, const void* buffer, size_t size) {
    static ssize_t (*real)(int, const void*, size_t);
    if (FileWriteFails(fd)) {
        errno = EIO;
        return -1;
    }
    if (real == NULL) {
        *(void**)&real = dlsym(RTLD_NEXT, "write");
    }
    return real(fd, buffer, size);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (FileWriteFails(fd)) {
        errno = EIO;
        return -1;
    }
    if (real == NULL) {
        *(void**)&real = dlsym(RTLD_NEXT, "pwrite64");
    }
    return real(fd, buffer, size, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    static long calls;
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (Fails("FAIL_PWRITE_AFTER", &calls) || FileWriteFails(fd)) {
        errno = EIO;
        return -1;
    }
    if (real == NULL) {
        *(void**)&real = dlsym(RTLD_NEXT, "pwrite");
    }
    return real(fd, buffer, size, offset);
}

int fsync(int fd) {
    static long calls;
    static int (*real)(int);
    if (Fails("FAIL_FSYNC_AFTER", &calls)) {
        errno = EIO;
        return -1;
    }
    if (real == NULL) {
        *(void**)&real = dlsym(RTLD_NEXT, "fsync");
    }
    return real(fd);
}

ssize_t copy_file_range(int in, off_t* inOffset, int out, off_t* outOffset, size_t size,
                        unsigned flags) {
    static long calls;
    static ssize_t (*real)(int, off_t*, int, off_t*, size_t, unsigned);
    if (Fails("FAIL_COPY_AFTER", &calls)) {
        errno = EIO;
        return -1;
    }
    if (real == NULL) {
        *(void**)&real = dlsym(RTLD_NEXT, "copy_file_range");
    }
    return real(in, inOffset, out, outOffset, size, flags);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
    static int (*real)(int, const char*, int, const char*);
    if (getenv("KILL_AT_RENAME") != NULL) {
        raise(SIGKILL);
    }
    if (real == NULL) {
        *(void**)&real = dlsym(RTLD_NEXT, "renameat");
    }
    return real(fromFolder, from, toFolder, to);
}
