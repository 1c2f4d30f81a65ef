// error_list_memory [ROWS]: the heap the error list takes per row. Lists ROWS
// broken blocks (a million by default) as a scan reports them, each found
// broken and then resolved, and prints the bytes the heap grew by, per row,
// and the time the rows took to list:
//
//   rows=N bytes=B per_row=P seconds=S
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "analysis/error_list.h"

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (rows < 1) {
        std::fprintf(stderr, "usage: error_list_memory [ROWS]\n");
        return 2;
    }
    const size_t before = mallinfo2().uordblks;
    const auto start = std::chrono::steady_clock::now();
    mpg::ErrorGrid grid;
    mpg::BlockRecord record{0, 0x1E0, 2048};
    for (long i = 0; i < rows; ++i) {
        // Blocks of a few kilobytes, each a little longer than declared by
        // a run of a few hundred bytes.
        const int64_t index = 3 * i + 2;
        record.offset = static_cast<mpg::Position>(2100 * i);
        grid.onBroken(index, record);
        record.broken = mpg::kBrokenListed;
        record.realSize = record.declaredSize + 100 + static_cast<int32_t>(i % 400);
        record.repeatByte = static_cast<uint8_t>(i % 3 == 0 ? 0xFF : 0);
        record.repeatLength = static_cast<uint32_t>(record.realSize - record.declaredSize);
        record.repeatStart = static_cast<uint32_t>(20 + i % 1900);
        grid.onResolved(index, record);
        record = {0, 0x1E0, 2048};
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const size_t bytes = mallinfo2().uordblks - before;
    std::printf("rows=%d bytes=%zu per_row=%.1f seconds=%.3f\n", grid.rowCount() - 1, bytes,
                double(bytes) / double(rows), seconds);
    return 0;
}
