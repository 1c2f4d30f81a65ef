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
// `value`; `end` when there is none. A run of one byte (zeros that swallowed
// part of a block) is the damage the scan and the repair step over most:
// long ones are compared 64 bytes at a time, in the vector registers every
// target of the compiler has, the rest 8 at a time.
inline uint32_t endOfRun(const uint8_t* bytes, uint32_t from, uint32_t end, uint8_t value) {
    using Bytes16 = uint8_t __attribute__((vector_size(16)));
    const Bytes16 sixteen = Bytes16{} + value;
    for (; end - from >= 64; from += 64) {
        Bytes16 part[4];
        std::memcpy(part, bytes + from, 64);
        const Bytes16 differ =
            (part[0] ^ sixteen) | (part[1] ^ sixteen) | (part[2] ^ sixteen) | (part[3] ^ sixteen);
        uint64_t lanes[2];
        std::memcpy(lanes, &differ, 16);
        if ((lanes[0] | lanes[1]) != 0) break;
    }
    const uint64_t eight = 0x0101010101010101ULL * value;
    for (; end - from >= 8; from += 8) {
        if (const uint64_t differ = loadLE64(bytes + from) ^ eight) {
            return from + static_cast<uint32_t>(std::countr_zero(differ) / 8);
        }
    }
    while (from < end && bytes[from] == value) ++from;
    return from;
}

// The first position from `from` on, before `end`, where the bytes 00 00 01
// begin, the prefix of every start code; `end` when there is none. The
// bytes up to end + 2 are read. The search runs over the 01 bytes, which
// memchr finds many times faster than a search for all three; a run of 01
// bytes is stepped over at once, as only its first byte can end a prefix.
inline uint32_t nextStartCodePrefix(const uint8_t* bytes, uint32_t from, uint32_t end) {
    for (uint32_t at = from + 2; at < end + 2;) {
        const void* one = std::memchr(bytes + at, 1, end + 2 - at);
        if (one == nullptr) break;
        at = static_cast<uint32_t>(static_cast<const uint8_t*>(one) - bytes);
        if (bytes[at - 1] == 0 && bytes[at - 2] == 0) return at - 2;
        at = endOfRun(bytes, at + 1, end + 2, 1);
    }
    return end;
}

// The longest run of equal bytes in bytes taken piece by piece: those a
// scan steps over while it searches for the end of a broken block, and a
// block the repair measures anew. The search starts as if inside a run of
// zero bytes of length 0, so that a run of zeros at its start is counted
// from its first byte; a run becomes the longest only when it is strictly
// longer, so of two equally long runs the earlier one wins.
class LongestRun {
  public:
    struct Run {
        uint8_t byte = 0;
        uint64_t length = 0;
        uint64_t start = 0;  // the position of its first byte
    };

    // A new search whose first byte is at `at`. A search that takes no
    // byte gives that position as its run's start.
    void restart(uint64_t at) { current_ = longest_ = {0, 0, at}; }
    // `count` bytes, the first at position `at`, right behind those taken
    // before.
    void take(const uint8_t* bytes, uint32_t count, uint64_t at);
    // The run of the last byte taken (before any: the empty run of zeros).
    const Run& current() const { return current_; }
    // The last `count` bytes of the current run (at most its length) are no
    // part of the search after all (the sector fill that ends it).
    void dropFromCurrent(uint64_t count) { current_.length -= count; }
    // The longest run so far, the current one included.
    Run longest() const { return current_.length > longest_.length ? current_ : longest_; }

    // The longest run's length from which the rest is searched by probes
    // rather than byte by byte.
    static constexpr uint64_t kSkipFrom = 48;

  private:
    static void skipShortRuns(const uint8_t* bytes, uint32_t s, uint32_t count, uint64_t at,
                              Run& current, Run& longest);

    Run current_;
    Run longest_;
};

// A whole decimal number: an optional single leading '-', then only digits.
// A lone "-" passes (no digit is required after the sign); "" does not.
bool isDecimal(std::string_view text);

// Percentage of `pos` in `size` as every job computes it, in unsigned 32-bit
// integer division: pos * 100 / size up to a size of 1000, pos / (size / 100)
// above. Above 1000 the result may exceed 100 (1098 of 1099 gives 109).
uint32_t progressPercent(uint64_t pos, uint64_t size);

}  // namespace mpg
