// The walk of a stream as a sequence of entries: each block, each piece of
// sector fill and each broken stretch with its position, its kind, the size
// its header declares and the size it really has. The block walker reads
// the heads; this iterator decides where each entry ends. Under the search
// a block whose declared end meets neither a block nor fill is broken, and
// the bytes behind its start code and length field are searched byte by
// byte for the next valid start code, its longest run of equal bytes noted
// on the way (the scan). Under the strict walk such a place ends the walk,
// and every entry is handed on as it is read, as long as it declares (the
// join and its clock reader, which refuse a stream whose blocks break off).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "model/block_walk.h"
#include "model/sector_grid.h"
#include "model/stream_edges.h"
#include "stream/procedures.h"

namespace mpg {

// An entry of the walk: a block (kind other than None), sector fill (kind
// None, kFillCode) or, for a search longer than an entry can span, the
// search's continuation (kind None, kFillCode, declared 0).
struct WalkEntry {
    Position pos = 0;
    // Its length in the stream: `declared` for a sound entry, the distance
    // to what ends its search for a broken one.
    Position real = 0;
    uint32_t code = 0;
    int32_t declared = 0;
    BlockKind kind = BlockKind::None;
    bool broken = false;
    // Handed to the walk by resumeAfter(): the caller holds it already.
    bool listed = false;
};

enum class WalkStepKind : uint8_t {
    Entry,          // `entry`, its real size known
    Searching,      // `entry` is broken; its search has come to `at`
    End,            // the end of the stream
    NoBlockAtHead,  // the stream begins with no block
    NoBlock,        // strict walk: `at` begins neither a block nor fill
    Failed,         // a read failed; the source keeps the reason
};

struct WalkStep {
    WalkStepKind kind = WalkStepKind::End;
    WalkEntry entry;
    // Where the walk has come to: an entry's end, a search's position.
    Position at = 0;
    // Quiet steps of a search taken in this step: positions stepped over
    // in one go, for which no report was due (see next()).
    uint32_t quiet = 0;
    // Searching: the entry's search starts with this step.
    bool begins = false;
};

// The quiet steps of a search in one go over the bytes a read holds: steps
// whose position begins no valid start code. Stops before `limit` steps or
// at the first position that begins one; the caller leaves at least five
// bytes behind the limit, so that a code that begins before it is read
// whole. The bytes stepped over go to the longest run. The number taken.
inline uint32_t quietResync(const uint8_t* bytes, uint32_t limit, Position pos,
                            const StreamCodes& codes, LongestRun& run) {
    uint32_t at = 0;
    while ((at = nextStartCodePrefix(bytes, at, limit)) < limit &&
           !codes.isValidStartCode(loadBE32(bytes + at))) {
        ++at;
    }
    run.take(bytes, at, pos);
    return at;
}

enum class WalkMode : uint8_t { Search, Strict };

template <class Source = ByteSource>
class BlockIterator {
  public:
    BlockIterator(Source& source, StreamCodes& codes, WalkMode mode = WalkMode::Search)
        : source_(source),
          codes_(codes),
          walker_(source, codes),
          strict_(mode == WalkMode::Strict) {}

    BlockWalker<Source>& walker() { return walker_; }
    // The longest run of equal bytes of the last broken entry handed on
    // (kept apart from the entries, which it would make twice as long).
    const LongestRun::Run& longestRun() const { return endedRun_; }
    // Where the next step reads.
    Position position() const { return pos_; }
    SectorGrid& grid() { return walker_.grid(); }

    // A walk from the stream's first byte, at `from` in the file (behind
    // the junk in front of it); the grid learnt from its head. Under the
    // sound rules a search ends the walk in front of the tags appended to
    // the file. False when a read fails.
    bool start(Position from = 0) {
        pos_ = from;
        if (!strict_ && codes_.rules() == StreamRules::Sound) {
            const std::optional<Position> tags = tailTagsStart(source_, from);
            if (!tags) return false;
            size_ = *tags;
        }
        return walker_.learnGrid(from);
    }

    // Where the walked stream ends: the source's end, or where the junk
    // behind the stream begins.
    Position streamEnd() const { return size_; }

