#include "model/elementary.h"

#include <array>

#include "stream/start_codes.h"

namespace mpg {

namespace {

// A time stamp of 5 bytes begins with the 4-bit prefix given and has its
// three marker bits set.
bool timeStampAt(const uint8_t* p, uint8_t prefix) {
    return (p[0] >> 4) == prefix && (p[0] & 1) == 1 && (p[2] & 1) == 1 && (p[4] & 1) == 1;
}

// Stream ids whose packets have no header past the length field.
bool hasNoHeader(uint8_t id) {
    return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xF2 ||
           id == 0xF8 || id == 0xFF;
}

}  // namespace

std::optional<uint32_t> packetPayloadStart(const uint8_t* bytes, uint32_t count) {
    const std::optional<PacketHeaderLayout> layout = parsePacketHeader(bytes, count);
    if (!layout) return std::nullopt;
    return layout->payloadStart;
}

std::optional<PacketHeaderLayout> parsePacketHeader(const uint8_t* bytes, uint32_t count) {
    if (count < static_cast<uint32_t>(kLengthFieldEnd)) return std::nullopt;
    if (hasNoHeader(bytes[3])) return PacketHeaderLayout{kLengthFieldEnd, 0, 0};
    uint32_t p = kLengthFieldEnd;
    if (p < count && (bytes[p] >> 6) == 2) {
        // MPEG-2: two flag bytes and the length of the rest.
        if (count < 9) return std::nullopt;
        const uint32_t stamps = bytes[7] >> 6;
        const uint32_t end = 9u + bytes[8];
        if (stamps == 1 || end > count) return std::nullopt;
        if (stamps == 2 && (bytes[8] < 5 || !timeStampAt(bytes + 9, 2))) return std::nullopt;
        if (stamps == 3 &&
            (bytes[8] < 10 || !timeStampAt(bytes + 9, 3) || !timeStampAt(bytes + 14, 1))) {
            return std::nullopt;
        }
        return PacketHeaderLayout{end, stamps >= 2 ? 9u : 0u, stamps == 3 ? 14u : 0u};
    }
    for (int stuffing = 0; p < count && bytes[p] == 0xFF; ++p) {
        if (++stuffing > 16) return std::nullopt;
    }
    if (p < count && (bytes[p] >> 6) == 1) p += 2;  // STD buffer scale and size
    if (p >= count) return std::nullopt;
    switch (bytes[p] >> 4) {
        case 2:
            if (p + 5 > count || !timeStampAt(bytes + p, 2)) return std::nullopt;
            return PacketHeaderLayout{p + 5, p, 0};
        case 3:
            if (p + 10 > count || !timeStampAt(bytes + p, 3) || !timeStampAt(bytes + p + 5, 1)) {
                return std::nullopt;
            }
            return PacketHeaderLayout{p + 10, p, p + 5};
        default:
            if (bytes[p] != 0x0F) return std::nullopt;
            return PacketHeaderLayout{p + 1, 0, 0};
    }
}

bool isAudioCode(uint32_t code) {
    const uint32_t id = code & 0xFF;
    return (code >> 8) == (kStartCodePrefix >> 8) && id >= kFirstAudioStream &&
           id <= kLastAudioStream;
}

bool isVideoCode(uint32_t code) {
    const uint32_t id = code & 0xFF;
    return (code >> 8) == (kStartCodePrefix >> 8) && id >= kFirstVideoStream &&
           id <= kLastVideoStream;
}

std::optional<AudioFrameHeader> parseAudioFrameHeader(const uint8_t* bytes) {
    const uint32_t h = loadBE32(bytes);
    if ((h >> 21) != 0x7FF) return std::nullopt;
    const uint32_t version = (h >> 19) & 3;  // 0: 2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
    const uint32_t layer = (h >> 17) & 3;    // 1: III, 2: II, 3: I
    const uint32_t rateIndex = (h >> 12) & 15;
    const uint32_t sampleIndex = (h >> 10) & 3;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3 ||
        (h & 3) == 2) {
        return std::nullopt;
    }
    // Kilobits per second, by table: MPEG-1 layers I, II, III, then MPEG-2
    // and 2.5 layer I, and their layers II and III.
    static constexpr std::array<std::array<uint16_t, 15>, 5> kRates = {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    }};
    static constexpr std::array<uint32_t, 3> kSampleRates = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const uint32_t table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const uint32_t bitRate = kRates[table][rateIndex] * 1000u;
    // MPEG-2 halves the sample rates of MPEG-1, MPEG-2.5 quarters them.
    const uint32_t sampleRate = kSampleRates[sampleIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const uint32_t padding = (h >> 9) & 1;
    AudioFrameHeader header;
    if (layer == 3) {
        header.length = (12 * bitRate / sampleRate + padding) * 4;
    } else {
        const uint32_t factor = layer == 1 && !mpeg1 ? 72 : 144;
        header.length = factor * bitRate / sampleRate + padding;
    }
    header.fixedBits = h & 0x001E0C00;
    header.samples = layer == 3 ? 384 : layer == 2 || mpeg1 ? 1152 : 576;
    header.sampleRate = sampleRate;
    return header;
}

}  // namespace mpg
