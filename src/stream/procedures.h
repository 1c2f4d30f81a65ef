// Field readers and number text shared by the scan, the repair strategies, the
// writer and the join.
#pragma once

#include <cstdint>
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
