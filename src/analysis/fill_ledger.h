// Whole sectors of zeros on the sector grid pass the walk as fill: a muxer
// writes them where its streams run below the disc's rate. Zeros that a
// partial download left, or a ripper wrote for a sector it could not read,
// look the same to the walk; what tells them apart is whether the streams
// run on across them. The ledger keeps the runs of fill the walk met, and
// at the end of the walk turns into holes:
//
// - a stream's gap (its stamps or frames skip) whose range spans a run of
//   fill: the zeros stand where its packets were;
// - fill at the end of the file far longer than any the stream shows
//   elsewhere, whose time runs past the last stamp of every stream: a
//   download stopped with the rest of the file zero. Its time is taken at
//   the slower of the mux rate and the rate at which the stamps advanced
//   with the bytes before it (a muxer at a variable rate runs well below
//   its mux rate).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/content_check.h"

namespace mpg {

class FillLedger {
  public:
    // Runs of fill shorter than this are a sector's tail, never a hole.
    static constexpr Position kLeastHole = 2048;
    // Fill at the end is a hole only when at least this long, this many
    // times as long as any other run, and its time ends past every stamp
    // (which runs ahead of the clock by the decoder's buffer).
    static constexpr Position kLeastTrailingHole = 32 * 1024;
    static constexpr Position kTrailingTimes = 4;

    void takeFill(Position pos, Position length);
    // A pack header's place, clock (ticks from the stream's first clock)
    // and mux rate.
    void takePack(Position pos, int64_t time, uint32_t muxRate);
    // A stream's PTS or DTS, in ticks from the stream's first clock, in the
    // packet at `pos`.
    void takeStamp(Position pos, int64_t time);

    // The walk ended at `end`: the gaps that span fill become holes, and
    // fill at the end may be one.
    void resolve(CheckContext& context, Position end);

  private:
    struct Run {
        Position begin = 0;
        Position end = 0;
    };
    void closeRun();
    void turnGapsIntoHoles(FindingList& findings) const;
    // A stream's gap as a hole when it spans fill and no bytes the system
    // clock found `lost`.
    Finding asHole(Finding gap, const std::vector<std::pair<Position, Position>>& lost) const;
    void trailingHole(CheckContext& context, Position end) const;

    std::vector<Run> runs_;  // of kLeastHole or more, before `open_`
    Run open_;               // the last run met
    Position longest_ = 0;   // the longest run before `open_`
    Position packAt_ = 0;
    int64_t packTime_ = kNoTime;
    uint32_t muxRate_ = 0;
    int64_t firstStamp_ = kNoTime;
    Position firstStampAt_ = 0;
    int64_t lastStamp_ = kNoTime;  // the latest
    Position lastStampAt_ = 0;
};

}  // namespace mpg
