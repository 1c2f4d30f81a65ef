// An arbitrary .index file beside a small sound stream: loading it, listing
// it, saving by it and dumping its first entries must stay within bounds.
#include <vector>

#include "analysis/dump.h"
#include "analysis/scan_control.h"
#include "repair/index_file.h"
#include "repair/writer.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

void appendBlock(std::vector<uint8_t>& out, uint8_t id, std::vector<uint8_t> body) {
    const size_t length = body.size();
    out.insert(out.end(), {0x00, 0x00, 0x01, id, uint8_t(length >> 8), uint8_t(length)});
    out.insert(out.end(), body.begin(), body.end());
}

void appendPack(std::vector<uint8_t>& out) {
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91});
}

// Pack, system header listing streams C0 and E0, packets of both and
// padding, a second pack, the end code.
std::vector<uint8_t> soundStream() {
    std::vector<uint8_t> s;
    appendPack(s);
    appendBlock(s, 0xBB, {0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x20, 0xE0, 0xE0, 0x2E});
    std::vector<uint8_t> payload(120);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(0x11 + 7 * i);
    appendBlock(s, 0xE0, payload);
    appendBlock(s, 0xC0, std::vector<uint8_t>(payload.begin(), payload.begin() + 40));
    appendBlock(s, 0xBE, std::vector<uint8_t>(30, 0xFF));
    appendPack(s);
    appendBlock(s, 0xE0, payload);
    s.insert(s.end(), {0x00, 0x00, 0x01, 0xB9});
    return s;
}

constexpr uint64_t kMostOutput = uint64_t{4} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> stream = soundStream();
    MemFile input(stream);
    MemFile index(data, size);
    MemFile output;

    AppState state;
    FUZZ_CHECK(openAndCheck(state, input.path()).result == CheckResult::Ok);
    // Records that do not fit the stream are refused whole.
    const Failure load = loadIndexFile(index.path(), input.path(), state);
    if (size == 0 || size % kBlockRecordSize != 0) FUZZ_CHECK(load.kind == FailureKind::BadIndex);
    if (!load) {
        FUZZ_CHECK(state.table.size() == size / kBlockRecordSize);
        checkIndexFits(state.table, stream);
    }
    if (load) FUZZ_CHECK(state.table.empty());

    ErrorGrid grid;
    grid.rebuildFromTable(state.table);

    NullSink sink;
    for (bool fromRealSize : {true, false}) {
        state.headerFromRealSize = fromRealSize;
        (void)saveRepairedStream(state, {input.path(), output.path()}, sink);
        FUZZ_CHECK(output.size() <= kMostOutput);
    }

    BlockDump block;
    for (size_t n = 0; n < 4; ++n) {
        if (readBlockForDump(state, input.path(), n, block)) {
            FUZZ_CHECK(block.length <= stream.size() + 65'541);
            FUZZ_CHECK(block.head.size() + block.tail.size() <= kDumpWhole);
        }
    }
    return 0;
}