    // A walk that goes on behind `last`, an entry the caller holds from an
    // earlier walk (a resumed scan): `last` is examined afresh where its
    // declared size ends, on the grid as the caller has set it.
    void resumeAfter(WalkEntry last) {
        last.listed = true;
        last.real = static_cast<Position>(std::max(last.declared, 0));
        begun_ = true;
        pos_ = last.pos + last.real;
        pending_ = last;
        hasPending_ = true;
        if (pos_ > size_) mode_ = Mode::PastEnd;
    }

    // The next step. A search takes at most `quietBudget` quiet steps in one
    // step before it examines one more position, so that the caller can
    // report progress and be stopped at its own pace.
    [[gnu::always_inline]] WalkStep next(uint32_t quietBudget = 0) {
        for (;;) {
            // One test keeps the walk from block to block: all else (a
            // search, fill, an entry cut short by the end) is off its path.
            if (mode_ != Mode::Blocks) [[unlikely]] {
                if (std::optional<WalkStep> step = offTheBlocks(quietBudget)) return *step;
                continue;
            }
            if (pos_ >= size_) [[unlikely]]
                return atEnd();
            const std::optional<WalkedBlock> block = walker_.blockAt(pos_);
            if (!block) [[unlikely]]
                return failed();
            if (block->kind == BlockKind::None) [[unlikely]] {
                if (std::optional<WalkStep> step = noBlockAt(block->head[0])) return *step;
                continue;
            }
            const WalkEntry entry{.pos = pos_,
                                  .real = Position(block->declared),
                                  .code = block->code,
                                  .declared = block->declared,
                                  .kind = block->kind};
            pos_ += static_cast<Position>(block->declared);
            if (strict_) return strictEntry(entry);
            if (pos_ > size_) [[unlikely]]
                mode_ = Mode::PastEnd;
            if (hasPending_) [[likely]]
                return replacePending(entry);
            takePending(entry);
        }
    }

  private:
    // Where the walk is besides going from block to block.
    enum class Mode : uint8_t {
        Blocks,
        Fill,       // fill is queued (fillAt_, fillLeft_)
        PastEnd,    // the waiting entry's declared end lies past the stream's
        Searching,  // the waiting entry is broken and searched
        Announce,   // the search goes on in a new entry, not yet told
    };

    // The step off the walk from block to block; nothing when the walk
    // goes on.
    [[gnu::noinline]] std::optional<WalkStep> offTheBlocks(uint32_t quietBudget) {
        switch (mode_) {
            case Mode::Fill: {
                const WalkEntry piece = fillPiece();
                if (fillLeft_ == 0) mode_ = Mode::Blocks;
                if (strict_) return strictEntry(piece);
                if (hasPending_) return replacePending(piece);
                takePending(piece);
                return std::nullopt;
            }
            case Mode::PastEnd:
                return startSearch();
            case Mode::Searching:
                return searchStep(quietBudget);
            case Mode::Announce:
                mode_ = Mode::Searching;
                return WalkStep{WalkStepKind::Searching, pending_, pos_, 0, true};
            case Mode::Blocks:
                break;
        }
        return std::nullopt;
    }

    // The walk's position begins no block: fill, the start of a search, or a
    // stream that begins with no block. `first` is the byte there. Nothing
    // when fill is queued.
    [[gnu::noinline]] std::optional<WalkStep> noBlockAt(uint8_t first) {
        if (!begun_) {
            return WalkStep{
                strict_ ? WalkStepKind::NoBlock : WalkStepKind::NoBlockAtHead, {}, pos_};
        }
        // Fill may follow a sound end code right up to the end of the
        // stream; whatever follows a broken entry follows no end code. (The
        // strict walk keeps no entry waiting: its fill ends at a pack
        // header or the end, as the join has always taken it.)
        const bool behindEndCode = hasPending_ && pending_.code == kEndCode;
        const std::optional<Position> fill =
            first == 0 ? walker_.fillAt(pos_, behindEndCode, size_) : Position{0};
        if (!fill) return failed();
        if (*fill == 0) {
            if (strict_) return WalkStep{WalkStepKind::NoBlock, {}, pos_};
            const std::optional<bool> junk = endsInJunk(first, behindEndCode);
            if (!junk) return failed();
            return *junk ? std::nullopt : std::optional<WalkStep>(startSearch());
        }
        queueFill(pos_, *fill);
        return std::nullopt;
    }

