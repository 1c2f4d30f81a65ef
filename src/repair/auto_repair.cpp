#include "repair/auto_repair.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "analysis/scan.h"
#include "model/elementary.h"
#include "model/sector_grid.h"
#include "repair/auto_repair_parts.h"
#include "stream/start_codes.h"

namespace mpg {

namespace {

using namespace autorepair;

void count(RepairSummary& s, const BlockRepair& r) {
    ++s.blocks;
    switch (r.certainty) {
        case RepairCertainty::Exact:
            ++s.exact;
            break;
        case RepairCertainty::Probable:
            ++s.decodable;
            break;
        case RepairCertainty::Unresolved:
            ++s.unresolved;
            break;
    }
}

// A block is read whole for the search; a longer one (bytes inserted by the
// megabyte) is left to the fallback.
constexpr uint32_t kLargestSearched = 2u << 20;
// How far ahead the next packet of a stream, or the next pack header, is
// looked for (those before are kept as the walk passes them).
constexpr size_t kNeighbourReach = 256;
// The least gain (in sixteenths of a bit) of a cut that is not the only one
// of its rank: three bytes of no stuffing.
constexpr int64_t kWeakEvidence = 3 * 8 * 16;
// The most candidates checked for one block, and the longest broken pack
// header whose every place is tried for the cut.
constexpr size_t kMostTries = 512;
constexpr uint32_t kLargestPackSearched = 4096;
// The rank of a cut placed anywhere in a pack header: behind every run.
constexpr uint32_t kAnyPlace = 1u << 20;

// --- the walk -------------------------------------------------------------------

class AutoRepair {
  public:
    AutoRepair(AppState& state, StrategyOutcome& outcome, bool keepReport)
        : state_(state),
          table_(state.table),
          view_(state.view),
          outcome_(outcome),
          keepReport_(keepReport) {}

    void repair(size_t index) {
        lowerUpTo(index + 1);
        passUpTo(index);
        BlockRecord& e = table_[index];
        BlockRepair r;
        r.index = index;
        r.fileOffset = view_.streamToFile(e.offset);
        r.code = e.code;
        r.declaredSize = e.declaredSize;
        r.realSize = e.realSize;
        if (e.broken == kBrokenListed && e.code != kFillCode) settle(index, e, r);
        // A block whose bytes could not be read is no unresolved block: the
        // walk ends with the read's failure.
        if (failed()) return;
        if (r.action == RepairAction::LeftAlone) r.certainty = RepairCertainty::Unresolved;
        count(outcome_.summary, r);
        if (keepReport_) outcome_.repairs.push_back(r);
    }

    void finish() { lowerUpTo(table_.size()); }
    bool failed() const { return static_cast<bool>(outcome_.failure); }

  private:
    // A block's bytes should reach the next block (its declared size, and in
    // a stream laid out in sectors the fill up to the grid point behind it
    // when a pack header follows): fewer are padded up to there, more are
    // cut back to there.
    void settle(size_t index, BlockRecord& e, BlockRepair& r) {
        if (e.realSize < e.declaredSize && lastBlock(index)) return cutShort(index, e, r);
        if (e.realSize < kLengthFieldEnd || e.declaredSize < kLengthFieldEnd - 2) return;
        uint32_t declared = static_cast<uint32_t>(e.declaredSize);
        pack_.reset();
        if (e.code == kPackStartCode) {
            pack_ = packContext(index);
            // Bytes inserted into a pack header may have changed what it
            // says of its own size: its neighbours tell.
            if (pack_->before) declared = pack_->beforeSize;
        }
        const uint32_t real = static_cast<uint32_t>(e.realSize);
        const std::optional<Grid> grid = gridAround(index, e);
        if (!grid) {
            if (real < declared) return padBack(index, e, r, declared);
            cutInserted(index, e, r, {declared, declared});
            return;
        }
        const uint32_t sector = grid->sector;
        // The sector grid's first point at or behind the declared end.
        const Position end = e.offset + declared;
        const uint32_t first = static_cast<uint32_t>(
            grid->pack + (end - grid->pack + sector - 1) / sector * sector - e.offset);
        if (real <= first) return padBack(index, e, r, first);
        // The next pack header stands `off` bytes behind a grid point: the
        // bytes inserted fill whole sectors and `off` more, or a sector less
        // than `off` were lost and zeros up to the pack header are fill. The
        // readings are tried from the smallest change on; padding needs
        // zeros enough for it, a cut passes its checks.
        const uint32_t off = static_cast<uint32_t>((e.offset + real - grid->pack) % sector);
        struct Reading {
            uint32_t change;
            bool pad;
            uint32_t target;
        };
        std::vector<Reading> readings{{real - first, false, first}};
        if (off != 0 && real - off > first) readings.push_back({off, false, real - off});
        if (off != 0 && trailingZeros(e, real) >= off) {
            readings.push_back({sector - off, true, real + sector - off});
        }
        std::stable_sort(readings.begin(), readings.end(),
                         [](const Reading& a, const Reading& b) { return a.change < b.change; });
        // Zeros cut from the end of the block, right in front of the pack
        // header, are the fill a padding keeps: with padding possible only
        // a cut elsewhere is taken.
        const auto pad = std::find_if(readings.begin(), readings.end(),
                                      [](const Reading& reading) { return reading.pad; });
        for (const Reading& reading : readings) {
            if (reading.pad) continue;
            if (cutInserted(index, e, r, {declared, reading.target}, pad != readings.end())) {
                return;
            }
        }
        if (pad != readings.end()) padBack(index, e, r, pad->target);
    }

