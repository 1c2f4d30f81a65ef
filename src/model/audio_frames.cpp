#include "model/audio_frames.h"

#include <algorithm>
#include <array>

namespace mpg {

namespace {

constexpr uint16_t kCrcPolynomial = 0x8005;

// Tables for sixteen bytes at a time: table k gives the CRC of a byte
// followed by k zero bytes, so that the sixteen bytes' parts are looked up
// side by side instead of one after the other (an AC-3 stream runs every
// byte through the CRC).
using CrcTables = std::array<std::array<uint16_t, 256>, 16>;
constexpr CrcTables makeCrcTables() {
    CrcTables tables{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ kCrcPolynomial : crc << 1;
        }
        tables[0][byte] = static_cast<uint16_t>(crc);
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            const uint16_t before = tables[k - 1][byte];
            tables[k][byte] = static_cast<uint16_t>((before << 8) ^ tables[0][before >> 8]);
        }
    }
    return tables;
}
constexpr CrcTables kCrcTables = makeCrcTables();

// Reads bits from the most significant on; past the end it reads zeros and
// says so.
class BitReader {
  public:
    BitReader(const uint8_t* bytes, uint32_t count) : bytes_(bytes), bits_(count * 8) {}
    uint32_t read(uint32_t n) {
        uint32_t value = 0;
        for (uint32_t k = 0; k < n; ++k, ++at_) {
            const uint32_t bit = at_ < bits_ ? (bytes_[at_ >> 3] >> (7 - (at_ & 7))) & 1 : 0;
            value = (value << 1) | bit;
        }
        return value;
    }
    uint32_t position() const { return at_; }
    bool overrun() const { return at_ > bits_; }

  private:
    const uint8_t* bytes_;
    uint32_t bits_;
    uint32_t at_ = 0;
};

// The layer II allocation tables: how many subbands carry an allocation
// and how many bits each allocation has. MPEG-1 picks one of four by the
// sample rate and the bit rate per channel; the lower sample rates of
// MPEG-2 have a table of their own.
struct AllocationTable {
    uint32_t subbands;
    std::array<uint8_t, 4> runs;  // subbands with 4, 3 and 2 bits, in that order
};
AllocationTable layer2Table(const AudioFrameHeader& h, uint32_t channels) {
    if (!h.mpeg1) return {30, {4, 7, 19, 0}};
    const uint32_t perChannel = h.bitRate / channels;
    if ((h.sampleRate == 48000 && perChannel >= 56) || (perChannel >= 56 && perChannel <= 80)) {
        return {27, {11, 12, 4, 0}};
    }
    if (h.sampleRate != 48000 && perChannel >= 96) return {30, {11, 12, 7, 0}};
    if (h.sampleRate != 32000 && perChannel <= 48) return {8, {2, 6, 0, 0}};
    return {12, {2, 10, 0, 0}};
}
uint32_t allocationBits(const AllocationTable& table, uint32_t subband) {
    const uint32_t withFour = table.runs[0], withThree = withFour + table.runs[1];
    return subband < withFour ? 4 : subband < withThree ? 3 : 2;
}

// The subbands up to which the channels of a joint stereo frame are coded
// apart (from there on they share their samples).
uint32_t jointBound(const AudioFrameHeader& h, uint32_t subbands) {
    if (h.mode != 1) return subbands;
    return std::min<uint32_t>(subbands, 4u * (h.modeExtension + 1u));
}

std::optional<uint32_t> layer2ProtectedBits(const AudioFrameHeader& h, const uint8_t* data,
                                            uint32_t count) {
    const uint32_t channels = h.mode == 3 ? 1 : 2;
    const AllocationTable table = layer2Table(h, channels);
    const uint32_t bound = jointBound(h, table.subbands);
    BitReader bits(data, count);
    uint32_t allocated = 0;  // allocations that are not zero: each has a scale factor selection
    for (uint32_t sb = 0; sb < table.subbands; ++sb) {
        const uint32_t n = allocationBits(table, sb);
        const uint32_t coded = sb < bound ? channels : 1;
        // Above the bound one allocation stands for both channels.
        const uint32_t weight = sb < bound ? 1 : channels;
        for (uint32_t ch = 0; ch < coded; ++ch) {
            if (bits.read(n) != 0) allocated += weight;
        }
    }
    if (bits.overrun()) return std::nullopt;
    const uint32_t total = bits.position() + 2 * allocated;
    if (total > count * 8) return std::nullopt;
    return total;
}

}  // namespace

