// A preloaded library that makes reads of chosen files fail as a failing disk
// does: with MPGMEND_FAIL_READS set to part of a file's name, every read,
// pread, pread64 and copy_file_range on a descriptor of such a file fails
// with EIO once MPGMEND_FAIL_READS_AFTER (default 0) of them have succeeded.
// With MPGMEND_FAIL_READS_AT set to a file position instead, that position
// is a bad sector of 2,048 bytes: a read that reaches it stops short there,
// one that starts in it fails, and the bytes around it read as they are.
// MPGMEND_FAIL_READS_ARMED then makes the sector go bad only once that many
// bytes of the file have been read (by the scan, say, before the save), and
// MPGMEND_FAIL_READS_COUNT names a file that the count of bytes read is
// written to at the end, for a run that measures how many a scan reads.
//
// It also changes files while a program runs, as another program would
// between two of its jobs: with MPGMEND_RUN_AT_OPEN_OF set to part of a
// file's name, the shell command MPGMEND_RUN_AT_OPEN runs right before the
// MPGMEND_RUN_AT_OPEN_COUNT-th open (from 1) of such a file.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<long> passed{0};
std::atomic<long long> bytesRead{0};
constexpr off64_t kBadSector = 2048;

bool namedFile(int fd) {
    const char* match = std::getenv("MPGMEND_FAIL_READS");
    if (match == nullptr || *match == '\0') return false;
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    return std::strstr(target, match) != nullptr;
}

// How many of `count` bytes from file position `pos` may be read: all of
// them, fewer (up to the bad position), or none (-1: the read fails).
ssize_t readable(int fd, off64_t pos, size_t count) {
    if (!namedFile(fd)) return static_cast<ssize_t>(count);
    if (const char* at = std::getenv("MPGMEND_FAIL_READS_AT")) {
        const char* armed = std::getenv("MPGMEND_FAIL_READS_ARMED");
        const bool bad = armed == nullptr || bytesRead.load() >= std::atoll(armed);
        const off64_t from = std::atoll(at);
        const off64_t end = static_cast<off64_t>(pos + static_cast<off64_t>(count));
        ssize_t may = static_cast<ssize_t>(count);
        if (bad && pos >= from && pos < from + kBadSector) return count == 0 ? 0 : -1;
        if (bad && pos < from && end > from) may = static_cast<ssize_t>(from - pos);
        return may;
    }
    const char* after = std::getenv("MPGMEND_FAIL_READS_AFTER");
    const long allowed = after != nullptr ? std::atol(after) : 0;
    return passed.fetch_add(1) >= allowed ? -1 : static_cast<ssize_t>(count);
}

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

ssize_t failed() {
    errno = EIO;
    return -1;
}

// The bytes a call read from a named file, counted towards
// MPGMEND_FAIL_READS_ARMED.
ssize_t counted(int fd, ssize_t got) {
    if (got > 0 && namedFile(fd)) bytesRead += got;
    return got;
}

// At the program's end; not by a program that read none of the file (the
// shell's `timeout` around the program, which the preload reaches too).
[[gnu::destructor]] void writeCount() {
    const char* name = std::getenv("MPGMEND_FAIL_READS_COUNT");
    if (name == nullptr || bytesRead.load() == 0) return;
    if (std::FILE* f = std::fopen(name, "w")) {
        std::fprintf(f, "%lld\n", bytesRead.load());
        std::fclose(f);
    }
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
    const ssize_t may = readable(fd, ::lseek64(fd, 0, SEEK_CUR), count);
    return may < 0 ? failed() : counted(fd, next(fd, buf, static_cast<size_t>(may)));
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    static const auto next = real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    const ssize_t may = readable(fd, offset, count);
    return may < 0 ? failed() : counted(fd, next(fd, buf, static_cast<size_t>(may), offset));
}

ssize_t pread64(int fd, void* buf, size_t count, off64_t offset) {
    static const auto next = real<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
    const ssize_t may = readable(fd, offset, count);
    return may < 0 ? failed() : counted(fd, next(fd, buf, static_cast<size_t>(may), offset));
}

ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t count,
                        unsigned flags) {
    static const auto next =
        real<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
    const ssize_t may = readable(in, inAt != nullptr ? *inAt : ::lseek64(in, 0, SEEK_CUR), count);
    return may < 0 ? failed()
                   : counted(in, next(in, inAt, out, outAt, static_cast<size_t>(may), flags));
}

}  // extern "C"
