// The start code search for coded video. Its bytes hold a 01 byte every few
// dozen bytes, so the search of procedures.h, which lets memchr find each
// 01 byte and then looks behind it, stops too often there: this one tests
// 32 places at a time for the three bytes 00 00 01 at once, in the vector
// registers every target of the compiler has.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace mpg {

// The first position from `from` on, before `end`, where the bytes 00 00 01
// begin; `end` when there is none. The bytes up to end + 2 are read, as
// nextStartCodePrefix reads them.
inline uint32_t nextStartCodePrefixDense(const uint8_t* bytes, uint32_t from, uint32_t end) {
    using Bytes16 = uint8_t __attribute__((vector_size(16)));
    // The places of 16 bytes from `at` on where a prefix begins, marked.
    const auto prefixes = [bytes](uint32_t at) {
        Bytes16 first, second, third;
        std::memcpy(&first, bytes + at, 16);
        std::memcpy(&second, bytes + at + 1, 16);
        std::memcpy(&third, bytes + at + 2, 16);
        return ((first | second) == 0) & (third == 1);
    };
    if (from >= end) return end;
    uint32_t at = from;
    for (; end - at >= 32; at += 32) {
        const auto low = prefixes(at), high = prefixes(at + 16);
        uint64_t lanes[4];
        std::memcpy(lanes, &low, 16);
        std::memcpy(lanes + 2, &high, 16);
        if ((lanes[0] | lanes[1] | lanes[2] | lanes[3]) == 0) continue;
        for (uint32_t k = 0; k < 4; ++k) {
            if (lanes[k] != 0)
                return at + 8 * k + static_cast<uint32_t>(std::countr_zero(lanes[k]) / 8);
        }
    }
    for (; at < end; ++at) {
        if (bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1) return at;
    }
    return end;
}

}  // namespace mpg
