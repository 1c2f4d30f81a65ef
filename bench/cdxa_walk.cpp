// The sector walk of a video CD rip and the read of its stream through the
// sector layout, timed on a file given on the command line (warm it first:
// `cat FILE > /dev/null`). Prints the seconds and the rate of each.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "stream/cdxa.h"
#include "stream/stream_view.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    if (argc != 2) {
        std::fprintf(stderr, "usage: cdxa_walk FILE.dat\n");
        return 2;
    }
    mpg::StreamView view;
    if (view.openStream(argv[1]) != mpg::OpenStatus::Opened || view.layout() == nullptr) {
        std::fprintf(stderr, "%s: no CDXA file\n", argv[1]);
        return 1;
    }
    const double megabytes = double(view.rawSize()) / 1e6;
    auto start = Clock::now();
    mpg::SectorFaultList faults;
    bool stopped = false;
    if (view.walkLayout(faults, {}, stopped)) return 1;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("walk: %.3f s, %.0f MB/s, %zu faulty sectors, %zu extents\n", seconds,
                megabytes / seconds, faults.size(), view.layout()->extents().size());

    start = Clock::now();
    uint64_t sum = 0;
    const bool read =
        view.readPieces(0, view.streamSize(), [&](const uint8_t* b, uint32_t n, uint64_t) {
            sum += b[0] + b[n - 1];
            return true;
        });
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("stream read: %.3f s, %.0f MB/s (%s, %llu)\n", seconds,
                double(view.streamSize()) / 1e6 / seconds, read ? "whole" : "failed",
                static_cast<unsigned long long>(sum));
    return 0;
}
