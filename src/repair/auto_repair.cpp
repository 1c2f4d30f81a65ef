#include "repair/auto_repair.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "analysis/scan.h"
#include "model/elementary.h"
#include "model/sector_grid.h"
#include "stream/start_codes.h"

namespace mpg {

namespace {

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
// Runs of several bytes cut together may keep a few bytes of those runs
// that were the payload's own: no more than this many, or an eighth of the
// excess, are kept in all.
constexpr uint32_t kMostKeptInSeveralRuns = 16;
// The least gain (in sixteenths of a bit) of a cut that is not the only one
// of its rank: three bytes of no stuffing.
constexpr int64_t kWeakEvidence = 3 * 8 * 16;
// The most candidates checked for one block, and the longest broken pack
// header whose every place is tried for the cut.
constexpr size_t kMostTries = 512;
constexpr uint32_t kLargestPackSearched = 4096;
// The rank of a cut placed anywhere in a pack header: behind every run.
constexpr uint32_t kAnyPlace = 1u << 20;
// Of the longest runs this many are combined into pairs and triples.
constexpr size_t kRunsCombined = 40;

struct Run {
    uint32_t start = 0;  // counted from the block's first byte
    uint32_t length = 0;
    uint8_t byte = 0;
};

// A cut within the block: `length` bytes from `start` (block-relative,
// before any cut).
struct Cut {
    uint32_t start = 0;
    uint32_t length = 0;
    int16_t byte = -1;
};

// A block's declared size, and the bytes it should reach with the sector
// fill behind it (the declared size when none).
struct Shape {
    uint32_t declared = 0;
    uint32_t target = 0;
};

struct Candidate {
    std::array<Cut, 3> cuts{};
    uint8_t count = 0;
    uint32_t kept = 0;  // bytes of the runs cut from that stay: the payload's own
    // How much less likely the block's own bytes look with the cut than
    // without it (see rankOf).
    int64_t gain = 0;
};

// What one more byte of a run costs a block's own bytes to hold, in
// sixteenths of a bit, learnt from a sound block of the same stream: a byte
// that makes up a share f of it follows itself about that often, so
// repeating it costs -log2(f) bits. In a padding
// packet 0xFF is nearly free and any other byte dear; in video zeros are
// cheaper than a byte of no stuffing.
class RepeatCosts {
  public:
    explicit RepeatCosts(const std::vector<uint8_t>& bytes)
        : total_(static_cast<double>(bytes.size()) + 256) {
        for (const uint8_t b : bytes) ++count_[b];
    }
    // Worked out for the few bytes the cuts take.
    int64_t operator[](uint8_t byte) const {
        return static_cast<int64_t>(-16 * std::log2((count_[byte] + 1.0) / total_));
    }

  private:
    std::array<uint32_t, 256> count_{};
    double total_;
};

// The block's bytes with the candidate's cuts left out (cuts ascending and
// apart).
std::vector<uint8_t> withCuts(const std::vector<uint8_t>& bytes, const Candidate& c) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    uint32_t at = 0;
    for (uint8_t k = 0; k < c.count; ++k) {
        out.insert(out.end(), bytes.begin() + at, bytes.begin() + c.cuts[k].start);
        at = c.cuts[k].start + c.cuts[k].length;
    }
    out.insert(out.end(), bytes.begin() + at, bytes.end());
    return out;
}

// The maximal runs of two or more equal bytes behind the start code.
std::vector<Run> runsOf(const std::vector<uint8_t>& bytes) {
    std::vector<Run> runs;
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    for (uint32_t k = 4; k < n;) {
        uint32_t end = k + 1;
        while (end < n && bytes[end] == bytes[k]) ++end;
        if (end - k >= 2) runs.push_back({k, end - k, bytes[k]});
        k = end;
    }
    return runs;
}

// --- what the stream format can tell of a block's bytes ---------------------

// The marker bits of a pack header, MPEG-1 or MPEG-2: the header, when they
// are all set.
std::optional<PackHeader> soundPackHeader(ByteSpan b) {
    std::optional<PackHeader> h = parsePackHeader(b);
    if (h && !h->markersSet) h.reset();
    return h;
}

// The marker bits of a system header and the form of its stream entries.
bool systemHeaderParses(ByteSpan b) {
    const SystemHeader header(b);
    if (b.size() < SystemHeader::kFixedSize || !header.markersSet()) return false;
    for (size_t k = 0; header.hasEntry(k); ++k) {
        if (!header.entryFormed(k)) return false;
    }
    return true;
}

// The pack headers before and after a broken one: its mux rate (and MPEG-2
// stuffing) is theirs, and its clock lies between theirs.
struct PackContext {
    std::optional<PackHeader> before, after;
    uint32_t beforeSize = 0;  // the bytes of the one before

