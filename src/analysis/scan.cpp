#include "analysis/scan.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "analysis/content_check.h"
#include "model/block_iterator.h"
#include "model/block_walk.h"
#include "model/sector_grid.h"
#include "model/stream_edges.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

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

// The walk of a scan: each entry the block iterator finds goes into the
// table, a broken one as soon as its search starts (its row shows while the
// search runs) and again with its real size and run when it ends. The
// search's quiet steps are as many as no progress report is due for.
class StreamScan {
  public:
    StreamScan(AppState& state, JobSink& sink, Position start)
        : start_(start),
          state_(state),
          sink_(sink),
          view_(state.view),
          table_(state.table),
          source_(state.view),
          walk_(source_, state.codes) {}

    Failure run() {
        if (!begin()) return view_.failure();
        Failure failure;
        WindowPause pause;
        const Position size = view_.streamSize();
        for (;;) {
            if (!state_.highPriority.load(std::memory_order_relaxed)) {
                pause.after(view_.windowStart());
            }
            const WalkStep step =
                walk_.next(static_cast<uint32_t>(std::max(sink_.quietSteps(), 0)));
            if (step.quiet > 0) sink_.skipQuietSteps(static_cast<int32_t>(step.quiet));
            if (step.kind == WalkStepKind::Failed) {
                failure = view_.failure();
                break;
            }
            if (step.kind == WalkStepKind::End || step.kind == WalkStepKind::NoBlockAtHead) {
                reachedEnd_ = step.kind == WalkStepKind::End;
                break;
            }
            if (!take(step)) break;
            if (contentFailed_) {
                failure = view_.failure();
                break;
            }
            if (!reports(step) || step.at >= size) continue;
            if (sink_.progressDue()) report(step.at);
            if (state_.job.stopRequested.load(std::memory_order_relaxed)) break;
        }
        table_.trimToLast();
        if (!failure && reachedEnd_) {
            if (content_) content_->finish(walk_.streamEnd());
            addJunk(FindingCause::TrailingJunk, walk_.streamEnd(), size);
        }
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
        state_.findings.clear();
        // Every fresh scan starts from the initial codes, never from those a
        // previous file, check or join left.
        state_.codes = StreamCodes{state_.rules.load()};
        // A stream whose head junk took may have lost its system header.
        if (start_ > 0) state_.codes.openEveryStream(true);
        startContentChecks();
        addJunk(FindingCause::LeadingJunk, 0, start_);
        return walk_.start(start_);
    }

    // Bytes around the stream that are no part of it: a finding of their
    // own, never a broken block.
    void addJunk(FindingCause cause, Position from, Position to) {
        if (from < to) {
            Finding junk;
            junk.begin = from;
            junk.end = to;
            junk.kind = FindingKind::Junk;
            junk.cause = cause;
            state_.findings.add(junk);
        }
    }

    // The checks of the content follow the sound walk only: the strict
    // walk is the design's block walk and nothing more.
    void startContentChecks() {
        if (state_.rules.load() == StreamRules::Sound) {
            content_.emplace(state_.findings, state_.decodeCheck.load());
        }
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
        if (!walk_.start(start_)) return false;
        // Where the stream ends is examined afresh too.
        FindingList& findings = state_.findings;
        if (!findings.empty() && findings.items().back().cause == FindingCause::TrailingJunk) {
            findings.dropLast();
        }
        startContentChecks();
        gridAtEnd(table_, walk_.grid());
        walk_.resumeAfter({.pos = last.offset, .code = last.code, .declared = last.declaredSize});
        return true;
    }

    // A step taken into the table. False when a stop asked for is taken
    // right away (see listBroken).
    [[gnu::always_inline]] bool take(const WalkStep& step) {
        if (step.kind == WalkStepKind::Entry) {
            takeEntry(step);
            return true;
        }
        return !step.begins || listBroken(step.entry);
    }

