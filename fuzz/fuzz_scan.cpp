// The scan over arbitrary bytes, then the same scan resumed. The first input
// byte chooses the scan's settings; the file is the rest.
#include <vector>

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

// The table walks the stream block to block: each entry starts where the one
// before it ends (its real size when broken), inside the stream, and the last
// one ends inside it too. The stream is the file's bytes, or a video CD
// rip's sectors' payloads: its size is the view's, not the file's.
void checkTable(const BlockTable& table, uint64_t fileSize) {
    for (size_t i = 0; i < table.size(); ++i) {
        const BlockRecord& e = table[i];
        FUZZ_CHECK(e.offset < fileSize);
        if (i == 0) continue;
        const BlockRecord& before = table[i - 1];
        FUZZ_CHECK(before.offset < e.offset);
        const int32_t size = before.broken == kBrokenListed ? before.realSize : before.declaredSize;
        FUZZ_CHECK(uint64_t{before.offset} + static_cast<uint32_t>(size) == e.offset);
    }
    // The last block never reaches past the end: one cut short is broken and
    // holds exactly what the file has.
    if (table.empty()) return;
    const BlockRecord& last = table[table.size() - 1];
    if (last.isBroken()) {
        FUZZ_CHECK(uint64_t{last.offset} + static_cast<uint32_t>(last.realSize) == fileSize);
    } else {
        FUZZ_CHECK(uint64_t{last.offset} + static_cast<uint32_t>(last.declaredSize) <= fileSize);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t settings = data[0];
    MemFile file(data + 1, size - 1);

    AppState state;
    ErrorGrid grid;
    // The low-priority scan rests after each read window: only a very short
    // file, now and then, takes it. A sink asked for progress at every step
    // makes the scan step byte by byte as well.
    state.highPriority = !((settings & 0xCF) == 0 && size < 24);
    GridSink quiet(grid);
    EverySink every(grid);
    JobSink& sink = (settings & 0x20) ? static_cast<JobSink&>(every) : quiet;
    // A resumed scan over an empty table starts afresh.
    state.resumeScan = (settings & 0x10) ? 'y' : '0';
    if (state.view.openStream(file.path()) != OpenStatus::Opened) abort();
    FUZZ_CHECK(!scanStream(state, sink));
    const uint64_t streamSize = state.view.streamSize();
    state.view.closeFile();
    checkTable(state.table, streamSize);
    const std::vector<BlockRecord> first = state.table.entries();

    // Resuming a scan that reached the end of the stream finds nothing more.
    state.highPriority = true;
    if (state.view.openStream(file.path()) != OpenStatus::Opened) abort();
    state.resumeScan = 'y';
    FUZZ_CHECK(!scanStream(state, sink));
    state.view.closeFile();
    checkTable(state.table, streamSize);
    FUZZ_CHECK(state.table.entries() == first);
    return 0;
}
