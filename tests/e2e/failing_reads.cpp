// A preloaded library that makes reads of chosen files fail as a failing disk
// does: with MPGMEND_FAIL_READS set to part of a file's name, every read,
// pread and pread64 on a descriptor of such a file fails with EIO once
// MPGMEND_FAIL_READS_AFTER (default 0) of them have succeeded.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

}  // namespace

extern "C" {

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
