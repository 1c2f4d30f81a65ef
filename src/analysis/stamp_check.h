// The time stamps of an audio stream at a constant rate (MPEG audio layers I
// and II, AC-3) against its payload bytes. Such a stream's frames follow
// each other at a fixed number of bytes a tick, so a packet's PTS (that of
// the first frame that begins in it) lies within one frame of the time its
// payload's place in the stream tells. A PTS that runs ahead of that place
// by more than a frame says payload was lost before it (packets dropped,
// sectors zeroed or lost); one that runs back says payload from elsewhere
// came in, or a seam. Each is a gap from the end of the last payload before
// it to the first payload byte after it. The rate is the one the stream's
// first frame header declares; a stream whose header is not found in its
// first packets, or at a rate that may vary (layer III), is not judged.
#pragma once

#include <cstdint>
#include <optional>

#include "analysis/content_check.h"

namespace mpg {

class AudioStampCheck : public ContentCheck {
  public:
    AudioStampCheck(CheckContext& context, uint8_t stream, uint8_t substream)
        : context_(context), stream_(stream), substream_(substream) {}

    // Whether the check judges a stream of this id and substream.
    static bool judges(uint8_t stream, uint8_t substream);

    void takePayload(const Payload& payload) override;
    void interrupt(Position from, Position to) override;

  private:
    // Bytes a second and ticks a frame from the first frame header in
    // `payload`; false when none is there.
    bool learnRate(const Payload& payload);
    void judge(const Payload& payload);
    void report(const Payload& payload, FindingCause cause, double skipped, uint64_t pts);

    CheckContext& context_;
    uint8_t stream_;
    uint8_t substream_;
    uint32_t looked_ = 0;      // payloads searched for a frame header
    double ticksPerByte_ = 0;  // 90 kHz; 0 until learnt
    double frameTicks_ = 0;

    Position bytes_ = 0;  // payload bytes taken since the last restart
    std::optional<Position> lastEnd_;
    bool based_ = false;
    double base_ = 0;      // the smallest stamp less its bytes' time since the restart
    int64_t lastPts_ = 0;  // unwrapped
    uint64_t lastRaw_ = 0;
};

}  // namespace mpg
