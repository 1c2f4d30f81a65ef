// A preloaded library that makes reads of chosen files fail as a failing disk
// does: with MPGMEND_FAIL_READS set to part of a file's name, every read,
// pread and pread64 on a descriptor of such a file fails with EIO once
// MPGMEND_FAIL_READS_AFTER (default 0) of them have succeeded.
//
// It also changes files while a program runs, as another program would
// between two of its jobs: with MPGMEND_RUN_AT_OPEN_OF set to part of a
// file's name, the shell command MPGMEND_RUN_AT_OPEN runs right before the
// MPGMEND_RUN_AT_OPEN_COUNT-th open (from 1) of such a file.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<long> passed{0};

bool shouldFail(int fd) {
    const char* match = std::getenv("MPGMEND_FAIL_READS");
    if (match == nullptr || *match == '\0') return false;
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    if (std::strstr(target, match) == nullptr) return false;
    const char* after = std::getenv("MPGMEND_FAIL_READS_AFTER");
    const long allowed = after != nullptr ? std::atol(after) : 0;
    return passed.fetch_add(1) >= allowed;
}

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

std::atomic<long> opened{0};

void beforeOpen(const char* path) {
    const char* match = std::getenv("MPGMEND_RUN_AT_OPEN_OF");
    const char* command = std::getenv("MPGMEND_RUN_AT_OPEN");
    if (match == nullptr || command == nullptr || std::strstr(path, match) == nullptr) return;
    const char* count = std::getenv("MPGMEND_RUN_AT_OPEN_COUNT");
    if (opened.fetch_add(1) + 1 == (count != nullptr ? std::atol(count) : 1)) {
        // Once: the shell and the programs it starts inherit the preload.
        const std::string once = command;
        ::unsetenv("MPGMEND_RUN_AT_OPEN");
        if (std::system(once.c_str()) != 0) std::abort();
    }
}

using Open = int (*)(const char*, int, ...);

// The open itself, through `next`; the mode is there only when the flags
// say a file may be made.
int openThrough(Open next, const char* path, int flags, va_list args) {
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    beforeOpen(path);
    return next(path, flags, mode);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    static const auto next = real<Open>("open");
    va_list args;
    va_start(args, flags);
    const int fd = openThrough(next, path, flags, args);
    va_end(args);
    return fd;
}

// The same function under its large-file name (one and the same on 64-bit
// systems).
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

ssize_t read(int fd, void* buf, size_t count) {
    static const auto next = real<ssize_t (*)(int, void*, size_t)>("read");
    if (shouldFail(fd)) {
        errno = EIO;
        return -1;
    }
    return next(fd, buf, count);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    static const auto next = real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    if (shouldFail(fd)) {
        errno = EIO;
        return -1;
    }
    return next(fd, buf, count, offset);
}

ssize_t pread64(int fd, void* buf, size_t count, off64_t offset) {
    static const auto next = real<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
    if (shouldFail(fd)) {
        errno = EIO;
        return -1;
    }
    return next(fd, buf, count, offset);
}

}  // extern "C"
