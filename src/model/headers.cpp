#include "model/headers.h"

namespace mpg {

uint64_t readTimeStamp(const uint8_t* p) {
    return (uint64_t{p[0] & 0x0Eu} << 29) | (uint64_t{p[1]} << 22) |
           (uint64_t{p[2] & 0xFEu} << 14) | (uint64_t{p[3]} << 7) | (uint64_t{p[4]} >> 1);
}

void writeTimeStamp(uint8_t* p, uint64_t value) {
    p[0] = static_cast<uint8_t>((p[0] & 0xF1) | ((value >> 29) & 0x0E));
    p[1] = static_cast<uint8_t>(value >> 22);
    p[2] = static_cast<uint8_t>((p[2] & 0x01) | ((value >> 14) & 0xFE));
    p[3] = static_cast<uint8_t>(value >> 7);
    p[4] = static_cast<uint8_t>((p[4] & 0x01) | ((value << 1) & 0xFE));
}

namespace {

// The SCR base of an MPEG-2 pack header, from its byte 4: the bits 01, then
// the base in parts of 3, 15 and 15 bits each closed by a marker.
uint64_t readMpeg2Scr(const uint8_t* p) {
    return (uint64_t{p[0] & 0x38u} << 27) | (uint64_t{p[0] & 0x03u} << 28) |
           (uint64_t{p[1]} << 20) | (uint64_t{p[2] & 0xF8u} << 12) |
           (uint64_t{p[2] & 0x03u} << 13) | (uint64_t{p[3]} << 5) | (uint64_t{p[4]} >> 3);
}

void writeMpeg2Scr(uint8_t* p, uint64_t v) {
    p[0] = static_cast<uint8_t>((p[0] & 0xC4) | ((v >> 27) & 0x38) | ((v >> 28) & 0x03));
    p[1] = static_cast<uint8_t>(v >> 20);
    p[2] = static_cast<uint8_t>((p[2] & 0x04) | ((v >> 12) & 0xF8) | ((v >> 13) & 0x03));
    p[3] = static_cast<uint8_t>(v >> 5);
    p[4] = static_cast<uint8_t>((p[4] & 0x07) | ((v << 3) & 0xF8));
}

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

// A layout with the values of the stamps it places.
PacketHeaderLayout stampsRead(const uint8_t* bytes, uint32_t end, uint32_t ptsAt, uint32_t dtsAt) {
    PacketHeaderLayout layout{end, ptsAt, dtsAt};
    if (ptsAt != 0) layout.pts = readTimeStamp(bytes + ptsAt);
    if (dtsAt != 0) layout.dts = readTimeStamp(bytes + dtsAt);
    return layout;
}

}  // namespace

std::optional<PackHeader> parsePackHeader(ByteSpan head) {
    if (head.size() < static_cast<size_t>(kPackHeaderSize)) return std::nullopt;
    const uint8_t* b = head.data();
    PackHeader h;
    switch (packForm(b)) {
        case PackForm::Mpeg2:
            if (head.size() < static_cast<size_t>(kMpeg2PackHeaderSize)) return std::nullopt;
            h.mpeg2 = true;
            h.scr = readMpeg2Scr(b + 4);
            h.scrExtension = static_cast<uint16_t>(((b[8] & 3u) << 7) | (b[9] >> 1));
            h.muxRate = (uint32_t{b[10]} << 14) | (uint32_t{b[11]} << 6) | (b[12] >> 2);
            h.reserved = static_cast<uint8_t>(b[13] >> 3);
            h.stuffing = b[13] & kPackStuffingMask;
            h.markersSet = (b[4] & 0x04) && (b[6] & 0x04) && (b[8] & 0x04) && (b[9] & 0x01) &&
                           (b[12] & 0x03) == 0x03;
            return h;
        case PackForm::Mpeg1:
            h.scr = readTimeStamp(b + 4);
            h.muxRate = (uint32_t{b[9] & 0x7Fu} << 15) | (uint32_t{b[10]} << 7) | (b[11] >> 1);
            h.markersSet = (b[4] & 1) && (b[6] & 1) && (b[8] & 1) && (b[9] & 0x80) && (b[11] & 1);
            return h;
        case PackForm::Neither:
            break;
    }
    return std::nullopt;
}

std::optional<uint64_t> packScr(const uint8_t* pack) {
    switch (packForm(pack)) {
        case PackForm::Mpeg2:
            return readMpeg2Scr(pack + 4);
        case PackForm::Mpeg1:
            return readTimeStamp(pack + 4);
        case PackForm::Neither:
            break;
    }
    return std::nullopt;
}

void writePackScr(uint8_t* pack, uint64_t scr) {
    if (packForm(pack) == PackForm::Mpeg2) {
        writeMpeg2Scr(pack + 4, scr);
    } else {
        writeTimeStamp(pack + 4, scr);
    }
}

int32_t SystemHeader::size() const {
    uint16_t length = 0;
    if (!readBE16(bytes_, 4, length)) return 0;
    return int32_t{length} + kLengthFieldEnd;
}

bool SystemHeader::markersSet() const {
    if (bytes_.size() < kFixedSize) return false;
    return (bytes_[6] & 0x80) && (bytes_[8] & 1) && (bytes_[10] & 0x20);
}

uint32_t SystemHeader::rateBound() const {
    if (bytes_.size() < kFixedSize) return 0;
    return (uint32_t{bytes_[6] & 0x7Fu} << 15) | (uint32_t{bytes_[7]} << 7) | (bytes_[8] >> 1);
}

bool SystemHeader::entryFormed(size_t k) const {
    const size_t at = kFirstEntry + kEntrySize * k;
    return at + 1 < bytes_.size() && (bytes_[at] & 0x80) && (bytes_[at + 1] >> 6) == 3;
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
        return stampsRead(bytes, end, stamps >= 2 ? 9u : 0u, stamps == 3 ? 14u : 0u);
    }
    for (int stuffing = 0; p < count && bytes[p] == 0xFF; ++p) {
        if (++stuffing > 16) return std::nullopt;
    }
    if (p < count && (bytes[p] >> 6) == 1) p += 2;  // STD buffer scale and size
    if (p >= count) return std::nullopt;
    switch (bytes[p] >> 4) {
        case 2:
            if (p + 5 > count || !timeStampAt(bytes + p, 2)) return std::nullopt;
            return stampsRead(bytes, p + 5, p, 0);
        case 3:
            if (p + 10 > count || !timeStampAt(bytes + p, 3) || !timeStampAt(bytes + p + 5, 1)) {
                return std::nullopt;
            }
            return stampsRead(bytes, p + 10, p, p + 5);
        default:
            if (bytes[p] != 0x0F) return std::nullopt;
            return PacketHeaderLayout{p + 1, 0, 0};
    }
}

