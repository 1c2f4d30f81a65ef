#include "join/clock.h"

#include <algorithm>
#include <cstring>

#include "model/elementary.h"
#include "stream/procedures.h"
#include "stream/start_codes.h"

namespace mpg {

int64_t clockAfter(uint64_t a, uint64_t b) {
    const uint64_t d = clockSub(a, b);
    return d >= kClockWrap / 2 ? static_cast<int64_t>(d) - static_cast<int64_t>(kClockWrap)
                               : static_cast<int64_t>(d);
}

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

// The SCR of an MPEG-2 pack header, from its byte 4: the bits 01, then the
// base in parts of 3, 15 and 15 bits each closed by a marker, then the
// extension.
bool isMpeg2Pack(const uint8_t* pack) {
    return (pack[4] >> 6) == 1;
}
bool isMpeg1Pack(const uint8_t* pack) {
    return (pack[4] >> 4) == 2;
}

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

// Ticks of 90 kHz per frame for the frame rate codes 1 to 8 of a video
// sequence header, rounded: 23.976, 24, 25, 29.97, 30, 50, 59.94, 60.
constexpr std::array<uint64_t, 9> kVideoFrameTicks = {0,    3754, 3750, 3600, 3003,
                                                      3000, 1800, 1502, 1500};

}  // namespace

std::optional<uint64_t> packScr(const uint8_t* pack) {
    if (isMpeg2Pack(pack)) return readMpeg2Scr(pack + 4);
    if (isMpeg1Pack(pack)) return readTimeStamp(pack + 4);
    return std::nullopt;
}

std::optional<uint64_t> shiftPackScr(uint8_t* pack, uint64_t offset,
                                     std::optional<uint64_t> floor) {
    const std::optional<uint64_t> scr = packScr(pack);
    if (!scr) return std::nullopt;
    uint64_t shifted = clockAdd(*scr, offset);
    if (floor && clockAfter(shifted, *floor) < 0) shifted = *floor;
    if (isMpeg2Pack(pack)) {
        writeMpeg2Scr(pack + 4, shifted);
    } else {
        writeTimeStamp(pack + 4, shifted);
    }
    return shifted;
}

bool shiftPacketStamps(uint8_t* packet, uint32_t count, uint64_t offset) {
    const std::optional<PacketHeaderLayout> layout = parsePacketHeader(packet, count);
    if (!layout || layout->ptsAt == 0) return false;
    for (const uint32_t at : {layout->ptsAt, layout->dtsAt}) {
        if (at != 0) writeTimeStamp(packet + at, clockAdd(readTimeStamp(packet + at), offset));
    }
    return true;
}

void PieceClock::takePack(const uint8_t* pack) {
    const std::optional<uint64_t> scr = packScr(pack);
    if (!scr) return;
    if (!firstScr_) firstScr_ = scr;
    lastScr_ = scr;
}

void PieceClock::takePacket(const uint8_t* packet, uint32_t count) {
    const std::optional<PacketHeaderLayout> layout = parsePacketHeader(packet, count);
    if (!layout) return;
    Stream& s = streams_[packet[3]];
    const uint8_t* payload = packet + layout->payloadStart;
    const uint32_t payloadSize = count - std::min(count, layout->payloadStart);
    if (s.frame == 0 && payloadSize > 0) learnFrame(s, packet[3], payload, payloadSize);
    const uint32_t begun = framesBegun(s, packet[3], payload, payloadSize);
    if (layout->ptsAt == 0) {
        s.framesAfter += begun;
        return;
    }
    s.framesAfter = begun > 0 ? begun - 1 : 0;
    const uint64_t pts = readTimeStamp(packet + layout->ptsAt);
    if (!s.seen) {
        s.seen = true;
        s.minPts = s.maxPts = s.lastPts = pts;
        return;
    }
    if (clockAfter(pts, s.lastPts) > 0) s.gap = clockSub(pts, s.lastPts);
    s.lastPts = pts;
    if (clockAfter(pts, s.maxPts) > 0) s.maxPts = pts;
    if (clockAfter(pts, s.minPts) < 0) s.minPts = pts;
}

uint32_t PieceClock::framesBegun(Stream& s, uint8_t id, const uint8_t* payload, uint32_t count) {
    const uint32_t code = kStartCodePrefix | id;
    uint32_t frames = 0;
    if (isVideoCode(code)) {
        // Picture start codes, 00 00 01 00; one split between two packets
        // goes uncounted. Codes do not overlap.
        if (count < 4) return 0;
        for (uint32_t at = 0;;) {
            at = nextStartCodePrefix(payload, at, count - 3);
            if (at >= count - 3) break;
            if (payload[at + 3] == 0) {
                ++frames;
                at += 4;
            } else {
                ++at;
            }
        }
    } else if (isAudioCode(code)) {
        // The chain of frame headers, each giving the next one's place; lost
        // when a header does not parse, found again by a search.
        int64_t at = s.nextAudioFrame;
        if (at < 0) {
            at = 0;
            while (at + 4 <= count && (payload[at] != 0xFF || !parseAudioFrameHeader(payload + at)))
                ++at;
        }
        while (at + 4 <= count) {
            const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(payload + at);
            if (!h) break;
            ++frames;
            at += h->length;
        }
        s.nextAudioFrame = at >= count ? at - count : -1;
    }
    return frames;
}

void PieceClock::learnFrame(Stream& stream, uint8_t id, const uint8_t* payload, uint32_t count) {
    const uint32_t code = kStartCodePrefix | id;
    if (isVideoCode(code)) {
        // A sequence header: 00 00 01 B3, 12 bits each of width and height,
        // then the aspect ratio and the frame rate code in one byte.
        for (uint32_t i = 0; i + 8 <= count; ++i) {
            if (payload[i] == 0 && payload[i + 1] == 0 && payload[i + 2] == 1 &&
                payload[i + 3] == 0xB3) {
                const uint32_t rate = payload[i + 7] & 0x0F;
                if (rate >= 1 && rate <= 8) stream.frame = kVideoFrameTicks[rate];
                return;
            }
        }
    } else if (isAudioCode(code)) {
        // The first frame header in the packet; the payload need not begin
        // with one.
        for (uint32_t i = 0; i + 4 <= count; ++i) {
            if (payload[i] != 0xFF) continue;
            const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(payload + i);
            if (h) {
                stream.frame = uint64_t{h->samples} * 90000 / h->sampleRate;
                return;
            }
        }
    }
}

std::optional<uint64_t> PieceClock::firstPts() const {
    std::optional<uint64_t> first;
    for (const Stream& s : streams_) {
        if (s.seen && (!first || clockAfter(s.minPts, *first) < 0)) first = s.minPts;
    }
    return first;
}

std::optional<uint64_t> PieceClock::endPts() const {
    std::optional<uint64_t> end;
    for (const Stream& s : streams_) {
        if (!s.seen) continue;
        const uint64_t frame = s.frame != 0 ? s.frame : s.gap;
        for (const uint64_t e :
             {clockAdd(s.maxPts, frame), clockAdd(s.lastPts, (s.framesAfter + 1) * frame)}) {
            if (!end || clockAfter(e, *end) > 0) end = e;
        }
    }
    return end;
}

uint64_t seamOffset(const PieceClock& previous, const PieceClock& next) {
    const std::optional<uint64_t> end = previous.endPts(), first = next.firstPts();
    if (end && first) return clockSub(*end, *first);
    const std::optional<uint64_t> lastScr = previous.lastScr(), firstScr = next.firstScr();
    if (lastScr && firstScr) return clockSub(*lastScr, *firstScr);
    return 0;
}

}  // namespace mpg