    // The zero bytes at the end of a block's `real` bytes (up to a sector's worth).
    uint32_t trailingZeros(const BlockRecord& e, uint32_t real) {
        const uint32_t look = std::min<uint32_t>(real, grid_ ? grid_->sector : 0);
        std::vector<uint8_t> tail;
        if (look == 0 || !read(e.offset + real - look, static_cast<int32_t>(look), tail)) return 0;
        uint32_t zeros = 0;
        while (zeros < look && tail[look - 1 - zeros] == 0) ++zeros;
        return zeros;
    }

    // Whether no block but sector fill follows the entry.
    bool lastBlock(size_t index) const {
        for (size_t k = index + 1; k < table_.size(); ++k) {
            if (table_[k].code != kFillCode || table_[k].isBroken()) return false;
        }
        return true;
    }

    // The end of the file cut the block short: a header that is whole takes
    // the length the file holds, one that is not is left out.
    void cutShort(size_t index, BlockRecord& e, BlockRepair& r) {
        std::vector<uint8_t> bytes;
        const BlockKind kind = state_.codes.classify(e.code);
        const bool lengthField = kind == BlockKind::Packet || kind == BlockKind::SystemHeader;
        bool whole = false;
        if (lengthField && e.realSize >= kLengthFieldEnd && read(e.offset, e.realSize, bytes)) {
            whole = kind == BlockKind::SystemHeader ||
                    packetPayloadStart(bytes.data(), static_cast<uint32_t>(bytes.size()));
        }
        accept(index, e, whole ? PlannedWrite::LengthFromReal : PlannedWrite::Drop);
        r.action = whole ? RepairAction::LengthFromFile : RepairAction::Dropped;
        r.certainty = RepairCertainty::Probable;
    }

    // Bytes were lost inside the block: it keeps them all and is padded back
    // to its declared size, so that every block behind it keeps its place.
    // In a stream laid out in sectors the fill behind the block may have
    // been taken into it: it is padded on to where the grid puts the next
    // pack header.
    void padBack(size_t index, BlockRecord& e, BlockRepair& r, uint32_t total) {
        accept(index, e, PlannedWrite::PadToDeclared, total);
        r.padded = total - static_cast<uint32_t>(e.realSize);
        // A block as long as declared with zeros up to the grid behind it
        // is whole: the zeros are the sector's fill.
        const bool whole = r.padded == 0 && e.realSize >= e.declaredSize;
        r.action = whole ? RepairAction::FillBehind : RepairAction::Padded;
        r.certainty = whole ? RepairCertainty::Exact : RepairCertainty::Probable;
    }

    void accept(size_t index, BlockRecord& e, PlannedWrite how, uint32_t total = 0) {
        if (failed()) return;  // nothing is decided on bytes that were not read
        e.broken = kBrokenAccepted;
        table_.planWrite(index, how, total);
        ++outcome_.fixed;
    }

