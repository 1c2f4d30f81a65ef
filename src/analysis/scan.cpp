#include "analysis/scan.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "model/block_walk.h"
#include "model/sector_grid.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

// The quiet steps of a resynchronisation in one go over the window: steps
// whose position begins no valid start code and after which no progress
// report is due. Stops before `limit` steps or at the first position that
// begins a valid start code; the caller leaves at least five window bytes
// behind the limit, so that a code that begins before it is read whole.
// The bytes stepped over go to the longest run. Returns the number of steps
// taken.
uint32_t quietResync(const uint8_t* bytes, uint32_t limit, Position pos, const StreamCodes& codes,
                     LongestRun& run) {
    uint32_t at = 0;
    while ((at = nextStartCodePrefix(bytes, at, limit)) < limit &&
           !codes.isValidStartCode(loadBE32(bytes + at))) {
        ++at;
    }
    run.take(bytes, at, pos);
    return at;
}

// How long a low-priority scan rests after each read window: 5 ms, but never
// longer than the window's own work took, so that giving way to the machine's
// other work costs at most half the scan's speed. (A window read from the
// page cache takes about a millisecond; a pause per block, as there once was,
// made such a scan a thousand times slower.)
class WindowPause {
  public:
    using Clock = std::chrono::steady_clock;

    void after(Position windowStart) {
        if (windowStart == window_) return;
        const Clock::time_point now = Clock::now();
        if (window_ != kNone) {
            const Clock::duration worked = now - resumed_;
            std::this_thread::sleep_for(std::min<Clock::duration>(kPause, worked));
        }
        window_ = windowStart;
        resumed_ = Clock::now();
    }

  private:
    static constexpr Clock::duration kPause = std::chrono::milliseconds(5);
    static constexpr Position kNone = ~Position{0};
    Position window_ = kNone;
    Clock::time_point resumed_{};
};

// The grid of the sector a resumed scan goes on in: its pack header, moved
// by the broken blocks behind it.
void gridAtEnd(const BlockTable& table, SectorGrid& grid) {
    for (size_t i = table.size(); i-- > 0;) {
        if (table[i].code != kPackStartCode) continue;
        grid.packAt(table[i].offset);
        for (size_t k = i; k < table.size(); ++k) {
            if (table[k].isBroken()) grid.brokenBlock(table[k].delta());
        }
        return;
    }
}

// The walk of a scan: each block read through the block walker and entered
// into the table; where no block begins and no sector fill stands, the block
// before is broken, and its search for the next valid start code goes byte
// by byte, in quiet steps over the window while no progress report is due.
class StreamScan {
  public:
    StreamScan(AppState& state, JobSink& sink)
        : state_(state),
          sink_(sink),
          view_(state.view),
          table_(state.table),
          source_(state.view),
          walker_(source_, state.codes),
          size_(state.view.streamSize()) {}

    Failure run() {
        if (!begin()) return view_.failure();
        Failure failure;
        WindowPause pause;
        while (pos_ < size_) {
            if (!state_.highPriority.load(std::memory_order_relaxed)) {
                pause.after(view_.windowStart());
            }
            if (!(inResync_ ? searchStep() : blockStep())) {
                failure = view_.failure();
                break;
            }
            if (pos_ >= size_ || noBlockAtHead_) break;
            if (sink_.progressDue()) {
                sink_.notify({Notify::Progress,
                              static_cast<int32_t>(progressPercent(pos_, size_)),
                              pos_,
                              size_,
                              {}});
            }
            if (state_.job.stopRequested.load(std::memory_order_relaxed)) break;
        }
        // A search that reached the end of the file ends there: the block
        // holds the rest of the file.
        if (!failure && inResync_ && pos_ >= size_) {
            pos_ = size_;
            endSearch(false);
        }
        table_.trimToLast();
        // Bytes of a file that changed while they were read describe no file.
        if (!failure) failure = view_.verifyUnchanged();
        return failure;
    }

  private:
    // A fresh scan, or a resumed one that goes on behind the table's last
    // entry. False when a read fails.
    bool begin() {
        if (state_.resumeScan == 'y' && !table_.empty()) return resume();
        sink_.clearErrorList();
        table_.startFresh();
        // Every fresh scan starts from the initial codes, never from those a
        // previous file, check or join left.
        state_.codes = StreamCodes{state_.rules.load()};
        return walker_.learnGrid();
    }

