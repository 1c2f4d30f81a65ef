// A finding: damage that the scan or a check of the content found, with
// what kind of damage it is, the stream it touches, its range in the stream
// and the time it touches. A walk from block to block sees only broken
// blocks; the checks of the content (the clocks, the elementary streams, a
// decoder) see damage that leaves every block whole: bytes lost whole
// sectors at a time, zeros where packets were, payload bytes changed. Each
// finding is kept as numbers; the front ends name its kind and cause.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "stream/position.h"

namespace mpg {

// What a finding is, as a user sorts damage.
enum class FindingKind : uint8_t {
    BrokenBlock,    // a block whose declared size leads to no block (the scan's rows)
    Junk,           // bytes that are no part of the stream: a tag, a partial sector
    Hole,           // zeros where packets belong
    Gap,            // bytes lost: a clock or a stream's frames skip
    PayloadDamage,  // an elementary stream's frames do not parse or fail their check
    FaultySector,   // a rip's sector whose header or checksum is wrong
    DecodeError,    // the decoder reported an error in the frames there
};
inline constexpr int kFindingKinds = 7;

// The fixed name of a kind, as scripts and the list's filter take it
// ("block", "junk", "hole", "gap", "payload", "sector", "decode"): it stays
// whatever the texts the front ends show; and the kind a name stands for.
const char* findingKindName(FindingKind kind);
std::optional<FindingKind> findingKindNamed(std::string_view name);

// Why a check made its finding: the detail a row's tooltip and the report
// explain.
enum class FindingCause : uint8_t {
    None,
    LeadingJunk,        // bytes in front of the first pack header a sound walk follows
    TrailingJunk,       // bytes behind the last block: a tag, bytes past the end code
    ScrAhead,           // an SCR ahead of the time the bytes before it take at the mux rate
    ScrBehind,          // more bytes than the mux rate carries in the SCR's time
    StampJump,          // a stream's PTS or DTS skips ahead of its frames
    StampBack,          // a stream's PTS or DTS goes back
    ZeroRun,            // zero bytes that a stream's clock or frames skip across
    AudioChain,         // an MPEG audio frame's length does not lead to the next header
    AudioCrc,           // an MPEG audio frame's CRC-16 does not match
    Ac3Sync,            // an AC-3 frame's size does not lead to the next sync word
    Ac3Crc,             // an AC-3 frame's CRC does not match
    VideoOrder,         // video start codes out of their order
    SliceOrder,         // a slice's vertical position goes back or past the picture
    TemporalReference,  // a picture's temporal reference breaks the count
    Decoder,            // the decoder's own error
    SectorFault,        // a rip's sector header or EDC
    Stop,               // past here nothing was checked: a stopped scan
};
// One past the last cause: it names the cause appended last.
inline constexpr int kFindingCauses = static_cast<int>(FindingCause::Stop) + 1;

// The fixed name of a cause for scripts: "leading_junk", "scr_ahead", ...
const char* findingCauseName(FindingCause cause);

// Time is counted in ticks of the 90 kHz system clock from the stream's
// first clock; kNoTime where no clock tells it.
inline constexpr int64_t kNoTime = -1;

struct Finding {
    Position begin = 0;  // the first byte, in stream positions
    Position end = 0;    // one past the last
    int64_t timeFrom = kNoTime;
    int64_t timeTo = kNoTime;
    uint32_t frames = 0;  // frames (video pictures, audio frames) touched; 0 unknown
    FindingKind kind = FindingKind::BrokenBlock;
    FindingCause cause = FindingCause::None;
    // The stream: the last byte of its packets' start code (0xE0, 0xC0,
    // 0xBD, ...), 0 for the system layer (packs, junk); and the substream
    // of a private stream 1 (0x80 for the first AC-3 stream), else 0.
    uint8_t stream = 0;
    uint8_t substream = 0;

    bool operator==(const Finding&) const = default;
};

// The findings of one stream, in the order they were found. A damaged file
// may repeat the same damage in every packet of a stream: a finding that
// continues the last one of its kind, cause and stream within kMergeDistance
// bytes extends it instead of taking a row of its own, so that the list
// stays a list a user reads, and its memory stays small beside the table.
class FindingList {
  public:
    static constexpr Position kMergeDistance = 4096;

    void add(const Finding& finding);
    const std::vector<Finding>& items() const { return items_; }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear() { items_.clear(); }
    // The list as it was kept (an index file's): taken as it is, nothing
    // merged.
    void assign(std::vector<Finding> items) { items_ = std::move(items); }
    void dropLast() { items_.pop_back(); }
    // The findings ordered by their first byte (a stable sort: those that
    // begin together keep the order they were found in).
    void sortByPosition();
    // How many findings there are of each kind.
    std::vector<size_t> countByKind() const;

  private:
    std::vector<Finding> items_;
};

}  // namespace mpg