    // The sector size that the pack headers of the sectors without a broken
    // block follow. The bytes of the stream's head may hold the damage the
    // repair is for: the table knows which sectors are sound.
    uint32_t sectorFromTable() const {
        SectorSizeLearner learner;
        std::optional<Position> pack;
        for (size_t k = 0; k < table_.size(); ++k) {
            const BlockRecord& b = table_[k];
            const Position offset = k < lowered_ ? b.offset : b.offset - shift_;
            if (b.isBroken()) {
                pack.reset();
            } else if (b.code == kPackStartCode) {
                if (pack) learner.takeDistance(offset - *pack);
                pack = offset;
            }
        }
        return learner.sectorSize();
    }

    // The sector grid around a block that a pack header or an end code
    // follows: the sector size and the pack header of the block's sector.
    struct Grid {
        uint32_t sector = 0;
        Position pack = 0;
    };
    std::optional<Grid> gridAround(size_t index, const BlockRecord& e) {
        if (index + 1 >= table_.size()) return std::nullopt;
        const uint32_t next = table_[index + 1].code;
        if (next != kPackStartCode && next != kEndCode) return std::nullopt;
        if (!sectorSize_) {
            sectorSize_ = sectorFromTable();
            if (*sectorSize_ == 0) sectorSize_ = state_.kind.sectorSize;
            if (*sectorSize_ == 0 && usable()) {
                sectorSize_ = learnSectorSize(view_);
                if (!sectorSize_) {
                    readFailed();
                    return std::nullopt;
                }
            }
        }
        const uint32_t sector = *sectorSize_;
        if (sector == 0) return std::nullopt;
        const std::optional<size_t> pack = previousOf(kPackStartCode, false);
        if (!pack || e.offset - table_[*pack].offset >= sector) return std::nullopt;
        grid_ = Grid{sector, table_[*pack].offset};
        return grid_;
    }

    // Bytes were inserted: `real - target` of them are cut, from runs of
    // equal bytes or where an audio stream's frame chain breaks.
    bool cutInserted(size_t index, BlockRecord& e, BlockRepair& r, const Shape& shape,
                     bool keepTrailingZeros = false) {
        const uint32_t real = static_cast<uint32_t>(e.realSize);
        const uint32_t target = shape.target;
        // Nothing to cut (a pack header whose neighbours' size is what it
        // holds): no cut can tell more than the fallback.
        if (real <= target) return false;
        const uint32_t excess = real - target;
        std::vector<uint8_t> bytes;
        if (real > kLargestSearched || !read(e.offset, real, bytes)) return false;
        std::optional<AudioContext> audio;
        if (isAudioCode(e.code)) audio = audioContext(index, e.code);

        std::vector<uint8_t> own;
        if (!neighbourOf(index, e.code, own)) own = bytes;
        std::vector<Candidate> candidates = runCandidates(bytes, excess, RepeatCosts(own));
        // A pack header is short and its fields are known from its
        // neighbours: the bytes may be cut at any place in it.
        if (pack_ && real <= kLargestPackSearched) {
            for (uint32_t at = 4; at + excess <= real; ++at) {
                Candidate c;
                c.cuts[0] = {at, excess, -1};
                c.count = 1;
                c.kept = kAnyPlace;
                candidates.push_back(c);
            }
        }
        std::optional<Candidate> chosen;
        bool unique = true;
        uint64_t chosenRank = 0;
        size_t tried = 0;
        for (const Candidate& c : candidates) {
            // Each try copies the block: a block of garbage full of short
            // runs must not take a try per run.
            if (++tried > kMostTries) break;
            const uint64_t rank = rankOf(c);
            if (chosen && rank > chosenRank) break;
            if (keepTrailingZeros && c.count == 1 && c.cuts[0].byte == 0 &&
                c.cuts[0].start + c.cuts[0].length == real) {
                continue;
            }
            if (!passes(bytes, c, shape, audio)) continue;
            if (chosen) {
                unique = false;
                break;
            }
            chosen = c;
            chosenRank = rank;
        }
        // A cut of a few cheap bytes that other places fit as well is a
        // guess: in video it would damage a second place in the picture.
        // Such a block is left to the fallback, which keeps every byte. A
        // pack header's fields and an audio packet's frames are checks of
        // their own, and a padding packet's bytes play no part.
        const bool guess = chosen && !unique && chosen->gain < kWeakEvidence;
        if (guess && !pack_ && !audio && e.code != kPaddingStreamCode) chosen.reset();
        if (chosen) {
            apply(index, e, *chosen, r, shape);
            r.action = RepairAction::CutRuns;
            r.certainty = unique && (chosen->kept <= excess || chosen->kept == kAnyPlace)
                              ? RepairCertainty::Exact
                              : RepairCertainty::Probable;
            return true;
        }
        if (audio) {
            if (const std::optional<Candidate> c = cutAtBreak(bytes, excess, shape, *audio)) {
                apply(index, e, *c, r, shape);
                r.action = RepairAction::CutAtBreak;
                r.certainty = RepairCertainty::Probable;
                return true;
            }
        }
        return false;
    }

