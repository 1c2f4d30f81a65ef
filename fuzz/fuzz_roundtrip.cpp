// The index file's round trip. A table made from arbitrary bytes (a whole
// scan, a scan stopped partway, or a whole scan whose broken blocks the size
// fix accepted) is saved and loaded back unchanged, and a stopped scan
// resumed from its loaded index ends with the table of a whole scan. An
// index saved over its input, by any other path to it, is refused and the
// input stays whole. An index loaded beside an input that has changed since
// either fits that input block by block or leaves the state as it was.
//
// Byte 0 chooses how the table is made, the path to the input that the
// refused save takes and how the input changes; bytes 1 and 2 give a number
// (the steps before the stop, the position of the change); the stream is the
// rest.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "repair/index_file.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

constexpr size_t kHead = 3;

enum class Made { Whole, Stopped, Accepted, StoppedAtOnce };

// Asks the scan to stop at its `steps`-th step. The asks for progress until a
// few steps before the stop are declined in bulk, so that the scan takes its
// quiet steps in one go, as under the window (and a run costs no more than
// a whole scan); the last ones are asked one by one, so that the stop also
// lands inside the scan's step-by-step loop.
class StoppingSink : public GridSink {
  public:
    StoppingSink(AppState& state, ErrorGrid& grid, uint32_t steps)
        : GridSink(grid), state_(state), left_(steps) {}

  protected:
    bool refreshProgress() override {
        // The asks since the last call, this one included.
        left_ -= std::min<uint32_t>(left_, static_cast<uint32_t>(taken_));
        if (left_ == 0) {
            state_.job.stopRequested = true;
            taken_ = countdown_ = 1 << 30;
        } else {
            taken_ = countdown_ = static_cast<int32_t>(left_ > kOneByOne ? left_ - kOneByOne : 1);
        }
        return false;
    }

  private:
    static constexpr uint32_t kOneByOne = 32;
    AppState& state_;
    uint32_t left_;
    int32_t taken_ = 1;  // the first ask calls
};

// A scan stopped after `steps` steps, as the window leaves it: the block
// whose search the stop cut short is dropped. Whether the stop came before
// the end.
bool stoppedScan(AppState& state, ErrorGrid& grid, const std::string& path, uint32_t steps) {
    if (state.view.openStream(path) != OpenStatus::Opened) abort();
    StoppingSink sink(state, grid, steps);
    state.resumeScan = '0';
    FUZZ_CHECK(!scanStream(state, sink));
    state.view.closeFile();
    const bool cut = state.job.stopRequested;
    if (cut) dropUnfinishedBlock(state.table, grid);
    state.job.stopRequested = false;
    return cut;
}

bool sameCodes(const StreamCodes& a, const StreamCodes& b) {
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHead) return 0;
    const uint8_t settings = data[0];
    const uint32_t number = uint32_t{data[1]} << 8 | data[2];
    const std::vector<uint8_t> stream(data + kHead, data + size);
    MemFile input(stream);
    const Made made = static_cast<Made>(settings & 3);

    AppState whole;
    ErrorGrid wholeGrid;
    if (!scanFile(whole, wholeGrid, input.path())) abort();
    // The table saved: the whole scan's, its broken blocks accepted or not,
    // or that of a scan stopped partway.
    const bool stopped = made == Made::Stopped || made == Made::StoppedAtOnce;
    if (made == Made::Accepted) {
        QuietRepairProgress progress;
        applyStrategy(whole, wholeGrid, Strategy::AcceptRealSizes, RepairOptions{}, input.path(),
                      progress);
    }
    AppState partial;
    ErrorGrid partialGrid;
    // A scan that the stop cut short saves an index that says so.
    bool cut = false;
    if (stopped) {
        cut =
            stoppedScan(partial, partialGrid, input.path(), made == Made::Stopped ? 1 + number : 1);
    }
    const AppState& state = stopped ? partial : whole;

    MemFile index;
    FUZZ_CHECK(!saveIndexFile(state.table, index.path(), {input.path()}, 0, std::nullopt, cut));
    FUZZ_CHECK(index.size() == (state.table.size() + (cut ? 1 : 0)) * kBlockRecordSize);

    // The index saved over its input, named by another path than the one
    // the input was named by, or the other way round: refused.
    const int second = ::open(input.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (second == -1) abort();
    const std::string fd = std::to_string(input.fd());
    const std::string aliases[4] = {
        "/dev/fd/" + fd, "/proc/" + std::to_string(::getpid()) + "/fd/" + fd,
        "/proc/self/fd/" + std::to_string(second), "/proc/thread-self/fd/" + fd};
    const std::string& alias = aliases[(settings >> 2) & 3];
    FUZZ_CHECK(saveIndexFile(state.table, alias, {input.path()}).kind ==
               FailureKind::OutputIsInput);
    FUZZ_CHECK(saveIndexFile(state.table, input.path(), {alias}).kind ==
               FailureKind::OutputIsInput);
    ::close(second);
    FUZZ_CHECK(input.bytes() == stream);

    // Loaded back: the same records, and the codes in force at the table's
    // end (a stopped scan may have taken those of a header it then dropped).
    AppState loaded;
    const Failure load =
        loadIndexFile(index.path(), input.path(), loaded, IndexLoadOptions{.takeStopped = true});
    // Nothing scanned, stopped or not, makes no index a loader takes.
    if (state.table.empty()) {
        FUZZ_CHECK(load.kind == FailureKind::BadIndex);
    } else {
        FUZZ_CHECK(!load);
        FUZZ_CHECK(loaded.table.entries() == state.table.entries());
        if (!stopped) FUZZ_CHECK(sameCodes(loaded.codes, state.codes));
    }
    // A stopped scan resumed from its index records what a whole scan does,
    // and lists no block twice.
    if (!load && stopped) {
        ErrorGrid loadedGrid;
        loadedGrid.rebuildFromTable(loaded.table);
        GridSink sink(loadedGrid);
        if (loaded.view.openStream(input.path()) != OpenStatus::Opened) abort();
        loaded.resumeScan = 'y';
        FUZZ_CHECK(!scanStream(loaded, sink));
        loaded.view.closeFile();
        FUZZ_CHECK(loaded.table.entries() == whole.table.entries());
        FUZZ_CHECK(sameCodes(loaded.codes, whole.codes));
        FUZZ_CHECK(loadedGrid == wholeGrid);
    }

    // The input changed since the index was saved: a byte flipped, the file
    // cut short or lengthened.
    std::vector<uint8_t> changed = stream;
    const size_t where = stream.empty() ? 0 : number % stream.size();
    switch ((settings >> 4) & 3) {
        case 0:
            if (!changed.empty()) changed[where] ^= uint8_t(1u << (settings >> 6));
            break;
        case 1:
            changed.resize(where);
            break;
        case 2:
            changed.insert(changed.end(), data + kHead, data + std::min(size, kHead + 16));
            break;
        default:
            changed.insert(changed.begin() + static_cast<ptrdiff_t>(where), 0);
            break;
    }
    MemFile other(changed);
    AppState beside;
    const BlockRecord kept{0, 0x1BA, 12};
    beside.table.assign({kept});
    beside.codes = {0x1C5, 0x1E5};
    if (!loadIndexFile(index.path(), other.path(), beside)) {
        checkIndexFits(beside.table, changed);
    } else {
        FUZZ_CHECK(beside.table.entries() == std::vector<BlockRecord>{kept});
        FUZZ_CHECK(sameCodes(beside.codes, StreamCodes{0x1C5, 0x1E5}));
    }
    return 0;
}