    bool resume() {
        // The codes in force are those the scan that made the table left:
        // an open check empties the table and a join keeps its own codes.
        table_.resumeAfterLast();
        // Fill at the end was measured up to the end the file had; what
        // follows it now is examined afresh.
        while (table_.size() > 1 && table_.last().code == kFillCode && !table_.last().isBroken()) {
            table_.dropLast();
        }
        BlockRecord& last = table_.last();
        // A last entry that is broken had its search ended by the end of the
        // file, which may have grown since (a recording still being
        // written): its row is withdrawn and the block examined afresh, as a
        // fresh scan of the file as it is now would examine it.
        if (last.isBroken()) {
            sink_.notify({Notify::Withdrawn, static_cast<int32_t>(table_.lastIndex()), 0, 0, last});
            table_.clearErrorFields(table_.lastIndex());
        }
        pos_ = last.offset + static_cast<Position>(std::max(last.declaredSize, 0));
        if (!walker_.learnGrid()) return false;
        gridAtEnd(table_, walker_.grid());
        if (pos_ > size_) startSearch();
        return true;
    }

    // The block at the scan's position, or the fill there, or the start of
    // a search. False when a read fails.
    [[gnu::always_inline]] bool blockStep() {
        const std::optional<WalkedBlock> block = walker_.blockAt(pos_);
        if (!block) return false;
        if (block->kind != BlockKind::None) {
            table_.appendBlock({pos_, block->code, block->declared});
            pos_ += static_cast<Position>(block->declared);
            // Cut short by the end of the file: what its header declares
            // is not there, and the writer must not make it up.
            if (pos_ > size_) startSearch();
            return true;
        }
        if (table_.lastIndex() < 0) {
            noBlockAtHead_ = true;
            return true;
        }
        const bool behindEndCode = table_.last().code == kEndCode && !table_.last().isBroken();
        const std::optional<Position> fill =
            block->head[0] == 0 ? walker_.fillAt(pos_, behindEndCode) : Position{0};
        if (!fill) return false;
        if (*fill > 0) {
            appendFill(pos_, *fill);
            pos_ += *fill;
        } else {
            startSearch();
        }
        return true;
    }

    // One step of the search: the quiet steps over the window, then the
    // position reached, which ends the search at a valid start code or is
    // stepped over. False when a read fails.
    bool searchStep() {
        for (;;) {
            if (pos_ - searchStart_ >= kLargestExtent) continueSearch();
            const uint8_t* bytes = view_.view(pos_, 6);
            if (bytes == nullptr) return false;
            if (sink_.quietSteps() > 0) {
                pos_ += quietSteps(bytes);
                if (pos_ >= size_) return true;
                // A search as long as an entry can span goes on in a new one.
                if (pos_ - searchStart_ >= kLargestExtent) continue;
                bytes = view_.view(pos_, 6);
                if (bytes == nullptr) return false;
            }
            const uint32_t code = loadBE32(bytes);
            if (bytes[0] == 0 && state_.codes.isValidStartCode(code)) {
                endSearch(code == kPackStartCode || code == kEndCode);
                return blockStep();
            }
            run_.take(bytes, 1, pos_);
            ++pos_;
            return true;
        }
    }

    // The quiet steps from the scan's position, whose bytes are at `bytes`:
    // as many as the window holds, no progress report is due and the entry
    // can span. The number taken.
    uint32_t quietSteps(const uint8_t* bytes) {
        const Position inWindow = view_.windowStart() + view_.windowLength() - 5 - pos_;
        const Position limit =
            std::min<Position>({inWindow, size_ - pos_, Position(sink_.quietSteps()),
                                kLargestExtent - (pos_ - searchStart_)});
        const uint32_t steps =
            quietResync(bytes, static_cast<uint32_t>(limit), pos_, state_.codes, run_);
        sink_.skipQuietSteps(static_cast<int32_t>(steps));
        return steps;
    }

    // Entries of sector fill behind the last block.
    void appendFill(Position at, Position length) {
        for (Position done = 0; done < length;) {
            const Position piece = std::min(length - done, kLargestExtent);
            table_.appendBlock({at + done, kFillCode, static_cast<int32_t>(piece)});
            done += piece;
        }
    }

    // The last entry's declared size led to no start code (or past the end
    // of the file): it is broken. The search starts right behind its start
    // code and length field, so a block shorter than declared is found as
    // well as a longer one.
    void startSearch() {
        sink_.notify(
            {Notify::Broken, static_cast<int32_t>(table_.lastIndex()), 0, 0, table_.last()});
        inResync_ = true;
        BlockRecord& broken = table_.last();
        searchStart_ = broken.offset;
        pos_ = broken.offset + kLengthFieldEnd;
        broken.broken = kBrokenListed;
        run_.restart(pos_);
    }