    // Under the sound rules the bytes behind a sound end code (and its
    // fill), near the end, that hold no start code up to the end are junk:
    // the stream ends there, and the entry is whole. Behind any other block
    // such bytes may be the block's own, cut short or damaged: they are
    // searched as a broken block's. Zeros that
    // fill its last sector up to the grid (or behind its end code) stay the
    // stream's. Nothing when a read fails.
    std::optional<bool> endsInJunk(uint8_t first, bool behindEndCode) {
        if (codes_.rules() != StreamRules::Sound || !hasPending_ || pending_.broken || !closed_ ||
            size_ - pos_ > kJunkReach) {
            return false;
        }
        const std::optional<Position> code = nextValidStartCode(source_, codes_, pos_, size_);
        if (!code) return std::nullopt;
        if (*code < size_) return false;
        Position fill = 0;
        const SectorGrid& grid = walker_.grid();
        if (first == 0 && grid.sectorSize() > 0) {
            const std::optional<Position> zeros = endOfZeros(source_, pos_, size_);
            if (!zeros) return std::nullopt;
            const Position sector = grid.sectorSize();
            const Position start = static_cast<Position>(std::max<int64_t>(grid.start(), 0));
            const Position onGrid = *zeros > start ? start + (*zeros - start) / sector * sector : 0;
            if (grid.start() >= 0 && onGrid > pos_) fill = onGrid - pos_;
            if (fill == 0 && behindEndCode) fill = *zeros - pos_;
        }
        size_ = pos_ + fill;
        if (fill > 0) queueFill(pos_, fill);
        return true;
    }

    // An entry waits until its end is seen; the one it replaces is then
    // known sound.
    [[gnu::always_inline]] WalkStep replacePending(const WalkEntry& entry) {
        if (entry.code != kFillCode) [[likely]]
            closed_ = entry.code == kEndCode;
        WalkStep step;
        step.kind = WalkStepKind::Entry;
        step.entry = std::exchange(pending_, entry);
        step.at = step.entry.pos + step.entry.real;
        return step;
    }

    WalkStep strictEntry(const WalkEntry& entry) {
        begun_ = true;
        return entryStep(entry);
    }

    void takePending(const WalkEntry& entry) {
        pending_ = entry;
        hasPending_ = true;
        begun_ = true;
    }

    static WalkStep failed() { return {WalkStepKind::Failed, {}, 0}; }

    WalkStep entryStep(const WalkEntry& entry) {
        return {WalkStepKind::Entry, entry, entry.pos + entry.real};
    }

    WalkStep atEnd() {
        if (!hasPending_) return {WalkStepKind::End, {}, pos_};
        hasPending_ = false;
        return entryStep(pending_);
    }

    void queueFill(Position at, Position length) {
        fillAt_ = at;
        fillLeft_ = length;
        mode_ = Mode::Fill;
    }

    // The next piece of queued fill; fill longer than an entry can span
    // goes on in more entries.
    WalkEntry fillPiece() {
        const Position piece = std::min(fillLeft_, kLargestExtent);
        const WalkEntry entry{.pos = fillAt_,
                              .real = piece,
                              .code = kFillCode,
                              .declared = static_cast<int32_t>(piece)};
        fillAt_ += piece;
        fillLeft_ -= piece;
        pos_ = fillAt_;
        return entry;
    }

    // The waiting entry's declared size led to no start code (or past the
    // end of the stream): it is broken. The search starts right behind its
    // start code and length field, so a block shorter than declared is
    // found as well as a longer one.
    WalkStep startSearch() {
        WalkEntry& broken = pending_;
        broken.broken = true;
        mode_ = Mode::Searching;
        searchStart_ = broken.pos;
        pos_ = broken.pos + kLengthFieldEnd;
        run_.restart(pos_);
        return {WalkStepKind::Searching, broken, pos_, 0, true};
    }