    // The checks a cut must pass: the block's header whole at its declared
    // size, and an audio packet's frames reading on across the cut.
    // With `confirmed`, an audio packet's chain must be one its neighbours
    // confirm, not merely one they do not contradict.
    bool passes(const std::vector<uint8_t>& bytes, const Candidate& c, const Shape& shape,
                const std::optional<AudioContext>& audio, bool confirmed = false) const {
        std::vector<uint8_t> cut = withCuts(bytes, c);
        if (cut.size() != shape.target || !std::all_of(cut.begin() + shape.declared, cut.end(),
                                                       [](uint8_t b) { return b == 0; })) {
            return false;
        }
        cut.resize(shape.declared);
        if (!headerParses(cut, static_cast<int32_t>(shape.declared), state_.codes)) return false;
        if (pack_ && !pack_->fits(cut)) return false;
        if (!audio) return true;
        const std::optional<uint32_t> start =
            packetPayloadStart(cut.data(), static_cast<uint32_t>(cut.size()));
        if (!start) return false;
        const ChainVerdict verdict =
            chainFits(cut.data() + *start, static_cast<uint32_t>(cut.size()) - *start, *audio);
        return confirmed ? verdict == ChainVerdict::Fits : verdict != ChainVerdict::Fails;
    }

    // Bytes inserted into an audio packet that are no run: the frame chain
    // breaks where the first header is missing, and the bytes right in
    // front of the header that follows are cut; a chain that runs whole to
    // the payload's end but does not meet the next packet's first header
    // has them at its end.
    std::optional<Candidate> cutAtBreak(const std::vector<uint8_t>& bytes, uint32_t delta,
                                        const Shape& shape, const AudioContext& audio) const {
        // The packet's own bytes: the fill behind it stays out of the search.
        const uint32_t own = shape.declared + delta;
        const std::optional<uint32_t> start = packetPayloadStart(bytes.data(), own);
        if (!start) return std::nullopt;
        const uint8_t* p = bytes.data() + *start;
        const uint32_t n = own - *start;
        std::optional<uint32_t> first;
        if (const std::optional<int64_t> f = firstHeaderOf(p, n, audio)) {
            if (*f >= 0 && *f < n) first = static_cast<uint32_t>(*f);
        } else if (!audio.carry) {
            first = chainStart(p, n, audio.fixed);
        }
        std::vector<uint32_t> places;
        if (first) {
            const ChainWalk w = walkChain(p, n, *first, audio.fixed);
            if (!w.whole) {
                for (uint32_t s = w.breaksAt; s < w.breaksAt + 4; ++s) places.push_back(s);
            }
        }
        places.push_back(n - delta);
        for (const uint32_t s : places) {
            if (s + delta > n) continue;
            Candidate c;
            c.cuts[0] = {*start + s, delta, -1};
            c.count = 1;
            // A cut at a break must leave a chain that the neighbours confirm.
            if (passes(bytes, c, shape, audio, true)) return c;
        }
        return std::nullopt;
    }