    // The search ends at the scan's position: at a valid start code, or at
    // the end of the file, which holds no more of the block. Zero bytes in
    // front of a pack header or an end code there, or in front of the end,
    // may be the sector's fill: they are then no part of the block, nor of
    // its runs.
    void endSearch(bool mayEndFill) {
        BlockRecord& broken = table_.last();
        SectorGrid& grid = walker_.grid();
        Position fill = 0;
        if (mayEndFill || pos_ == size_) {
            const LongestRun::Run& last = run_.current();
            const Position zeros =
                last.byte == 0 && last.start + last.length == pos_ ? last.length : 0;
            const Position declaredEnd =
                broken.offset + static_cast<Position>(std::max(broken.declaredSize, 0));
            fill = fillBehindBrokenBlock(declaredEnd, pos_, zeros, grid);
            run_.dropFromCurrent(fill);
        }
        const LongestRun::Run longest = run_.longest();
        broken.realSize = static_cast<int32_t>(pos_ - fill - broken.offset);
        grid.brokenBlock(broken.delta());
        broken.repeatByte = longest.byte;
        broken.repeatLength = static_cast<uint32_t>(longest.length);
        broken.repeatStart = static_cast<uint32_t>(longest.start - broken.offset);
        sink_.notify({Notify::Resolved, static_cast<int32_t>(table_.lastIndex()), 0, 0, broken});
        inResync_ = false;
        if (fill > 0) appendFill(pos_ - fill, fill);
    }

    // A search that has run as far as a block's size can reach (2 GiB, a
    // region without a single start code) ends there, and the bytes behind
    // it go on as a broken entry of their own, with no header (kFillCode,
    // declared size 0): no byte of the file is left out of the table.
    void continueSearch() {
        endSearch(false);
        const int64_t index = table_.appendBlock({pos_, kFillCode, 0});
        BlockRecord& entry = table_[static_cast<size_t>(index)];
        sink_.notify({Notify::Broken, static_cast<int32_t>(index), 0, 0, entry});
        entry.broken = kBrokenListed;
        inResync_ = true;
        searchStart_ = pos_;
        run_.restart(pos_);
    }

    AppState& state_;
    JobSink& sink_;
    StreamView& view_;
    BlockTable& table_;
    ViewSource source_;
    BlockWalker<ViewSource> walker_;
    const Position size_;
    Position pos_ = 0;
    bool inResync_ = false;
    bool noBlockAtHead_ = false;  // the stream begins with no block
    Position searchStart_ = 0;    // where the entry being searched begins
    LongestRun run_;
};

}  // namespace

std::optional<uint32_t> learnSectorSize(StreamView& view) {
    ViewSource source(view);
    return learnSectorSize(source);
}

Failure walkSectorsOfView(AppState& state, JobSink& sink) {
    StreamView& view = state.view;
    state.sectorFaults.clear();
    const Position total = view.rawSize();
    bool stopped = false;
    return view.walkLayout(
        state.sectorFaults,
        [&](Position done) {
            if (sink.progressDue()) {
                sink.notify({Notify::Progress,
                             static_cast<int32_t>(progressPercent(done, total)),
                             done,
                             total,
                             {}});
            }
            return !state.job.stopRequested.load(std::memory_order_relaxed);
        },
        stopped);
}

Failure scanStream(AppState& state, JobSink& sink) {
    StreamView& view = state.view;
    if (!view.isOpen()) return {};
    // A video CD rip: its sectors are walked first, for the exact layout of
    // the stream in them and the list of the sectors that went wrong. A
    // resumed scan keeps both.
    if (view.layout() != nullptr && (state.resumeScan != 'y' || !view.hasExactLayout())) {
        if (Failure failed = walkSectorsOfView(state, sink)) return failed;
        if (state.job.stopRequested.load(std::memory_order_relaxed)) return {};
    }
    const uint8_t* head = view.view(0, 29);
    if (head == nullptr) return view.failure();
    if (loadBE32(head) != kPackStartCode) {
        sink.reportCheck(CheckResult::NoSignature);
        return {};
    }
    return StreamScan(state, sink).run();
}

void dropUnfinishedBlock(BlockTable& table, ErrorGrid& grid) {
    if (grid.dropUnfinishedRow()) table.dropLast();
}

Failure scanFileAfresh(AppState& state, const std::string& path, JobSink& sink) {
    switch (state.view.openStream(path)) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::Failed:
            return state.view.failure();
    }
    state.view.clearCuts();
    state.view.resetCache();
    state.sectorFaults.clear();
    state.resumeScan = '0';
    const Failure failure = scanStream(state, sink);
    state.view.closeFile();
    return failure;
}

}  // namespace mpg