    // The quiet steps over what the source holds, then the position
    // reached: a valid start code there ends the search, anything else is
    // stepped over.
    WalkStep searchStep(uint32_t budget) {
        uint32_t quiet = 0;
        for (;;) {
            // A block cut short by the end within its start code and
            // length field: nothing is left to search.
            if (pos_ >= size_) return endSearch(false, quiet);
            // A search as long as an entry can span goes on in a new one.
            if (pos_ - searchStart_ >= kLargestExtent) return continueSearch(quiet);
            const uint8_t* bytes = source_.bytesAt(pos_, 6);
            if (bytes == nullptr) return failed();
            if (budget > quiet) {
                const Position held = std::max<uint32_t>(source_.heldFrom(pos_), 6) - 5;
                const Position limit = std::min<Position>(
                    {held, size_ - pos_, budget - quiet, kLargestExtent - (pos_ - searchStart_)});
                const uint32_t steps =
                    quietResync(bytes, static_cast<uint32_t>(limit), pos_, codes_, run_);
                quiet += steps;
                pos_ += steps;
                if (pos_ >= size_) return endSearch(false, quiet);
                if (pos_ - searchStart_ >= kLargestExtent) continue;
                bytes = source_.bytesAt(pos_, 6);
                if (bytes == nullptr) return failed();
            }
            const uint32_t code = loadBE32(bytes);
            if (bytes[0] == 0 && codes_.isValidStartCode(code)) {
                return endSearch(code == kPackStartCode || code == kEndCode, quiet);
            }
            run_.take(bytes, 1, pos_);
            ++pos_;
            if (pos_ >= size_) return endSearch(false, quiet);
            return {WalkStepKind::Searching, pending_, pos_, quiet};
        }
    }

    // The search ends at the walk's position: at a valid start code, or at
    // the end of the stream, which holds no more of the entry. Zero bytes
    // in front of a pack header or an end code there, or in front of the
    // end, may be the sector's fill: they are then no part of the entry,
    // nor of its runs, but an entry of their own.
    WalkStep endSearch(bool mayEndFill, uint32_t quiet) {
        WalkEntry broken = pending_;
        hasPending_ = false;
        mode_ = Mode::Blocks;
        if (pos_ > size_) pos_ = size_;
        Position fill = 0;
        if (mayEndFill || pos_ == size_) {
            const LongestRun::Run& last = run_.current();
            const Position zeros =
                last.byte == 0 && last.start + last.length == pos_ ? last.length : 0;
            const Position declaredEnd =
                broken.pos + static_cast<Position>(std::max(broken.declared, 0));
            fill = fillBehindBrokenBlock(declaredEnd, pos_, zeros, walker_.grid());
            run_.dropFromCurrent(fill);
        }
        broken.real = pos_ - fill - broken.pos;
        walker_.grid().brokenBlock(static_cast<int32_t>(static_cast<uint32_t>(broken.real) -
                                                        static_cast<uint32_t>(broken.declared)));
        if (fill > 0) queueFill(pos_ - fill, fill);
        endedRun_ = run_.longest();
        WalkStep step = entryStep(broken);
        step.quiet = quiet;
        return step;
    }

    // A search that has run as far as an entry can span (2 GiB, a region
    // without a single start code) ends there, and the bytes behind it go on
    // as a broken entry of their own, with no header: no byte of the
    // stream is left out.
    WalkStep continueSearch(uint32_t quiet) {
        WalkStep ended = endSearch(false, quiet);
        takePending(WalkEntry{.pos = pos_, .code = kFillCode, .broken = true});
        searchStart_ = pos_;
        run_.restart(pos_);
        // The new entry's search is told at the next step.
        mode_ = Mode::Announce;
        return ended;
    }

    Source& source_;
    StreamCodes& codes_;
    BlockWalker<Source> walker_;
    Position size_ = source_.size();
    Position pos_ = 0;
    WalkEntry pending_;  // the entry whose end is looked at, when hasPending_
    bool hasPending_ = false;
    bool begun_ = false;   // an entry has been met
    bool closed_ = false;  // the last block met is an end code
    Position fillAt_ = 0;
    Position fillLeft_ = 0;
    bool strict_;
    Mode mode_ = Mode::Blocks;
    Position searchStart_ = 0;
    LongestRun run_;
    LongestRun::Run endedRun_;  // that of the last search ended
};

}  // namespace mpg
