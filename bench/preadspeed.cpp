// preadspeed FILE [--chunk BYTES] [--shift K]: reads the whole file with
// pread, chunk after chunk (2,048,000 bytes by default, the stream view's
// window), into one buffer that starts K bytes (0 by default) past a 4096
// boundary, and prints the bytes and the rate. Timed beside the scan by
// bench/pairtime, it gives the ceiling the scan's reading leaves it: what the
// kernel's copy from the page cache costs alone.
//
// The shift shows the copy's sensitivity to alignment: the kernel copies with
// "rep movsb", which on some processors slows to a fraction when the
// destination's address mod 64 exceeds the file offset's mod 64. With
// chunks that are a multiple of 64 every offset is 0 mod 64, so any shift
// that is not a multiple of 64 is that case.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::string path;
    size_t chunk = 2'048'000, shift = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--chunk") == 0 && hasValue) {
            chunk = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--shift") == 0 && hasValue) {
            shift = std::strtoull(argv[++i], nullptr, 10);
        } else if (path.empty() && argv[i][0] != '-') {
            path = argv[i];
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty() || chunk == 0 || shift >= 4096) {
        std::fprintf(stderr, "usage: preadspeed FILE [--chunk BYTES] [--shift K]  (K < 4096)\n");
        return 2;
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    void* memory = nullptr;
    if (::posix_memalign(&memory, 4096, chunk + 4096) != 0) return 1;
    char* buffer = static_cast<char*>(memory) + shift;
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    unsigned long long total = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, chunk, static_cast<off_t>(total));
        if (got < 0) {
            std::perror(path.c_str());
            return 1;
        }
        if (got == 0) break;
        total += static_cast<unsigned long long>(got);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds =
        double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) * 1e-9;
    std::printf("bytes=%llu seconds=%.6f mbps=%.0f\n", total, seconds,
                seconds > 0 ? double(total) / seconds / 1e6 : 0.0);
    std::free(memory);
    ::close(fd);
    return 0;
}
