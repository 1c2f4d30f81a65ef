// The findings section of the index file: what the checks of the content
// found, kept behind the block records in records of a mark of their own,
// so that an index without findings stays the table's records alone and a
// loader that knows no such mark refuses the file instead of misreading it
// (docs/index-format.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/block_table.h"
#include "model/finding.h"

namespace mpg {

// The mark of the record that opens the findings section: start code 0,
// declared size the number of findings, all else 0. No block carries it.
inline constexpr uint8_t kFindingsMark = 'f';

// A finding takes the place of two records of the file's size, whatever
// that is: the file stays whole records, and the wide header counts them.
inline constexpr size_t kFindingRecords = 2;
// The bytes of a finding's own fields; the rest of its two records is 0.
inline constexpr size_t kFindingBytes = 40;

bool isFindingsOpening(const BlockRecord& record);
// The opening record of a section of `count` findings; nothing when the
// count is past what its 32-bit field holds.
std::optional<BlockRecord> findingsOpening(size_t count);
// The number of findings an opening record announces; nothing when its
// other fields are not 0 or it announces none.
std::optional<size_t> findingsAnnounced(const BlockRecord& opening);

// A finding into the `entrySize` bytes at `out` (kFindingRecords records),
// and back; nothing for bytes no save writes: an unknown kind or cause, a
// range outside the `streamSize` bytes of the stream or reversed, a time
// before kNoTime, or bytes past the fields that are not 0.
void encodeFinding(const Finding& finding, uint8_t* out, size_t entrySize);
std::optional<Finding> decodeFinding(const uint8_t* in, size_t entrySize, Position streamSize);

}  // namespace mpg
