#include "analysis/clock_check.h"

#include <algorithm>
#include <cmath>

namespace mpg {

namespace {

constexpr int64_t kTicks27PerTick = 300;
// A muxer rounds its clock to whole ticks pack by pack: a clock behind the
// bytes by less than this share of their time, and a few ticks, is rounding.
constexpr double kBehindShare = 1.0 / 64;
constexpr int64_t kSlack = 30 * kTicks27PerTick;
// A clock ahead of the bytes by more than this share of their time is a
// skip (a muxer at a constant rate rounds, or counts a video CD's sectors
// at their raw size of 2,352 bytes: a little over 1 %).
constexpr double kAheadShare = 1.0 / 32;
// No muxer's clock leaps ahead of its bytes by more than this between two
// packs: a pack further ahead does not go on from the one before.
constexpr int64_t kLongestLead = 2 * 27'000'000;
// A stretch of packs that do not fit is a seam (a new clock from there on)
// once it is this long; a cluster of another file inserted is shorter.
constexpr uint32_t kSeamPacks = 16;
constexpr Position kSeamBytes = 32 * 1024;
// How many packs back a clock that goes back may go on from: a cluster of
// a few kilobytes of another file holds a few packs.
constexpr size_t kRecentPacks = 8;
// Distances of packs shorter than the smallest sector say nothing of a rate.
constexpr Position kLeastRateBytes = 512;
// The most skips kept: a stream with more runs at a variable rate.
constexpr size_t kMostAhead = 256;
// A stream whose clock follows its bytes skips seldom, and by whole sectors.
constexpr uint64_t kPairsPerSkip = 32;
constexpr uint64_t kFewSkips = 3;
// ... and its clock runs no more than this much faster than its bytes in
// all (a muxer at a variable rate fills its buffers at the mux rate and
// then skips, often far).
constexpr double kMostSkipped = 1.25;
constexpr double kWholeSector = 0.1;

int64_t signedWrap(int64_t diff) {
    diff %= PackClockCheck::kClockWrap;
    if (diff < 0) diff += PackClockCheck::kClockWrap;
    return diff > PackClockCheck::kClockWrap / 2 ? diff - PackClockCheck::kClockWrap : diff;
}

double behindSlack(double need) {
    return need * kBehindShare + kSlack;
}

}  // namespace

int64_t PackClockCheck::advance(const Clock& from, const Clock& to) {
    return signedWrap(to.clock - from.clock);
}

double PackClockCheck::takes(const Clock& clock, Position bytes) {
    // 27,000,000 ticks a second over mux rate × 50 bytes a second.
    return static_cast<double>(bytes) * 540'000.0 / clock.muxRate;
}

bool PackClockCheck::fits(const Clock& from, const Clock& to, Position bytes) {
    const double need = takes(from, bytes);
    const auto moved = static_cast<double>(advance(from, to));
    return moved >= need - behindSlack(need) && moved <= need + kLongestLead;
}

void PackClockCheck::takePack(const PackEvent& pack) {
    if (pack.header.muxRate == 0) return;  // a rate of nothing times nothing
    ++packsSinceCut_;
    const Clock clock{
        .pos = pack.pos,
        .clock = static_cast<int64_t>(pack.header.scr) * kTicks27PerTick + pack.header.scrExtension,
        .scr = pack.header.scr,
        .muxRate = pack.header.muxRate,
        .size = pack.header.size()};
    if (!trusted_) {
        last_ = clock;
        recent_.assign(1, clock);
        trusted_ = true;
        return;
    }
    if (suspects_ == 0) {
        if (fits(last_, clock, clock.pos - last_.pos)) {
            follow(clock, clock.pos - last_.pos);
        } else if (!backToEarlier(clock)) {
            firstSuspect_ = lastSuspect_ = clock;
            suspects_ = 1;
            suspectNearCut_ = packsSinceCut_ < kRecentPacks;
        }
        return;
    }
    suspect(clock);
}

// A clock that goes back where no clean stream's does, to go on from one of
// the packs before the last: the packs since that one came from elsewhere
// (their clock happened to fit, and the stream's own is behind it).
bool PackClockCheck::backToEarlier(const Clock& clock) {
    if (advance(last_, clock) >= 0 || recent_.size() < 2) return false;
    for (size_t k = recent_.size() - 1; k-- > 0;) {
        const Clock& from = recent_[k];
        const Position bytes = recent_[k + 1].pos - from.pos;
        if (!fits(from, clock, bytes)) continue;
        reportJunk(recent_[k + 1].pos, clock.pos, from);
        recent_.resize(k + 1);
        last_ = from;
        follow(clock, bytes);
        return true;
    }
    return false;
}

// A pack behind packs that did not fit: the clock goes on from before them
// (they were junk), or they go on among themselves (a seam, once long).
void PackClockCheck::suspect(const Clock& clock) {
    const Position before = firstSuspect_.pos - last_.pos;
    if (fits(last_, clock, before)) {
        // Packs whose clock goes back, or from which the clock goes back,
        // came from elsewhere; a clock that only lagged a little and runs
        // on is a slow muxer's.
        if (advance(last_, firstSuspect_) < 0 || advance(lastSuspect_, clock) < 0) {
            reportJunk(firstSuspect_.pos, clock.pos, last_);
            suspects_ = 0;
            follow(clock, before);  // the stream's own bytes only
            return;
        }
        suspects_ = 0;
        follow(clock, clock.pos - last_.pos);
        return;
    }
    lastSuspect_ = clock;
    ++suspects_;
    if (suspects_ >= kSeamPacks && clock.pos - firstSuspect_.pos >= kSeamBytes) {
        resolveSeam(clock);
    }
}

// The suspects are a clock of their own: a seam at the first of them.
void PackClockCheck::resolveSeam(const Clock& clock) {
    const int64_t moved = advance(last_, firstSuspect_);
    if (moved < -kSlack && !suspectNearCut_) {
        const double need = takes(last_, firstSuspect_.pos - last_.pos);
        const int64_t time =
            context_.since(last_.scr) + static_cast<int64_t>(need) / kTicks27PerTick;
        context_.add({.begin = firstSuspect_.pos,
                      .end = firstSuspect_.pos + static_cast<Position>(firstSuspect_.size),
                      .timeFrom = time,
                      .timeTo = time,
                      .kind = FindingKind::Gap,
                      .cause = FindingCause::StampBack});
    }
    suspects_ = 0;
    last_ = clock;
    recent_.assign(1, clock);
}

void PackClockCheck::follow(const Clock& clock, Position bytes) {
    const int64_t moved = advance(last_, clock);
    if (bytes >= kLeastRateBytes) {
        const double rate = static_cast<double>(moved) / static_cast<double>(bytes);
        if (!slowestKnown_ || rate < slowest_) slowest_ = rate;
        slowestKnown_ = true;
        if (sector_ == 0 || bytes < sector_) sector_ = bytes;
        ++pairs_;
        paired_ += bytes;
        advanced_ += static_cast<double>(moved);
        const double need = takes(last_, bytes);
        if (static_cast<double>(moved) > need * (1 + kAheadShare) + kSlack) {
            if (ahead_.size() < kMostAhead) {
                ahead_.push_back({last_, clock, moved, bytes});
            } else {
                tooManyAhead_ = true;
            }
        }
    }
    last_ = clock;
    recent_.push_back(clock);
    if (recent_.size() > kRecentPacks) recent_.erase(recent_.begin());
}

void PackClockCheck::reportJunk(Position begin, Position end, const Clock& before) {
    const double need = takes(before, begin - before.pos);
    const int64_t time = context_.since(before.scr) + static_cast<int64_t>(need) / kTicks27PerTick;
    context_.add({.begin = begin,
                  .end = end,
                  .timeFrom = time,
                  .timeTo = time,
                  .kind = FindingKind::Junk,
                  .cause = FindingCause::ScrBehind});
}

void PackClockCheck::interrupt(Position from, Position to) {
    (void)from;
    (void)to;
    trusted_ = false;
    suspects_ = 0;
    packsSinceCut_ = 0;
}

void PackClockCheck::finish(Position end) {
    (void)end;
    if (suspects_ > 0 && advance(last_, firstSuspect_) < -kSlack) resolveSeam(lastSuspect_);
    if (tooManyAhead_ || !slowestKnown_ || slowest_ <= 0) return;
    // A muxer that has nothing left to wait for lets its last packs run
    // ahead: skips that go on to the last pack are its end, not lost.
    for (Position tail = last_.pos; !ahead_.empty() && ahead_.back().to.pos == tail;) {
        tail = ahead_.back().from.pos;
        advanced_ -= static_cast<double>(ahead_.back().advance);
        paired_ -= ahead_.back().bytes;
        ahead_.pop_back();
    }
    if (followsBytes(slowest_)) reportLostSectors(slowest_);
}

// The clock follows the bytes at its slowest rate, but for a few skips of
// whole sectors.
bool PackClockCheck::followsBytes(double rate) const {
    if (ahead_.empty() || ahead_.size() > std::max<uint64_t>(kFewSkips, pairs_ / kPairsPerSkip) ||
        advanced_ > static_cast<double>(paired_) * rate * kMostSkipped) {
        return false;
    }
    const double sector = static_cast<double>(sector_) * rate;
    size_t whole = 0;
    for (const Ahead& skip : ahead_) {
        const double sectors =
            (static_cast<double>(skip.advance) - static_cast<double>(skip.bytes) * rate) / sector;
        if (sectors >= 1 - kWholeSector && std::abs(sectors - std::round(sectors)) <= kWholeSector)
            ++whole;
    }
    return whole * 4 >= ahead_.size() * 3;
}

void PackClockCheck::reportLostSectors(double rate) {
    for (const Ahead& skip : ahead_) {
        const auto took = static_cast<int64_t>(static_cast<double>(skip.bytes) * rate);
        const int64_t from = context_.since(skip.from.scr);
        context_.add({.begin = skip.from.pos,
                      .end = skip.to.pos,
                      .timeFrom = from == kNoTime ? kNoTime : from + took / kTicks27PerTick,
                      .timeTo = context_.since(skip.to.scr),
                      .kind = FindingKind::Gap,
                      .cause = FindingCause::ScrAhead});
    }
}

}  // namespace mpg
