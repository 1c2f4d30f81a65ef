// The parts of the automatic repair (see auto_repair.h): the candidate
// cuts of a broken block and their ranking (auto_repair_candidates.cpp),
// the checks a block with a cut must pass, what the stream format and the
// neighbouring blocks tell of its bytes (auto_repair_checks.cpp), and the
// walk over the listed blocks that plans each one's repair (auto_repair.cpp).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/block_table.h"
#include "model/headers.h"

namespace mpg::autorepair {

// --- candidate cuts ---------------------------------------------------------------

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
std::vector<uint8_t> withCuts(const std::vector<uint8_t>& bytes, const Candidate& c);
// The maximal runs of two or more equal bytes behind the start code.
std::vector<Run> runsOf(const std::vector<uint8_t>& bytes);
// The rank of a candidate: the lower, the likelier (see auto_repair_candidates.cpp).
uint64_t rankOf(const Candidate& c);
// Cuts of `delta` bytes from one run at least that long, or from two or
// three runs whose lengths add up to it, best ranked first.
std::vector<Candidate> runCandidates(const std::vector<uint8_t>& bytes, uint32_t delta,
                                     const RepeatCosts& repeatCost);

// --- what the stream format can tell of a block's bytes -----------------------------

// A pack header whose marker bits are all set, MPEG-1 or MPEG-2.
std::optional<PackHeader> soundPackHeader(ByteSpan b);

// The pack headers before and after a broken one: its mux rate (and MPEG-2
// stuffing) is theirs, and its clock lies between theirs.
struct PackContext {
    std::optional<PackHeader> before, after;
    uint32_t beforeSize = 0;  // the bytes of the one before

    // Whether a pack header, whole, has its neighbours' fields and a clock
    // between theirs.
    bool fits(ByteSpan b) const;
};

// Whether the block, cut, is what its header says it is: its size the
// declared one, its header whole.
bool headerParses(const std::vector<uint8_t>& b, int32_t declared, const StreamCodes& codes);

// --- the frame chain of an MPEG audio stream -----------------------------------------

// Where a walk of frame headers through a payload ended: the offset at which
// the next frame header stands, counted from the payload's end (the bytes of
// the last frame the next packet holds); or the offset where a header was
// expected and none stands.
struct ChainWalk {
    bool whole = false;     // every header met was sound
    int64_t carry = 0;      // whole: next header's offset minus the payload's length
    uint32_t breaksAt = 0;  // not whole: where the missing header was expected
};

// Walks the frame headers of a payload of `n` bytes from `at` on, each with
// the fixed bits `fixed` (any, when 0).
ChainWalk walkChain(const uint8_t* p, uint32_t n, uint32_t at, uint32_t fixed);
// The first frame header of a payload whose next frame follows it (or lies
// beyond the payload's end).
std::optional<uint32_t> chainStart(const uint8_t* p, uint32_t n, uint32_t fixed);

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

enum class ChainVerdict { Fits, Fails, Unknown };

// Where the payload's first frame header stands by the packet before: none
// when that packet did not tell, or a split header does not read.
std::optional<int64_t> firstHeaderOf(const uint8_t* p, uint32_t n, const AudioContext& ctx);
// Whether the frame headers of a payload stand where its neighbours say.
ChainVerdict chainFits(const uint8_t* p, uint32_t n, const AudioContext& ctx);

}  // namespace mpg::autorepair