    // Whether a step ends with a progress report. A report follows each
    // step of the walk as it goes from position to position: each block,
    // each piece of fill, the start of a search and each position searched.
    // A broken entry is told when the search that ends it reaches the next
    // block, with that block; so is the fill that ends the search. A
    // resumed scan's last entry was told by the scan that made it.
    bool reports(const WalkStep& step) {
        const WalkEntry& entry = step.entry;
        if (step.kind == WalkStepKind::Searching) {
            return !step.begins || !entry.listed || !declaredPastEnd(entry);
        }
        const bool fill = entry.kind == BlockKind::None && entry.code == kFillCode;
        afterBroken_ = entry.broken || (afterBroken_ && fill);
        return !entry.listed && !afterBroken_;
    }

    bool declaredPastEnd(const WalkEntry& entry) const {
        return entry.pos + static_cast<Position>(std::max(entry.declared, 0)) > view_.streamSize();
    }

    void report(Position at) {
        const Position size = view_.streamSize();
        sink_.notify(
            {Notify::Progress, static_cast<int32_t>(progressPercent(at, size)), at, size, {}});
    }

    // An entry whose size is known: a sound one joins the table, a broken
    // one (in the table since its search began) gets its real size and run.
    [[gnu::always_inline]] void takeEntry(const WalkStep& step) {
        const WalkEntry& entry = step.entry;
        if (content_ && !content_->take(entry, source_)) contentFailed_ = true;
        if (!entry.broken) {
            if (!entry.listed) table_.appendBlock({entry.pos, entry.code, entry.declared});
            return;
        }
        BlockRecord& broken = table_.last();
        broken.realSize = static_cast<int32_t>(entry.real);
        const LongestRun::Run run = walk_.longestRun();
        broken.repeatByte = run.byte;
        broken.repeatLength = static_cast<uint32_t>(run.length);
        broken.repeatStart = static_cast<uint32_t>(run.start - entry.pos);
        sink_.notify({Notify::Resolved, static_cast<int32_t>(table_.lastIndex()), 0, 0, broken});
    }

    // An entry found broken: listed at the start of its search. An entry
    // new to the table was a step of its own when it was read, so its
    // report and a stop come first; it then stays in the table as sound.
    // False when the scan stops there.
    bool listBroken(const WalkEntry& entry) {
        if (!entry.listed) {
            table_.appendBlock({entry.pos, entry.code, entry.declared});
            if (!declaredPastEnd(entry) && entry.declared > 0) {
                if (sink_.progressDue()) {
                    report(entry.pos + static_cast<Position>(entry.declared));
                }
                if (state_.job.stopRequested.load(std::memory_order_relaxed)) return false;
            }
        }
        BlockRecord& broken = table_.last();
        sink_.notify({Notify::Broken, static_cast<int32_t>(table_.lastIndex()), 0, 0, broken});
        broken.broken = kBrokenListed;
        return true;
    }

    Position start_;  // the stream's first byte in the file
    AppState& state_;
    JobSink& sink_;
    StreamView& view_;
    BlockTable& table_;
    ViewSource source_;
    BlockIterator<ViewSource> walk_;
    bool afterBroken_ = false;  // the entries told are a broken one and its fill
    std::optional<ContentChecks> content_;
    bool contentFailed_ = false;
    bool reachedEnd_ = false;  // the walk reached the end of the stream
};

}  // namespace

std::optional<uint32_t> learnSectorSize(StreamView& view, Position from) {
    ViewSource source(view);
    return learnSectorSize(source, from);
}

EdgeSearch streamStartOf(StreamView& view, StreamRules rules) {
    if (rules == StreamRules::Sound) {
        ViewSource source(view);
        return findStreamStart(source);
    }
    // The strict walk takes a stream only where the file begins with one.
    const uint8_t* head = view.view(0, 29);
    if (head == nullptr) return {std::nullopt, true};
    if (loadBE32(head) != kPackStartCode) return {};
    return {Position{0}, false};
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
    const EdgeSearch start = streamStartOf(view, state.rules.load());
    if (start.failed) return view.failure();
    if (!start.at) {
        sink.reportCheck(CheckResult::NoSignature);
        return {};
    }
    return StreamScan(state, sink, *start.at).run();
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