    bool fits(ByteSpan b) const {
        const std::optional<PackHeader> h = soundPackHeader(b);
        if (!h) return false;
        if (before) {
            if (h->mpeg2 != before->mpeg2 || h->muxRate != before->muxRate) return false;
            if (h->mpeg2 && (h->reserved != before->reserved || h->stuffing != before->stuffing))
                return false;
            if (h->scr < before->scr) return false;
        }
        return !after || h->scr <= after->scr;
    }
};

// Whether the block, cut, is what its header says it is: its size the
// declared one, its header whole.
bool headerParses(const std::vector<uint8_t>& b, int32_t declared, const StreamCodes& codes) {
    if (b.size() < 4 || static_cast<int64_t>(b.size()) != declared) return false;
    const uint32_t code = loadBE32(b.data());
    const BlockKind kind = codes.classify(code);
    const ByteSpan head(b.data(), std::min<size_t>(b.size(), kSystemHeaderReadSize));
    if (kind == BlockKind::Pack) {
        return soundPackHeader(b) &&
               codes.sizeOf(kind,
                            ByteSpan(b.data(), std::min<size_t>(b.size(), kMpeg2PackHeaderSize))) ==
                   declared;
    }
    if (kind == BlockKind::End) return true;
    if (b.size() < static_cast<size_t>(kLengthFieldEnd) || codes.sizeOf(kind, head) != declared) {
        return false;
    }
    if (kind == BlockKind::SystemHeader) return systemHeaderParses(b);
    if (kind == BlockKind::Packet) {
        return packetPayloadStart(b.data(), static_cast<uint32_t>(b.size())).has_value();
    }
    return true;
}

// --- the frame chain of an MPEG audio stream ---------------------------------

// Where a walk of frame headers through a payload ended: the offset at which
// the next frame header stands, counted from the payload's end (the bytes of
// the last frame the next packet holds); or the offset where a header was
// expected and none stands.
struct ChainWalk {
    bool whole = false;     // every header met was sound
    int64_t carry = 0;      // whole: next header's offset minus the payload's length
    uint32_t breaksAt = 0;  // not whole: where the missing header was expected
};

bool headerFits(const uint8_t* p, uint32_t& fixed, uint32_t& length) {
    const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(p);
    if (!h || (fixed != 0 && h->fixedBits != fixed)) return false;
    fixed = h->fixedBits;
    length = h->length;
    return true;
}

ChainWalk walkChain(const uint8_t* p, uint32_t n, uint32_t at, uint32_t fixed) {
    while (at + 4 <= n) {
        uint32_t length = 0;
        if (!headerFits(p + at, fixed, length)) return {false, 0, at};
        at += length;
    }
    return {true, static_cast<int64_t>(at) - n, 0};
}

// The first frame header of a payload whose next frame follows it (or lies
// beyond the payload's end).
std::optional<uint32_t> chainStart(const uint8_t* p, uint32_t n, uint32_t fixed) {
    for (uint32_t h = 0; h + 4 <= n; ++h) {
        uint32_t f = fixed, length = 0;
        if (p[h] != 0xFF || !headerFits(p + h, f, length)) continue;
        uint32_t next = 0;
        if (h + length + 4 > n || headerFits(p + h + length, f, next)) return h;
    }
    return std::nullopt;
}

// What the neighbouring packets of the same audio stream say of a packet's
// payload: where its first frame header stands (the rest of the frame the
// packet before began), and where the packet after has its first one. A
// header may be split between two packets: its bytes on the other side are
// kept to read it whole.
struct AudioContext {
    uint32_t fixed = 0;
    // The offset of the next header behind the packet before, counted from
    // this payload's start (-3 to -1 for a split header), and that packet's
    // last three bytes.
    std::optional<int64_t> carry;
    std::array<uint8_t, 3> before{};
    // The first header of the packet after, and that payload's first bytes.
    std::optional<uint32_t> nextFirst;
    std::array<uint8_t, 4> after{};
};

// The length of the frame whose header begins `split` (1 to 3) bytes before
// the end of `head`'s bytes and goes on in `tail`'s.
std::optional<uint32_t> splitFrameLength(const uint8_t* head, uint32_t split, const uint8_t* tail,
                                         uint32_t fixed) {
    uint8_t h[4];
    for (uint32_t k = 0; k < 4; ++k) h[k] = k < split ? head[k] : tail[k - split];
    uint32_t length = 0;
    if (!headerFits(h, fixed, length)) return std::nullopt;
    return length;
}

enum class ChainVerdict { Fits, Fails, Unknown };

// Where the payload's first frame header stands by the packet before: none
// when that packet did not tell, or a split header does not read.
std::optional<int64_t> firstHeaderOf(const uint8_t* p, uint32_t n, const AudioContext& ctx) {
    if (!ctx.carry || *ctx.carry >= 0) return ctx.carry;
    const uint32_t split = static_cast<uint32_t>(-*ctx.carry);
    if (n < 4) return std::nullopt;
    const std::optional<uint32_t> length =
        splitFrameLength(ctx.before.data() + 3 - split, split, p, ctx.fixed);
    if (!length) return std::nullopt;
    return *ctx.carry + *length;
}

// Whether the frame headers of a payload stand where its neighbours say.
ChainVerdict chainFits(const uint8_t* p, uint32_t n, const AudioContext& ctx) {
    std::optional<int64_t> carry;
    const std::optional<int64_t> first = firstHeaderOf(p, n, ctx);
    if (ctx.carry && !first) return ChainVerdict::Fails;
    if (first) {
        if (*first >= n) {
            carry = *first - n;
        } else {
            const ChainWalk w = walkChain(p, n, static_cast<uint32_t>(*first), ctx.fixed);
            if (!w.whole) return ChainVerdict::Fails;
            carry = w.carry;
        }
    } else if (const std::optional<uint32_t> h = chainStart(p, n, ctx.fixed)) {
        const ChainWalk w = walkChain(p, n, *h, ctx.fixed);
        if (!w.whole) return ChainVerdict::Fails;
        carry = w.carry;
    }
    if (!carry) return ChainVerdict::Unknown;
    if (!ctx.nextFirst) return first ? ChainVerdict::Fits : ChainVerdict::Unknown;
    int64_t expected = *carry;
    if (expected < 0) {
        // The last header is split: the packet after holds its rest.
        const uint32_t split = static_cast<uint32_t>(-expected);
        const std::optional<uint32_t> length =
            splitFrameLength(p + n - split, split, ctx.after.data(), ctx.fixed);
        if (!length) return ChainVerdict::Fails;
        expected += *length;
    }
    return expected == static_cast<int64_t>(*ctx.nextFirst) ? ChainVerdict::Fits
                                                            : ChainVerdict::Fails;
}

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
        if (r.action == RepairAction::LeftAlone) r.certainty = RepairCertainty::Unresolved;
        count(outcome_.summary, r);
        if (keepReport_) outcome_.repairs.push_back(r);
    }

    void finish() { lowerUpTo(table_.size()); }

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
            if (*sectorSize_ == 0 && usable()) sectorSize_ = learnSectorSize(view_).value_or(0);
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

    // A block's own bytes hold few long runs: each byte that repeats the one
    // before it costs what RepeatCosts says. The cut that leaves the block
    // cheapest is the likeliest: it saves the cost of the bytes it cuts,
    // less one byte's for a run it takes away whole (a run's first byte is
    // free) and one for two halves it joins. Every run beyond the first
    // costs a byte of 8 bits: damage seldom strikes one packet twice.
    static uint64_t rankOf(const Candidate& c) {
        constexpr int64_t kBest = int64_t{1} << 40;
        return static_cast<uint64_t>(kBest - c.gain);
    }

    // Cuts of `delta` bytes from one run at least that long, or from two or
    // three runs whose lengths add up to it, best ranked first.
    static std::vector<Candidate> runCandidates(const std::vector<uint8_t>& bytes, uint32_t delta,
                                                const RepeatCosts& repeatCost) {
        std::vector<Run> runs = runsOf(bytes);
        std::vector<Candidate> out;
        for (const Run& run : runs) {
            if (run.length < delta) continue;
            Candidate c;
            c.cuts[0] = {run.start + run.length - delta, delta, run.byte};
            c.count = 1;
            c.kept = run.length - delta;
            out.push_back(c);
        }
        std::sort(runs.begin(), runs.end(),
                  [](const Run& a, const Run& b) { return a.length > b.length; });
        if (runs.size() > kRunsCombined) runs.resize(kRunsCombined);
        const uint32_t mostKept = std::min(kMostKeptInSeveralRuns, std::max(2u, delta / 8));
        const auto add = [&](std::array<Run, 3> parts, uint8_t count) {
            uint64_t total = 0;
            for (uint8_t k = 0; k < count; ++k) {
                if (parts[k].length >= delta) return;  // one run alone would do
                total += parts[k].length;
            }
            if (total < delta || total - delta > mostKept) return;
            std::sort(parts.begin(), parts.begin() + count,
                      [](const Run& a, const Run& b) { return a.start < b.start; });
            // The payload's own bytes are kept in the last run.
            Candidate c;
            c.count = count;
            c.kept = static_cast<uint32_t>(total - delta);
            for (uint8_t k = 0; k < count; ++k) {
                const uint32_t keep = k + 1 == count ? c.kept : 0;
                if (keep >= parts[k].length) return;
                c.cuts[k] = {parts[k].start + keep, parts[k].length - keep, parts[k].byte};
            }
            out.push_back(c);
        };
        // The runs are longest first: once a pair or triple falls short of
        // the excess, every later one does too.
        for (size_t a = 0; a < runs.size(); ++a) {
            for (size_t b = a + 1; b < runs.size(); ++b) {
                const uint64_t two = uint64_t{runs[a].length} + runs[b].length;
                if (two >= delta) add({runs[a], runs[b], Run{}}, 2);
                for (size_t c = b + 1; c < runs.size(); ++c) {
                    if (two + runs[c].length < delta) break;
                    add({runs[a], runs[b], runs[c]}, 3);
                }
            }
        }
        for (Candidate& c : out) {
            c.gain = -8 * 16 * (c.count - 1);
            for (uint8_t k = 0; k < c.count; ++k) {
                const Cut& cut = c.cuts[k];
                const int64_t cost = repeatCost[bytes[cut.start]];
                c.gain += cost * cut.length;
                const uint32_t before = cut.start - 1, after = cut.start + cut.length;
                const bool whole = before >= 4 && bytes[before] != bytes[cut.start] &&
                                   (after >= bytes.size() || bytes[after] != bytes[cut.start]);
                if (!whole) continue;
                c.gain -= cost;
                if (after < bytes.size() && bytes[before] == bytes[after]) {
                    c.gain -= repeatCost[bytes[before]];
                }
            }
        }
        std::stable_sort(out.begin(), out.end(), [](const Candidate& a, const Candidate& b) {
            return rankOf(a) < rankOf(b);
        });
        return out;
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

    // Opens the input on the first read.
    bool usable() {
        if (!opened_) {
            opened_ = true;
            usable_ = view_.isOpen();
            if (!usable_) usable_ = closeAfter_ = view_.openFile(inputPath_);
        }
        return usable_;
    }

    bool read(Position offset, int32_t size, std::vector<uint8_t>& out) {
        if (size <= 0 || static_cast<uint32_t>(size) > kLargestSearched || !usable()) return false;
        out.resize(static_cast<size_t>(size));
        return view_.readPieces(
            offset, static_cast<Position>(size),
            [&](const uint8_t* bytes, uint32_t piece, Position done) {
                std::copy(bytes, bytes + piece, out.begin() + static_cast<ptrdiff_t>(done));
                return true;
            },
            StreamView::Fill::Near);
    }

    // Makes the cuts: the block then holds its declared size and is sound,
    // or, with sector fill behind it, is written with that fill.
    void apply(size_t index, BlockRecord& e, const Candidate& c, BlockRepair& r,
               const Shape& shape) {
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

RepairSummary summarize(const std::vector<BlockRepair>& repairs) {
    RepairSummary s;
    for (const BlockRepair& r : repairs) count(s, r);
    return s;
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
    }
    walk.finish();
    walk.close();
    progress.finished();
    return outcome;
}

}  // namespace mpg
