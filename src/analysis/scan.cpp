#include "analysis/scan.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

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

// The sector grid of the stream under the sound rules, learned from its
// head; none under the strict walk, which takes fill for damage. False when
// a read fails.
bool learnGrid(StreamView& view, StreamRules rules, SectorGrid& grid) {
    grid = SectorGrid{};
    if (rules != StreamRules::Sound) return true;
    const std::optional<uint32_t> size = learnSectorSize(view);
    if (size) grid = SectorGrid{*size};
    return size.has_value();
}

// The end of the run of zero bytes from `from` on, no further than `size`;
// read window by window, each from where the last one ended. Nothing when a
// read fails.
std::optional<Position> endOfZeros(StreamView& view, Position from, Position size) {
    Position at = from;
    while (at < size) {
        const Position windowEnd = view.windowStart() + view.windowLength();
        const Position inWindow =
            at >= view.windowStart() && at < windowEnd ? windowEnd - at : StreamView::kCacheSize;
        const uint32_t count = static_cast<uint32_t>(
            std::min<Position>({inWindow, size - at, StreamView::kCacheSize}));
        const uint8_t* bytes = view.view(at, count);
        if (bytes == nullptr) return std::nullopt;
        const uint32_t zeros = endOfRun(bytes, 0, count, 0);
        at += zeros;
        if (zeros < count) break;
    }
    return at;
}

// Sector fill from `pos` on, where the block before it ends (see
// fillLength); nothing when a read fails.
std::optional<Position> fillAt(StreamView& view, Position pos, Position size,
                               const SectorGrid& grid, bool behindEndCode) {
    if (grid.sectorSize() == 0) return 0;
    const std::optional<Position> zerosEnd = endOfZeros(view, pos, size);
    if (!zerosEnd) return std::nullopt;
    const uint8_t* after = nullptr;
    if (size - *zerosEnd >= 2) {
        after = view.view(*zerosEnd, 2);
        if (after == nullptr) return std::nullopt;
    }
    return fillLength(pos, *zerosEnd, size, after, grid, behindEndCode);
}

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

}  // namespace

