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

std::optional<uint64_t> shiftPackScr(uint8_t* pack, uint64_t offset,
                                     std::optional<uint64_t> floor) {
    const std::optional<uint64_t> scr = packScr(pack);
    if (!scr) return std::nullopt;
    uint64_t shifted = clockAdd(*scr, offset);
    if (floor && clockAfter(shifted, *floor) < 0) shifted = *floor;
    writePackScr(pack, shifted);
    return shifted;
}

bool shiftPacketStamps(uint8_t* packet, uint32_t count, uint64_t offset) {
    const std::optional<PacketHeaderLayout> layout = parsePacketHeader(packet, count);
    if (!layout || layout->ptsAt == 0) return false;
    writeTimeStamp(packet + layout->ptsAt, clockAdd(layout->pts, offset));
    if (layout->dtsAt != 0) writeTimeStamp(packet + layout->dtsAt, clockAdd(layout->dts, offset));
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
    const uint64_t pts = layout->pts;
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
            if (loadBE32(payload + at) == kPictureStartCode) {
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
        // The first sequence header in the packet gives the frame rate;
        // start codes are looked for, not every byte tried.
        if (count < kSequenceHeaderFixedBytes) return;
        const uint32_t end = count - kSequenceHeaderFixedBytes + 1;
        for (uint32_t i = nextStartCodePrefix(payload, 0, end); i < end;
             i = nextStartCodePrefix(payload, i + 1, end)) {
            if (const std::optional<SequenceHeader> h =
                    parseSequenceHeader(payload + i, count - i)) {
                stream.frame = frameTicks(h->frameRateCode);
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
