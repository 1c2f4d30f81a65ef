// The error list's filter, as the window's filter field takes it. A user
// with thousands of broken blocks looks for one kind at a time: the video
// stream's, those that swallowed the most bytes, those whose run is zeros
// (a drop-out) rather than another byte (a stray copy). The filter only
// chooses the rows shown; the list, and what a repair takes, stay whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/block_table.h"
#include "model/finding.h"

namespace mpg {

// Words separated by spaces, commas or semicolons, case aside:
//   E0  BD  C0-C1  1BA  000001E0   a code or a range of codes; one or two hex
//                                  digits stand for 000001xx; several codes:
//                                  any of them
//   d>=100  d<0  d=300             the delta against a number (>=, <=, >, <, =);
//                                  several: all of them
//   r=00  r=00-1F                  the byte of the longest run; several: any
//   block junk hole gap payload    the kind of damage (findingKindName);
//   sector decode                  several: any of them
// Every kind of word given must hold. The delta and the run are known only
// once a block's search has ended: a row without them passes neither, and
// neither does a finding's row, which names no block. A finding's stream
// stands for its code (E0 for 000001E0); one of the system layer has none.
struct RowFilter {
    struct Range {
        uint32_t low = 0;
        uint32_t high = 0;
        bool holds(uint32_t v) const { return low <= v && v <= high; }
    };
    std::vector<Range> codes;
    std::vector<Range> runBytes;
    std::vector<FindingKind> kinds;
    // Inclusive bounds of the delta.
    std::optional<int64_t> deltaLow;
    std::optional<int64_t> deltaHigh;

    bool empty() const {
        return codes.empty() && runBytes.empty() && kinds.empty() && !deltaLow && !deltaHigh;
    }
    // A broken block's row, and a finding's.
    bool accepts(const BlockRecord& record, bool resolved) const;
    bool accepts(const Finding& finding) const;
};

// Why a word was refused: none of the kinds above, or a range of codes
// whose ends are written one short (xx, for 000001xx) and one long, so that
// the order as written and the order of the codes disagree ("1C0-E0": 1C0
// is past E0 as written, before 000001E0 as a code). Taking either order
// would choose for the user; the range both orders give is empty.
enum class FilterFault { NotUnderstood, MixedRange };

// The filter a text asks for; nothing, with the first word refused in
// `badWord` and why in `fault`, when a word is none of the above.
std::optional<RowFilter> parseRowFilter(std::string_view text, std::string* badWord = nullptr,
                                        FilterFault* fault = nullptr);

}  // namespace mpg
