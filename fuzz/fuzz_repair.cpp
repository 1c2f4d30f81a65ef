// Scan, repair and save arbitrary bytes. The last 4 input bytes choose up to
// four repair steps (strategy and options); the file is the rest.
#include <string>
#include <vector>

#include "analysis/dump.h"
#include "repair/writer.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

constexpr size_t kSteps = 4;

// Least run lengths as they might be typed, good and bad.
const char* const kMinRepeats[] = {"100", "1", "0", "-", "", "x7", "-5", "99999999999"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size <= kSteps) return 0;
    const uint8_t* steps = data + size - kSteps;
    MemFile input(data, size - kSteps);
    MemFile output;

    AppState state;
    ErrorGrid grid;
    if (!scanFile(state, grid, input.path())) abort();

    QuietRepairProgress progress;
    for (size_t s = 0; s < kSteps; ++s) {
        const uint8_t step = steps[s];
        RepairOptions options;
        options.zerosOnly = step & 0x04;
        options.positiveDelta = step & 0x08;
        options.minRepeat = parseMinRepeat(kMinRepeats[(step >> 4) & 7]).value_or(100);
        state.headerFromRealSize = !(step & 0x80);
        constexpr Strategy kStrategies[] = {Strategy::RemoveRunsEqualToDelta,
                                            Strategy::RemoveRunsAndRemeasure,
                                            Strategy::AcceptRealSizes, Strategy::Automatic};
        applyStrategy(state, grid, kStrategies[step & 3], options, input.path(), progress);
        const CutList& cuts = state.view.cuts();
        for (size_t i = 1; i < cuts.size(); ++i) FUZZ_CHECK(cuts[i - 1].end() < cuts[i].start);
    }

    uint64_t broken = 0;
    for (size_t i = 0; i < state.table.size(); ++i) broken += state.table[i].isBroken();
    NullSink sink;
    (void)saveRepairedStream(state, {input.path(), output.path()}, sink);
    // Each stream byte is copied once; a block may run one largest block past
    // the end of the file, and a broken block cut back to its declared size
    // is padded by no more than that (the automatic repair pads on to the
    // sector grid, up to one more largest block).
    FUZZ_CHECK(output.size() <= input.size() + 2 * kLargestBlock * (broken + 1) + 4);

    // The last block, the one most often cut short by the end of the file,
    // dumped after the repair (fuzz_dump checks the dump's bytes and lines).
    BlockDump block;
    if (readBlockForDump(state, input.path(), state.table.size() - 1, block)) {
        FUZZ_CHECK(block.length <= input.size() + kLargestBlock);
        FUZZ_CHECK(block.head.size() + block.tail.size() <= kDumpWhole);
    }
    return 0;
}