uint16_t crc16(uint16_t crc, const uint8_t* bytes, uint32_t bits) {
    const uint32_t whole = bits / 8;
    const auto& t = kCrcTables;
    uint32_t k = 0;
    for (; k + 16 <= whole; k += 16) {
        const uint8_t* p = bytes + k;
        crc = static_cast<uint16_t>(
            t[15][p[0] ^ (crc >> 8)] ^ t[14][p[1] ^ (crc & 0xFF)] ^ t[13][p[2]] ^ t[12][p[3]] ^
            t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^
            t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]]);
    }
    for (; k < whole; ++k) {
        crc = static_cast<uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ bytes[k]) & 0xFF]);
    }
    for (uint32_t k = 0; k < bits % 8; ++k) {
        const uint32_t bit = (bytes[whole] >> (7 - k)) & 1;
        const bool top = ((crc >> 15) & 1) != bit;
        crc = static_cast<uint16_t>(crc << 1);
        if (top) crc ^= kCrcPolynomial;
    }
    return crc;
}

std::optional<uint32_t> audioProtectedBits(const AudioFrameHeader& header, const uint8_t* frame,
                                           uint32_t count) {
    constexpr uint32_t kDataAt = 6;  // the header and its CRC field
    if (count < kDataAt) return std::nullopt;
    const uint32_t channels = header.mode == 3 ? 1 : 2;
    uint32_t bits = 0;
    if (header.layer == 3) {
        // The side information: 17 or 32 bytes in MPEG-1, 9 or 17 below.
        bits = 8 * (header.mpeg1 ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17));
    } else if (header.layer == 1) {
        // Four bits of allocation per subband and channel, one for both
        // channels above the joint stereo bound.
        const uint32_t bound = jointBound(header, 32);
        bits = 4 * (bound * channels + (32 - bound));
    } else {
        return layer2ProtectedBits(header, frame + kDataAt, count - kDataAt);
    }
    if (kDataAt * 8 + bits > count * 8) return std::nullopt;
    return bits;
}

bool audioCrcMatches(const AudioFrameHeader& header, const uint8_t* frame, uint32_t count) {
    if (!header.crc) return true;
    const std::optional<uint32_t> bits = audioProtectedBits(header, frame, count);
    if (!bits) return true;
    uint16_t crc = crc16(0xFFFF, frame + 2, 16);
    crc = crc16(crc, frame + 6, *bits);
    return crc == loadBE16(frame + 4);
}

std::optional<Ac3FrameHeader> parseAc3FrameHeader(const uint8_t* bytes) {
    if (bytes[0] != 0x0B || bytes[1] != 0x77) return std::nullopt;
    const uint8_t fscod = bytes[4] >> 6;
    const uint8_t frmsizecod = bytes[4] & 0x3F;
    const uint8_t bsid = bytes[5] >> 3;
    if (fscod == 3 || frmsizecod > 37 || bsid > 10) return std::nullopt;
    // Kilobits per second, two frame size codes each; the words of a frame
    // are 1536 samples' worth of the bit rate, whole at 48 and 32 kHz, and
    // at 44.1 kHz rounded down, the odd code one word more.
    static constexpr std::array<uint16_t, 19> kRates = {
        32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    static constexpr std::array<uint32_t, 3> kSampleRates = {48000, 44100, 32000};
    const uint32_t rate = kRates[frmsizecod >> 1];
    uint32_t words = rate * 96000 / kSampleRates[fscod];
    if (fscod == 1) words += frmsizecod & 1;
    Ac3FrameHeader h;
    h.length = words * 2;
    h.sampleRate = kSampleRates[fscod] >> (bsid > 8 ? bsid - 8 : 0);
    h.fscod = fscod;
    h.bsid = bsid;
    return h;
}

bool ac3CrcsMatch(const uint8_t* frame, uint32_t length) {
    const uint32_t words = length / 2;
    const uint32_t fiveEighths = (words >> 1) + (words >> 3);
    const uint16_t first = crc16(0, frame + 2, (fiveEighths * 2 - 2) * 8);
    if (first != 0) return false;
    // The CRC over the first part is zero, so the whole frame's CRC goes
    // on from zero: the rest alone must come to zero.
    return crc16(0, frame + fiveEighths * 2, (length - fiveEighths * 2) * 8) == 0;
}

}  // namespace mpg
