// The clocks of the pack headers against the bytes between them. A pack's
// mux rate (in 50 bytes a second) says how fast the stream's bytes arrive,
// so between two pack headers the system clock must advance at least by the
// time their bytes take at that rate:
//
// - a pack whose clock lags behind that time carries bytes the stream had no
//   time for: a cluster of another file inserted among the sectors, when the
//   clock goes on from before it as if it were not there (junk over the
//   packs that do not fit);
// - a clock that goes back and stays there is a seam: two recordings put
//   one after the other;
// - a clock that runs ahead is what a muxer at a variable rate does all the
//   time (its clock follows the stamps, not the bytes), but in a stream whose
//   clock otherwise follows the byte position exactly (a video CD, a muxer
//   at a constant rate) it is whole sectors lost.
//
// Whether a stream's clock follows its bytes is learnt from the whole
// stream: the clock's own rate is the slowest it ever advances, and a stream
// follows its bytes when its clock runs ahead of that rate only seldom and
// then always by whole sectors. So the lost sectors are told at the end of
// the walk.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/content_check.h"

namespace mpg {

class PackClockCheck : public ContentCheck {
  public:
    explicit PackClockCheck(CheckContext& context) : context_(context) {}

    void takePack(const PackEvent& pack) override;
    void interrupt(Position from, Position to) override;
    void finish(Position end) override;

    // The system clock in 27 MHz units (the base times 300 plus the MPEG-2
    // extension) wraps around at this value.
    static constexpr int64_t kClockWrap = (int64_t{1} << 33) * 300;

  private:
    // A pack header as the check keeps it.
    struct Clock {
        Position pos = 0;
        int64_t clock = 0;  // 27 MHz
        uint64_t scr = 0;   // the base, 90 kHz
        uint32_t muxRate = 0;
        int32_t size = 0;  // of its header
    };
    // Two pack headers whose clocks are further apart than their bytes take.
    struct Ahead {
        Clock from;
        Clock to;
        int64_t advance = 0;  // 27 MHz
        Position bytes = 0;
    };

    static int64_t advance(const Clock& from, const Clock& to);
    // The 27 MHz ticks `bytes` take at the mux rate of `clock`.
    static double takes(const Clock& clock, Position bytes);
    // Whether `to` goes on from `from` with `bytes` of the stream between.
    static bool fits(const Clock& from, const Clock& to, Position bytes);

    // `clock` goes on from the last with `bytes` of the stream between.
    void follow(const Clock& clock, Position bytes);
    void suspect(const Clock& clock);
    bool backToEarlier(const Clock& clock);
    void resolveSeam(const Clock& clock);
    void reportJunk(Position begin, Position end, const Clock& before);
    bool followsBytes(double rate) const;
    void reportLostSectors(double rate);

    CheckContext& context_;
    bool trusted_ = false;
    Clock last_;                 // the last pack that fits the stream's clock
    std::vector<Clock> recent_;  // the last few of them, `last_` the last
    // Packs whose clocks do not fit since the last that did, from the first.
    Clock firstSuspect_;
    Clock lastSuspect_;
    uint32_t suspects_ = 0;
    // The packs behind a cut (a broken block the scan lists) may be the rest
    // of what broke it: a clock that goes back among them is no seam.
    uint32_t packsSinceCut_ = 0;
    bool suspectNearCut_ = false;

    // What the end of the walk learns from.
    double slowest_ = 0;  // the slowest advance per byte met, 27 MHz
    bool slowestKnown_ = false;
    Position sector_ = 0;  // the shortest distance of two packs met
    uint64_t pairs_ = 0;   // pack pairs that fit
    Position paired_ = 0;  // and their bytes
    double advanced_ = 0;  // and their clocks' advance, 27 MHz
    std::vector<Ahead> ahead_;
    bool tooManyAhead_ = false;
};

}  // namespace mpg
