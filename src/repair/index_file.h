// The error index file: the whole block table saved beside the input, so a
// long scan need not be repeated (docs/index-format.md). For an input under
// 4 GiB the file is the table's 26-byte records back to back, in table
// order, with no header, count or checksum; an empty table gives an empty
// file. An input of 4 GiB or more, whose offsets need more than 32 bits, gets
// the wide format: a 32-byte header (a magic text, the version, the record
// size, the input's size and the number of records), then 30-byte records
// with 64-bit offsets.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "model/block_table.h"
#include "stream/failure.h"

namespace mpg {

// NAME.index, in the folder the input's other derived files go into
// (derivedFolderFor): beside the input, or in the current folder.
std::string indexFileName(const std::string& input);

enum class IndexFormat { Classic, Wide };

inline constexpr std::array<uint8_t, 8> kWideIndexMagic = {'M', 'P', 'G', 'I', 'N', 'D', 'E', 'X'};
inline constexpr uint32_t kWideIndexVersion = 2;
inline constexpr size_t kWideIndexHeaderSize = 32;
// The largest input whose every offset the classic records hold.
inline constexpr Position kLargestClassicInput = 0xFFFF'FFFF;
// The mark of the record that closes the index of a scan stopped before the
// end of the file: start code 0, offset where the scan stopped, all else 0.
// No block carries it, and a loader that does not know it refuses the file
// as damaged instead of taking the table for the whole stream's.
inline constexpr uint8_t kStoppedScanMark = 's';

// The format an index of an input of `inputSize` bytes is written in.
IndexFormat indexFormatFor(Position inputSize);

// Writes every entry to `path` through OutputFile, so the file takes its
// name only once it is whole: a failed save leaves the index that was there
// before, never a shorter table that would load as the whole one. The format
// is the one for an input of `inputSize` bytes unless `format` is given; a
// classic index refuses an offset past 32 bits (EFBIG). An index that would
// be one of `inputs` (the stream it describes), by whatever link, is refused
// (OutputIsInput). The checks' `findings`, when there are any, follow the
// block records in a section of their own. The table of a scan that was `stopped` is written up to
// its last finished entry (a broken block whose search the stop cut short has
// no end yet) and closed by the stopped scan's record. A `stop` flag set
// before the file takes its name stops the save (Stopped): the index that was
// there stays. Returns why it failed; none after success.
Failure saveIndexFile(const BlockTable& table, const std::string& path,
                      const std::vector<std::string>& inputs, Position inputSize = 0,
                      std::optional<IndexFormat> format = std::nullopt, bool stopped = false,
                      const std::atomic<bool>* stop = nullptr,
                      const std::vector<Finding>& findings = {});

// How an index file is to be taken: whether the index of a stopped scan
// may be loaded (to be continued), and whether it was one.
struct IndexLoadOptions {
    bool takeStopped = false;
    bool* stopped = nullptr;
};

// Loads the index file `path` written for the input `inputPath`. The records
// are taken only when all of them fit that input as a scan of it would have
// written them: the first where the stream begins (under the sound rules
// behind the junk in front of it), each next one where the one before
// ends (its declared size, or its real size when broken), every one inside
// the file, its start code standing at its offset and its declared size
// being what that header states, and the runs of broken blocks lying inside
// them; and the findings of a section behind them only when each lies
// inside the stream and is of a kind and cause known, and the sound rules
// read the stream (the strict walk makes no findings). A foreign or damaged file would otherwise
// have the repair cut real data. Then state.table is replaced, state.findings set to the section's
// findings (none without one), and state.codes set to the stream codes in force at the table's end,
// as the scan leaves them for the writer. The records are read twice, to be checked and then to be
// kept, and never held twice: the table the state held before is given up only once they are found
// good, and the new one is filled in place. On any other outcome both are left as they were, but
// for an index file that can no longer be read, or no longer holds the same bytes, when it is read
// the second time: the table is then empty. The failure names the index file when it is missing
// (NoIndex), cannot be opened (OpenFailed, NotRegular) or is refused
// (BadIndex: empty, not whole records, a wide header that is not ours or
// names an input of another size, records that do not fit the input, or a
// file that changed between its two readings; StoppedScan: the index of a
// stopped scan, unless options.takeStopped); it is the input's own when the
// input could not be opened or read to check the records, or the index file
// could not be read (ReadFailed).
Failure loadIndexFile(const std::string& path, const std::string& inputPath, AppState& state,
                      IndexLoadOptions options = {});

}  // namespace mpg