    // The sound packets of the same stream before and after the block.
    AudioContext audioContext(size_t index, uint32_t code) {
        AudioContext ctx;
        std::vector<uint8_t> bytes;
        // The packet before of the stream; a broken one tells nothing.
        const std::optional<size_t> before = previousOf(code, false);
        if (before && !table_[*before].isBroken() &&
            payloadOf(table_[*before].offset, table_[*before].declaredSize, bytes)) {
            const uint32_t n = static_cast<uint32_t>(bytes.size());
            if (const std::optional<uint32_t> h = chainStart(bytes.data(), n, 0)) {
                ctx.fixed = parseAudioFrameHeader(bytes.data() + *h)->fixedBits;
                const ChainWalk w = walkChain(bytes.data(), n, *h, ctx.fixed);
                if (w.whole && n >= 3) {
                    ctx.carry = w.carry;
                    std::copy(bytes.end() - 3, bytes.end(), ctx.before.begin());
                }
            }
        }
        const std::optional<size_t> after = nextOf(index, code, false);
        if (after && !table_[*after].isBroken() &&
            payloadOf(table_[*after].offset - shift_, table_[*after].declaredSize, bytes)) {
            const uint32_t n = static_cast<uint32_t>(bytes.size());
            if (const std::optional<uint32_t> h = chainStart(bytes.data(), n, ctx.fixed)) {
                if (ctx.fixed == 0) ctx.fixed = parseAudioFrameHeader(bytes.data() + *h)->fixedBits;
                if (n >= 4) {
                    ctx.nextFirst = *h;
                    std::copy(bytes.begin(), bytes.begin() + 4, ctx.after.begin());
                }
            }
        }
        return ctx;
    }

    // The bytes of the sound block of the same code nearest before the
    // block (or after it): what the stream's own bytes of that kind are like.
    bool neighbourOf(size_t index, uint32_t code, std::vector<uint8_t>& out) {
        if (const std::optional<size_t> k = previousOf(code, true)) {
            return read(table_[*k].offset, table_[*k].declaredSize, out);
        }
        if (const std::optional<size_t> k = nextOf(index, code, true)) {
            return read(table_[*k].offset - shift_, table_[*k].declaredSize, out);
        }
        return false;
    }

    // The sound pack headers nearest before and after the block.
    PackContext packContext(size_t index) {
        PackContext ctx;
        std::vector<uint8_t> bytes;
        if (const std::optional<size_t> k = previousOf(kPackStartCode, true)) {
            if (read(table_[*k].offset, table_[*k].declaredSize, bytes)) {
                ctx.before = soundPackHeader(bytes);
                ctx.beforeSize = static_cast<uint32_t>(bytes.size());
            }
        }
        if (const std::optional<size_t> k = nextOf(index, kPackStartCode, true)) {
            if (read(table_[*k].offset - shift_, table_[*k].declaredSize, bytes)) {
                ctx.after = soundPackHeader(bytes);
            }
        }
        return ctx;
    }

    // The entries before the block the walk is at are settled: the last
    // of each start code, and the last sound one, are kept as the walk
    // passes them, so that finding them costs nothing however many broken
    // blocks lie between.
    void passUpTo(size_t end) {
        for (; passed_ < end; ++passed_) {
            const BlockRecord& b = table_[passed_];
            if ((b.code >> 8) != (kStartCodePrefix >> 8)) continue;
            lastOf_[b.code & 0xFF] = passed_ + 1;
            if (!b.isBroken()) lastSoundOf_[b.code & 0xFF] = passed_ + 1;
        }
    }
    std::optional<size_t> previousOf(uint32_t code, bool sound) const {
        if ((code >> 8) != (kStartCodePrefix >> 8)) return std::nullopt;
        const size_t k = (sound ? lastSoundOf_ : lastOf_)[code & 0xFF];
        return k == 0 ? std::nullopt : std::optional<size_t>(k - 1);
    }
    // The first entry of the code (and sound, if asked) behind the block,
    // within reach.
    std::optional<size_t> nextOf(size_t index, uint32_t code, bool sound) const {
        const size_t to = std::min(table_.size(), index + 1 + kNeighbourReach);
        for (size_t k = index + 1; k < to; ++k) {
            const BlockRecord& b = table_[k];
            if (b.code == code && (!sound || !b.isBroken())) return k;
        }
        return std::nullopt;
    }

    // A sound packet's payload.
    bool payloadOf(Position offset, int32_t size, std::vector<uint8_t>& out) {
        if (size < kLengthFieldEnd || !read(offset, static_cast<uint32_t>(size), out)) return false;
        const std::optional<uint32_t> start =
            packetPayloadStart(out.data(), static_cast<uint32_t>(out.size()));
        if (!start) return false;
        out.erase(out.begin(), out.begin() + *start);
        return true;
    }

    // Opens the input on the first read; a file that cannot be opened, or
    // is no longer the one scanned, fails the walk.
    bool usable() {
        if (!opened_) {
            opened_ = true;
            usable_ = view_.isOpen();
            if (!usable_) usable_ = closeAfter_ = view_.openFile(inputPath_);
            if (!usable_) readFailed();
        }
        return usable_;
    }
    void readFailed() {
        if (!outcome_.failure) outcome_.failure = view_.failure();
    }