std::optional<uint32_t> packetPayloadStart(const uint8_t* bytes, uint32_t count) {
    const std::optional<PacketHeaderLayout> layout = parsePacketHeader(bytes, count);
    if (!layout) return std::nullopt;
    return layout->payloadStart;
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

std::optional<SequenceHeader> parseSequenceHeader(const uint8_t* bytes, uint32_t count) {
    if (count < kSequenceHeaderFixedBytes || loadBE32(bytes) != kSequenceHeaderCode) {
        return std::nullopt;
    }
    SequenceHeader h;
    h.width = static_cast<uint16_t>((uint32_t{bytes[4]} << 4) | (bytes[5] >> 4));
    h.height = static_cast<uint16_t>((uint32_t{bytes[5] & 0x0Fu} << 8) | bytes[6]);
    h.aspect = static_cast<uint8_t>(bytes[7] >> 4);
    h.frameRateCode = bytes[7] & 0x0F;
    if (count >= 11) {
        h.bitRate = (uint32_t{bytes[8]} << 10) | (uint32_t{bytes[9]} << 2) | (bytes[10] >> 6);
    }
    return h;
}

uint64_t frameTicks(uint8_t frameRateCode) {
    // 23.976, 24, 25, 29.97, 30, 50, 59.94 and 60 frames a second.
    static constexpr std::array<uint64_t, 9> kTicks = {0,    3754, 3750, 3600, 3003,
                                                       3000, 1800, 1502, 1500};
    return frameRateCode < kTicks.size() ? kTicks[frameRateCode] : 0;
}

}  // namespace mpg
