// The clock of a system stream, as a join that makes its pieces play as one
// film sees it. Each piece's clock starts where its muxer or cutter left it;
// a continuous join adds one offset to every SCR, PTS and DTS of a piece so
// that it takes up where the previous piece ended. All clock values are
// 33-bit counts of a 90 kHz clock and wrap as the clock does.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "model/headers.h"

namespace mpg {

inline constexpr uint64_t kClockWrap = uint64_t{1} << 33;

// a + b and a - b on the 33-bit clock.
inline uint64_t clockAdd(uint64_t a, uint64_t b) {
    return (a + b) & (kClockWrap - 1);
}
inline uint64_t clockSub(uint64_t a, uint64_t b) {
    return (a - b) & (kClockWrap - 1);
}
// How far `a` is after `b` (negative: before), taking the shorter way round
// the wrap.
int64_t clockAfter(uint64_t a, uint64_t b);

// The stamps and the SCR are read and written by model/headers.h
// (readTimeStamp, writeTimeStamp, packScr, writePackScr).

// Adds `offset` to the SCR base of a pack header, and gives the SCR written;
// nothing when the header has no SCR. A sum before `floor` is raised to it:
// a muxer starts the clock of a piece some frames ahead of its first PTS,
// further ahead than the last pack of the previous piece may stand, and the
// SCR must not go back where the PTS run on.
std::optional<uint64_t> shiftPackScr(uint8_t* pack, uint64_t offset,
                                     std::optional<uint64_t> floor = std::nullopt);
// Adds `offset` to the PTS and DTS of a packet of `count` bytes (the whole
// packet, or at least its header); false when it has none or the header
// does not parse.
bool shiftPacketStamps(uint8_t* packet, uint32_t count, uint64_t offset);

// What a piece's blocks tell of its clock: its first and last SCR, and for
// each stream its smallest and largest PTS and the duration of its frames.
// The blocks are handed in as they are read, in the order of the file.
class PieceClock {
  public:
    void takePack(const uint8_t* pack);
    // A packet's bytes, `count` of them (the whole packet).
    void takePacket(const uint8_t* packet, uint32_t count);

    std::optional<uint64_t> firstScr() const { return firstScr_; }
    std::optional<uint64_t> lastScr() const { return lastScr_; }
    // The smallest PTS of all streams; nothing when no packet had one.
    std::optional<uint64_t> firstPts() const;
    // Where the piece's presentation ends: the largest PTS of any stream
    // plus one frame of that stream. A frame lasts what its stream tells
    // (the video frame rate of a sequence header, the samples of an audio
    // frame), else the gap between its last two PTS.
    std::optional<uint64_t> endPts() const;

  private:
    struct Stream {
        bool seen = false;
        uint64_t minPts = 0, maxPts = 0, lastPts = 0, gap = 0;
        uint64_t frame = 0;  // ticks of 90 kHz, 0 while unknown
        // Frames begun after the one the last PTS stamps: a muxer stamps
        // only the first frame that begins in a packet.
        uint64_t framesAfter = 0;
        int64_t nextAudioFrame = -1;  // into the next packet's payload; -1 unknown
    };
    void learnFrame(Stream& stream, uint8_t id, const uint8_t* payload, uint32_t count);
    static uint32_t framesBegun(Stream& stream, uint8_t id, const uint8_t* payload, uint32_t count);

    std::optional<uint64_t> firstScr_, lastScr_;
    std::array<Stream, 256> streams_{};
};

// The offset to add to every stamp of the piece `next` so that its first PTS
// comes one frame after the end of `previous`; without PTS, so that its first
// SCR is the last one of `previous`. 0 when either piece tells nothing of its
// clock. Where the SCR would then go back, shiftPackScr holds it.
uint64_t seamOffset(const PieceClock& previous, const PieceClock& next);

}  // namespace mpg