    bool read(Position offset, int32_t size, std::vector<uint8_t>& out) {
        if (size <= 0 || static_cast<uint32_t>(size) > kLargestSearched || !usable()) return false;
        out.resize(static_cast<size_t>(size));
        const bool read = view_.readPieces(
            offset, static_cast<Position>(size),
            [&](const uint8_t* bytes, uint32_t piece, Position done) {
                std::copy(bytes, bytes + piece, out.begin() + static_cast<ptrdiff_t>(done));
                return true;
            },
            StreamView::Fill::Near);
        if (!read) readFailed();
        return read;
    }

    // Makes the cuts: the block then holds its declared size and is sound,
    // or, with sector fill behind it, is written with that fill.
    void apply(size_t index, BlockRecord& e, const Candidate& c, BlockRepair& r,
               const Shape& shape) {
        if (failed()) return;
        const uint32_t target = shape.target;
        // A pack header whose own size field the bytes changed is the size
        // of its neighbours again.
        e.declaredSize = static_cast<int32_t>(shape.declared);
        // Cut from the last to the first, so that each stream position
        // still names the byte it named before.
        for (uint8_t k = c.count; k-- > 0;) {
            const Cut& cut = c.cuts[k];
            const Position file = view_.streamToFile(e.offset + cut.start);
            view_.addCut(file, cut.length);
            r.cuts[k] = {file, cut.length, cut.byte};
            shift_ += cut.length;
            outcome_.bytesCut += cut.length;
        }
        view_.invalidateWindow();
        r.cutCount = c.count;
        if (target > static_cast<uint32_t>(e.declaredSize)) {
            e.realSize = static_cast<int32_t>(target);
            accept(index, e, PlannedWrite::PadToDeclared, target);
            return;
        }
        table_.clearErrorFields(static_cast<int64_t>(index));
        ++outcome_.fixed;
    }

    // Every entry before `end` not lowered yet moves down by the bytes cut
    // in front of it.
    void lowerUpTo(size_t end) {
        if (shift_ > 0) {
            for (size_t i = lowered_; i < end; ++i) table_[i].offset -= shift_;
        }
        lowered_ = std::max(lowered_, end);
    }

  public:
    std::string inputPath_;
    void close() {
        if (closeAfter_) view_.closeFile();
    }

  private:
    AppState& state_;
    BlockTable& table_;
    StreamView& view_;
    StrategyOutcome& outcome_;
    bool keepReport_;
    Position shift_ = 0;
    size_t lowered_ = 0;
    bool opened_ = false, usable_ = false, closeAfter_ = false;
    std::optional<uint32_t> sectorSize_;
    std::optional<Grid> grid_;
    std::optional<PackContext> pack_;  // of the pack header being settled
    size_t passed_ = 0;
    std::array<size_t, 256> lastOf_{}, lastSoundOf_{};  // index + 1, 0: none
};

}  // namespace

RepairSummary summarize(const RepairLog& repairs) {
    RepairSummary s;
    for (const BlockRepair& r : repairs) count(s, r);
    return s;
}

std::optional<BlockRepair> repairOfBlock(const RepairLog& log, size_t index) {
    BlockRepair r;
    if (!log.find(
            index, [](const BlockRepair& b) { return b.index; }, r))
        return std::nullopt;
    return r;
}

StrategyOutcome repairAutomatically(AppState& state, const std::vector<size_t>& listed,
                                    const std::string& inputPath, RepairProgress& progress,
                                    bool keepReport) {
    std::vector<size_t> order = listed;
    std::sort(order.begin(), order.end());
    order.erase(std::unique(order.begin(), order.end()), order.end());
    StrategyOutcome outcome;
    AutoRepair walk(state, outcome, keepReport);
    walk.inputPath_ = inputPath;
    const size_t rows = order.size() + 1;
    for (size_t row = 1; row < rows; ++row) {
        if (state.job.stopRequested.load(std::memory_order_relaxed)) {
            outcome.stopped = true;
            break;
        }
        if (progress.due()) progress.step(row, rows);
        if (order[row - 1] < state.table.size()) walk.repair(order[row - 1]);
        if (walk.failed()) break;
    }
    walk.finish();
    walk.close();
    progress.finished();
    return outcome;
}

}  // namespace mpg
