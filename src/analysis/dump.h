// The hex dump of a block: lines of offset, bytes in hexadecimal and the
// bytes as characters, 16, 24 or 32 bytes to a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "stream/procedures.h"

namespace mpg {

// How the character column shows the bytes from 0x80 up: as the Cyrillic
// code page shows them (the window's way: the text fields of streams made
// on such systems read as words), or each as "." (the command line's
// default: a stream's payload is mostly bytes above 0x7F, and a column of
// Cyrillic letters there is noise on a terminal of any other language).
enum class DumpCharset { Cp1251, Ascii };

// The character a byte shows as, in UTF-8: "." for 00, 09, 0A and 0D; the
// other control codes as their visible control pictures (a raw code would
// break the line or, on a terminal, start an escape sequence); bytes from
// 0x80 up as `charset` says.
std::string dumpChar(uint8_t byte, DumpCharset charset = DumpCharset::Cp1251);

// "000001E0 41 42 43 44 | ... ABCD....": the line's offset in 8 hex digits,
// each byte and a "|" after every fourth, spaces up to 3n + 2(n/4) + 9
// characters, then the characters.
std::vector<std::string> dumpLines(ByteSpan bytes, Position baseOffset, int perLine,
                                   DumpCharset charset = DumpCharset::Cp1251);

// A block's bytes as the dump shows them. A block of at most kDumpWhole
// bytes is shown whole (all in `head`); a longer one, such as a broken block
// that swallowed a hundred megabytes of zeros, by its first and last
// kDumpEdge bytes with a marked gap between: its lines would otherwise take
// gigabytes and minutes to make and no one could read them.
inline constexpr uint32_t kDumpEdge = 64 * 1024;
inline constexpr uint64_t kDumpWhole = 2 * kDumpEdge;

struct BlockDump {
    size_t index = 0;     // the block's BlockTable entry
    BlockRecord record;   // and what the table held for it
    Position offset = 0;  // stream position of the block's first byte
    // Where the block stands as its title names it: the stream position
    // unless the front end gives the input file's.
    Position titled = 0;
    Position length = 0;        // the block's length as shown
    std::vector<uint8_t> head;  // its first bytes
    std::vector<uint8_t> tail;  // its last bytes; empty when the block is shown whole

    // The bytes left out between head and tail.
    Position skipped() const { return length - head.size() - tail.size(); }
};

// What a dump marks in its block, as ranges of the block's bytes counted
// from its first: the bytes past its declared size (what the damage added)
// and its longest run of equal bytes (where a repair cuts). A block that is
// not broken has neither; ranges are clipped to the `length` shown, and the
// run comes last, so that it shows where the two meet.
enum class DumpMark : uint8_t { PastDeclaredSize, LongestRun };
struct DumpHighlight {
    DumpMark mark = DumpMark::LongestRun;
    Position from = 0;
    Position to = 0;  // one past the last byte
    bool operator==(const DumpHighlight&) const = default;
};
std::vector<DumpHighlight> dumpHighlights(const BlockRecord& record, Position length);

// Where byte `at` of the block (counted from its first byte, below
// dump.length) stands in the dump's lines at `perLine` bytes a line: the
// line, and the columns, in characters, of its first hex digit and of its
// character. A byte left out between head and tail is not shown: its line
// is the gap line.
struct DumpCell {
    size_t line = 0;
    size_t hexColumn = 0;
    size_t charColumn = 0;
    bool shown = false;
};
DumpCell dumpCellOf(const BlockDump& dump, int perLine, Position at);

// The entry whose block holds stream position `pos`: the last one that
// starts at or before it (entries lie in stream order). Nothing for an
// empty table or a position before its first block.
std::optional<size_t> blockHolding(const BlockTable& table, Position pos);

// The bytes of BlockTable entry `index` as the stream shows them through the
// cut list: the larger of its declared and real size, never more than the
// file can hold, read exactly (no read-ahead); bytes past the end of the
// file are zero. False when the entry does not exist, or the input cannot be
// opened or read, or is no longer the file scanned (`why`, when given, then
// says which and where).
[[nodiscard]] bool readBlockForDump(AppState& state, const std::string& inputPath, size_t index,
                                    BlockDump& out, Failure* why = nullptr);

}  // namespace mpg
