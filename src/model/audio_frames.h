// What the frames of the audio streams carry beyond the length their header
// tells: the CRC-16 an MPEG audio frame may carry, and the AC-3 frame header
// with the two CRCs every AC-3 frame carries. The MPEG audio frame header
// itself is read in model/headers.h.
#pragma once

#include <cstdint>
#include <optional>

#include "model/headers.h"

namespace mpg {

// The CRC-16 both formats use: the polynomial x^16 + x^15 + x^2 + 1
// (0x8005), the most significant bit first, over `bits` bits from `bytes`.
uint16_t crc16(uint16_t crc, const uint8_t* bytes, uint32_t bits);

// --- MPEG audio ---------------------------------------------------------------------

// The bits behind an MPEG audio frame's CRC field that the CRC covers: the
// side information in layer III, the bit allocation in layer I, the bit
// allocation and the scale factor selection in layer II (whose length
// depends on the allocations read). Nothing when the frame's `count` bytes
// do not hold them.
std::optional<uint32_t> audioProtectedBits(const AudioFrameHeader& header, const uint8_t* frame,
                                           uint32_t count);
// Whether a frame's CRC matches: the CRC-16 from 0xFFFF over the header's
// last two bytes and the protected bits equals the two bytes behind the
// header. True for a frame without a CRC, and for one too short to hold
// what its CRC covers (its chain tells about it).
bool audioCrcMatches(const AudioFrameHeader& header, const uint8_t* frame, uint32_t count);

// --- AC-3 ---------------------------------------------------------------------------

inline constexpr uint32_t kAc3HeaderBytes = 6;
inline constexpr uint32_t kAc3FrameSamples = 1536;

// An AC-3 frame header: the sync word 0x0B77, crc1, the sample rate code
// and frame size code in one byte, then the bit stream id (8 and below for
// AC-3; 9 and 10 halve and quarter the sample rate).
struct Ac3FrameHeader {
    uint32_t length = 0;  // the whole frame, in bytes
    uint32_t sampleRate = 0;
    uint8_t fscod = 0;
    uint8_t bsid = 0;
};
// The header at `bytes` (kAc3HeaderBytes of them); nothing without the sync
// word, with a reserved sample rate or frame size code, or another format's
// bit stream id.
std::optional<Ac3FrameHeader> parseAc3FrameHeader(const uint8_t* bytes);
// Whether an AC-3 frame (`length` bytes) matches both its CRCs: crc1 makes
// the CRC over the words behind the sync word up to 5/8 of the frame zero,
// crc2 that over all of them.
bool ac3CrcsMatch(const uint8_t* frame, uint32_t length);

}  // namespace mpg
