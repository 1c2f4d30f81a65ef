#include "analysis/stamp_check.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "model/headers.h"

namespace mpg {

namespace {

// A stream whose first packets hold no frame header is not judged.
constexpr uint32_t kLookedPayloads = 16;
// A stamp lies within a frame of its place: further off by this many frames
// is a skip.
constexpr double kSkipFrames = 1.5;

// Bits a second, ticks a frame.
struct Rate {
    uint32_t bitRate = 0;
    double frameTicks = 0;
};

// An MPEG audio frame header at `at`, confirmed by the next header behind
// it (both within the bytes); a rate of 0 for layer III, whose rate may
// vary frame by frame.
std::optional<Rate> mpegAudioRate(const uint8_t* bytes, uint32_t at, uint32_t size) {
    const std::optional<AudioFrameHeader> head = parseAudioFrameHeader(bytes + at);
    if (!head) return std::nullopt;
    const uint32_t next = at + head->length;
    if (next + 4 > size) return std::nullopt;
    const std::optional<AudioFrameHeader> then = parseAudioFrameHeader(bytes + next);
    if (!then || then->fixedBits != head->fixedBits) return std::nullopt;
    if (((head->fixedBits >> 17) & 3) == 1) return Rate{};
    // The length is the bit rate's bytes for the frame's samples, rounded
    // down, plus the padding (a slot: 4 bytes in layer I, 1 in layer II);
    // every bit rate of layers I and II is a multiple of 8 kbit/s, further
    // apart than the rounding.
    const uint32_t slot = head->samples == 384 ? 4 : 1;
    const uint32_t padding = (bytes[at + 2] >> 1) & 1;
    const double estimate =
        (head->length - padding * slot) * 8.0 * head->sampleRate / head->samples;
    const auto bitRate = static_cast<uint32_t>(std::lround(estimate / 8000) * 8000);
    return Rate{bitRate, head->samples * 90000.0 / head->sampleRate};
}

// An AC-3 sync frame's header at `at`: the sync word 0B 77, two bytes of
// CRC, then the sample rate code (2 bits) and the frame size code (6 bits),
// whose half indexes the bit rate; the bitstream id behind (8 or less; more
// is Enhanced AC-3, whose frames say their rate otherwise). Confirmed by the
// next sync word where the frame's size puts it, within the bytes.
std::optional<Rate> ac3Rate(const uint8_t* bytes, uint32_t at, uint32_t size) {
    static constexpr std::array<uint16_t, 19> kKbits = {
        32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    static constexpr std::array<uint32_t, 3> kSampleRates = {48000, 44100, 32000};
    if (at + 6 > size || bytes[at] != 0x0B || bytes[at + 1] != 0x77) return std::nullopt;
    const uint32_t sampleCode = bytes[at + 4] >> 6, sizeCode = bytes[at + 4] & 0x3F;
    if (sampleCode == 3 || sizeCode >= 2 * kKbits.size() || (bytes[at + 5] >> 3) > 8) {
        return std::nullopt;
    }
    // The frame's words: 1,536 samples at the bit rate, 16 bits a word; at
    // 44.1 kHz the odd size codes take one word more.
    const uint32_t bitRate = kKbits[sizeCode / 2] * 1000u, sampleRate = kSampleRates[sampleCode];
    const uint32_t words = 1536 * bitRate / sampleRate / 16 + (sampleCode == 1 ? sizeCode & 1 : 0);
    const uint32_t next = at + 2 * words;
    if (next + 2 > size || bytes[next] != 0x0B || bytes[next + 1] != 0x77) return std::nullopt;
    return Rate{bitRate, 1536 * 90000.0 / sampleRate};
}

int64_t signed33(uint64_t diff) {
    diff &= CheckContext::kClockMask;
    const auto value = static_cast<int64_t>(diff);
    return value > static_cast<int64_t>(CheckContext::kClockMask / 2)
               ? value - static_cast<int64_t>(CheckContext::kClockMask + 1)
               : value;
}

}  // namespace

bool AudioStampCheck::judges(uint8_t stream, uint8_t substream) {
    if (stream >= 0xC0 && stream <= 0xDF) return true;
    return stream == 0xBD && substream >= 0x80 && substream <= 0x87;
}

bool AudioStampCheck::learnRate(const Payload& payload) {
    if (looked_ >= kLookedPayloads || payload.size < 4) return false;
    ++looked_;
    const bool ac3 = stream_ == 0xBD;
    for (uint32_t at = 0; at + 4 <= payload.size; ++at) {
        const std::optional<Rate> rate = ac3 ? ac3Rate(payload.bytes, at, payload.size)
                                             : mpegAudioRate(payload.bytes, at, payload.size);
        if (!rate) continue;
        if (rate->bitRate == 0) {
            looked_ = kLookedPayloads;  // a rate that may vary: not judged
            return false;
        }
        ticksPerByte_ = 720'000.0 / rate->bitRate;  // 90,000 ticks over bytes a second
        frameTicks_ = rate->frameTicks;
        return true;
    }
    return false;
}

void AudioStampCheck::takePayload(const Payload& payload) {
    if (ticksPerByte_ == 0 && !learnRate(payload)) {
        bytes_ += payload.size;
        return;
    }
    if (payload.pts) judge(payload);
    bytes_ += payload.size;
    if (payload.size > 0) lastEnd_ = payload.at + payload.size;
}

void AudioStampCheck::judge(const Payload& payload) {
    const uint64_t pts = *payload.pts;
    if (!based_) {
        lastPts_ = 0;
    } else {
        lastPts_ += signed33(pts - lastRaw_);
    }
    lastRaw_ = pts;
    const double offset =
        static_cast<double>(lastPts_) - static_cast<double>(bytes_) * ticksPerByte_;
    if (!based_) {
        base_ = offset;
        based_ = true;
        return;
    }
    const double off = offset - base_;
    if (off > kSkipFrames * frameTicks_) {
        report(payload, FindingCause::StampJump, off, pts);
        base_ = offset;
    } else if (off < -kSkipFrames * frameTicks_) {
        report(payload, FindingCause::StampBack, 0, pts);
        base_ = offset;
    } else {
        base_ = std::min(base_, offset);
    }
}

void AudioStampCheck::report(const Payload& payload, FindingCause cause, double skipped,
                             uint64_t pts) {
    const int64_t to = context_.since(pts);
    const auto ticks = static_cast<int64_t>(skipped);
    context_.add({.begin = lastEnd_.value_or(payload.at),
                  .end = payload.at,
                  .timeFrom = to == kNoTime ? kNoTime : std::max<int64_t>(0, to - ticks),
                  .timeTo = to,
                  .frames = static_cast<uint32_t>(std::lround(skipped / frameTicks_)),
                  .kind = FindingKind::Gap,
                  .cause = cause,
                  .stream = stream_,
                  .substream = substream_});
}

void AudioStampCheck::interrupt(Position from, Position to) {
    (void)from;
    (void)to;
    based_ = false;
    bytes_ = 0;
    lastEnd_.reset();
}

}  // namespace mpg
