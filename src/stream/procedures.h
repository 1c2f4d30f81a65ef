// Field readers and number text shared by the scan, the repair strategies, the
// writer and the join.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace mpg {

using ByteSpan = std::span<const uint8_t>;

// Big-endian readers. They never read outside the span: a span too short for
// the field gives false and leaves `out` as it was.
bool readBE32(ByteSpan bytes, size_t index, uint32_t& out);
bool readBE16(ByteSpan bytes, size_t index, uint16_t& out);

// Unchecked big-endian loads for hot paths whose caller has sized the bytes.
inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint16_t loadBE16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Eight bytes as one word, the byte first in memory lowest.
inline uint64_t loadLE64(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// The bytes of `word` that are zero, each marked by its top bit. A byte above
// a zero byte may be marked as well, but never one below the lowest: the
// lowest mark is exact.
constexpr uint64_t zeroBytes(uint64_t word) {
    return (word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL;
}

// The bytes of `word` equal to the byte before them (`before` for the
// lowest), marked as zeroBytes marks.
constexpr uint64_t repeatedBytes(uint64_t word, uint8_t before) {
    return zeroBytes(word ^ (word << 8 | before));
}

// How many of a word's bytes, from the lowest, come before its lowest mark:
// 8 when none is marked.
constexpr uint32_t beforeFirstMark(uint64_t marks) {
    return marks == 0 ? 8 : static_cast<uint32_t>(std::countr_zero(marks) / 8);
}

// The first position from `from` on, before `end`, whose byte is not
// `value`; `end` when there is none. Eight bytes are compared at a time: a
// run of one byte (zeros that swallowed part of a block) is the damage the
// scan and the repair step over most.
inline uint32_t endOfRun(const uint8_t* bytes, uint32_t from, uint32_t end, uint8_t value) {
    const uint64_t eight = 0x0101010101010101ULL * value;
    for (; end - from >= 8; from += 8) {
        if (const uint64_t differ = loadLE64(bytes + from) ^ eight) {
            return from + static_cast<uint32_t>(std::countr_zero(differ) / 8);
        }
    }
    while (from < end && bytes[from] == value) ++from;
    return from;
}

// A whole decimal number: an optional single leading '-', then only digits.
// A lone "-" passes (no digit is required after the sign); "" does not.
bool isDecimal(std::string_view text);

// Puts an apostrophe between groups of three characters, counted from the
// right: "1234567" -> "1'234'567". The text is counted, not interpreted.
std::string groupDigits(std::string_view digits);

// Percentage of `pos` in `size` as every job computes it, in unsigned 32-bit
// integer division: pos * 100 / size up to a size of 1000, pos / (size / 100)
// above. Above 1000 the result may exceed 100 (1098 of 1099 gives 109).
uint32_t progressPercent(uint64_t pos, uint64_t size);

// "1'234 >> 5'678": the progress text of the scan and the save.
std::string progressOf(uint64_t pos, uint64_t total);

}  // namespace mpg