std::optional<uint32_t> learnSectorSize(StreamView& view) {
    SectorSizeLearner learner;
    const Position head = std::min<Position>(view.streamSize(), SectorSizeLearner::kHeadBytes);
    if (!view.readPieces(0, head, [&](const uint8_t* bytes, uint32_t piece, Position done) {
            learner.take(bytes, piece, done);
            return true;
        })) {
        return std::nullopt;
    }
    return learner.sectorSize();
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
    BlockTable& table = state.table;
    if (!view.isOpen()) return {};
    // A video CD rip: its sectors are walked first, for the exact layout of
    // the stream in them and the list of the sectors that went wrong. A
    // resumed scan keeps both.
    if (view.layout() != nullptr && (state.resumeScan != 'y' || !view.hasExactLayout())) {
        if (Failure failed = walkSectorsOfView(state, sink)) return failed;
        if (state.job.stopRequested.load(std::memory_order_relaxed)) return {};
    }

    LongestRun run;
    const uint8_t* head = view.view(0, 29);
    if (head == nullptr) return view.failure();
    if (loadBE32(head) != kPackStartCode) {
        sink.reportCheck(CheckResult::NoSignature);
        return {};
    }

    const Position size = view.streamSize();
    Position pos = 0;
    bool inResync = false;
    Position searchStart = 0;  // where the entry being searched begins
    SectorGrid grid;
    // Entries of sector fill behind the last block.
    const auto appendFill = [&](Position at, Position length) {
        for (Position done = 0; done < length;) {
            const Position piece = std::min(length - done, kLargestExtent);
            table.appendBlock({at + done, kFillCode, static_cast<int32_t>(piece)});
            done += piece;
        }
    };
    // The last entry's declared size led to no start code (or past the end
    // of the file): it is broken. The search starts right behind its start
    // code and length field, so a block shorter than declared is found as
    // well as a longer one.
    const auto startSearch = [&] {
        sink.notify({Notify::Broken, static_cast<int32_t>(table.lastIndex()), 0, 0, table.last()});
        inResync = true;
        BlockRecord& broken = table.last();
        searchStart = broken.offset;
        pos = broken.offset + kLengthFieldEnd;
        broken.broken = kBrokenListed;
        run.restart(pos);
    };
    // The search ends at `pos`: at a valid start code, or at the end of the
    // file, which holds no more of the block. Zero bytes in front of a pack
    // header or an end code there, or in front of the end, may be the
    // sector's fill: they are then no part of the block, nor of its runs.
    const auto endSearch = [&](bool mayEndFill) {
        BlockRecord& broken = table.last();
        Position fill = 0;
        if (mayEndFill || pos == size) {
            const LongestRun::Run& last = run.current();
            const Position zeros =
                last.byte == 0 && last.start + last.length == pos ? last.length : 0;
            const Position declaredEnd =
                broken.offset + static_cast<Position>(std::max(broken.declaredSize, 0));
            fill = fillBehindBrokenBlock(declaredEnd, pos, zeros, grid);
            run.dropFromCurrent(fill);
        }
        const LongestRun::Run longest = run.longest();
        broken.realSize = static_cast<int32_t>(pos - fill - broken.offset);
        grid.brokenBlock(broken.delta());
        broken.repeatByte = longest.byte;
        broken.repeatLength = static_cast<uint32_t>(longest.length);
        broken.repeatStart = static_cast<uint32_t>(longest.start - broken.offset);
        sink.notify({Notify::Resolved, static_cast<int32_t>(table.lastIndex()), 0, 0, broken});
        inResync = false;
        if (fill > 0) appendFill(pos - fill, fill);
    };

    if (state.resumeScan == 'y' && !table.empty()) {
        // The codes in force are those the scan that made the table left:
        // an open check empties the table and a join keeps its own codes.
        table.resumeAfterLast();
        // Fill at the end was measured up to the end the file had; what
        // follows it now is examined afresh.
        while (table.size() > 1 && table.last().code == kFillCode && !table.last().isBroken()) {
            table.dropLast();
        }
        BlockRecord& last = table.last();
        // A last entry that is broken had its search ended by the end of the
        // file, which may have grown since (a recording still being
        // written): its row is withdrawn and the block examined afresh, as a
        // fresh scan of the file as it is now would examine it.
        if (last.isBroken()) {
            sink.notify({Notify::Withdrawn, static_cast<int32_t>(table.lastIndex()), 0, 0, last});
            table.clearErrorFields(table.lastIndex());
        }
        pos = last.offset + static_cast<Position>(std::max(last.declaredSize, 0));
        if (!learnGrid(view, state.codes.rules(), grid)) return view.failure();
        gridAtEnd(table, grid);
        if (pos > size) startSearch();
    } else {
        sink.clearErrorList();
        table.startFresh();
        // Every fresh scan starts from the initial codes, never from those a
        // previous file, check or join left.
        state.codes = StreamCodes{state.rules.load()};
        if (!learnGrid(view, state.codes.rules(), grid)) return view.failure();
    }

    // A search that has run as far as a block's size can reach (2 GiB, a
    // region without a single start code) ends there, and the bytes behind
    // it go on as a broken entry of their own, with no header (kFillCode,
    // declared size 0): no byte of the file is left out of the table.
    const auto continueSearch = [&] {
        endSearch(false);
        const int64_t index = table.appendBlock({pos, kFillCode, 0});
        BlockRecord& entry = table[static_cast<size_t>(index)];
        sink.notify({Notify::Broken, static_cast<int32_t>(index), 0, 0, entry});
        entry.broken = kBrokenListed;
        inResync = true;
        searchStart = pos;
        run.restart(pos);
    };

    WindowPause pause;
    Failure failure;
    while (pos < size) {
        if (!state.highPriority.load(std::memory_order_relaxed)) pause.after(view.windowStart());
        if (inResync && pos - searchStart >= kLargestExtent) continueSearch();
        const uint8_t* bytes = view.view(pos, 6);
        if (bytes == nullptr) {
            failure = view.failure();
            break;
        }
        if (inResync && sink.quietSteps() > 0) {
            const Position inWindow = view.windowStart() + view.windowLength() - 5 - pos;
            const Position limit =
                std::min<Position>({inWindow, size - pos, Position(sink.quietSteps()),
                                    kLargestExtent - (pos - searchStart)});
            const uint32_t steps =
                quietResync(bytes, static_cast<uint32_t>(limit), pos, state.codes, run);
            sink.skipQuietSteps(static_cast<int32_t>(steps));
            pos += steps;
            if (pos >= size) break;
            // A search as long as an entry can span goes on in a new one.
            if (pos - searchStart >= kLargestExtent) continue;
            bytes = view.view(pos, 6);
            if (bytes == nullptr) {
                failure = view.failure();
                break;
            }
        }
        const uint32_t code = loadBE32(bytes);

        bool record = true;
        if (inResync) {
            if (bytes[0] == 0 && state.codes.isValidStartCode(code)) {
                endSearch(code == kPackStartCode || code == kEndCode);
            } else {
                run.take(bytes, 1, pos);
                ++pos;
                record = false;
            }
        }

        if (record) {
            const BlockKind kind = state.codes.classify(code);
            if (kind == BlockKind::None) {
                if (table.lastIndex() < 0) break;
                const bool behindEndCode =
                    table.last().code == kEndCode && !table.last().isBroken();
                const std::optional<Position> fill =
                    bytes[0] == 0 ? fillAt(view, pos, size, grid, behindEndCode) : Position{0};
                if (!fill) {
                    failure = view.failure();
                    break;
                }
                if (*fill > 0) {
                    appendFill(pos, *fill);
                    pos += *fill;
                } else {
                    startSearch();
                }
            } else {
                ByteSpan block(bytes, 6);
                if (kind == BlockKind::Pack) {
                    const uint8_t* header = view.view(pos, kMpeg2PackHeaderSize);
                    if (header == nullptr) {
                        failure = view.failure();
                        break;
                    }
                    block = ByteSpan(header, kMpeg2PackHeaderSize);
                    state.codes.takePackHeader(block);
                } else if (kind == BlockKind::SystemHeader) {
                    // Every entry that its declared length holds.
                    const uint8_t* header = view.view(pos, kSystemHeaderReadSize);
                    if (header == nullptr) {
                        failure = view.failure();
                        break;
                    }
                    block = ByteSpan(header, kSystemHeaderReadSize);
                }
                if (kind == BlockKind::Pack) grid.packAt(pos);
                const int32_t declared = state.codes.sizeOf(kind, block);
                table.appendBlock({pos, code, declared});
                pos += static_cast<Position>(declared);
                if (kind == BlockKind::SystemHeader) takeStreamCodes(state.codes, block);
                // Cut short by the end of the file: what its header declares
                // is not there, and the writer must not make it up.
                if (pos > size) startSearch();
            }
        }

        if (pos >= size) break;
        if (sink.progressDue()) {
            sink.notify({Notify::Progress,
                         static_cast<int32_t>(progressPercent(pos, size)),
                         pos,
                         size,
                         {}});
        }
        if (state.job.stopRequested.load(std::memory_order_relaxed)) break;
    }
    // A search that reached the end of the file ends there: the block holds
    // the rest of the file.
    if (!failure && inResync && pos >= size) {
        pos = size;
        endSearch(false);
    }
    table.trimToLast();
    // Bytes of a file that changed while they were read describe no file.
    if (!failure) failure = view.verifyUnchanged();
    return failure;
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
