#include "analysis/fill_ledger.h"

#include <algorithm>

namespace mpg {

void FillLedger::takeFill(Position pos, Position length) {
    if (length == 0) return;
    if (open_.end > open_.begin && open_.end == pos) {
        open_.end += length;
        return;
    }
    closeRun();
    open_ = {pos, pos + length};
}

void FillLedger::closeRun() {
    const Position length = open_.end - open_.begin;
    if (length == 0) return;
    longest_ = std::max(longest_, length);
    if (length >= kLeastHole) runs_.push_back(open_);
    open_ = {};
}

void FillLedger::takeStamp(Position pos, int64_t time) {
    if (time == kNoTime) return;
    if (firstStamp_ == kNoTime) {
        firstStamp_ = time;
        firstStampAt_ = pos;
    }
    if (time > lastStamp_) {
        lastStamp_ = time;
        lastStampAt_ = pos;
    }
}

void FillLedger::takePack(Position pos, int64_t time, uint32_t muxRate) {
    packAt_ = pos;
    packTime_ = time;
    muxRate_ = muxRate;
}

void FillLedger::resolve(CheckContext& context, Position end) {
    trailingHole(context, end);
    closeRun();
    turnGapsIntoHoles(context.findings());
}

void FillLedger::turnGapsIntoHoles(FindingList& findings) const {
    if (runs_.empty()) return;
    std::vector<std::pair<Position, Position>> lost;  // where the system clock skips
    for (const Finding& f : findings.items()) {
        if (f.kind == FindingKind::Gap && f.cause == FindingCause::ScrAhead)
            lost.emplace_back(f.begin, f.end);
    }
    const std::vector<Finding> all = findings.items();
    findings.clear();
    for (const Finding& finding : all) findings.add(asHole(finding, lost));
}

Finding FillLedger::asHole(Finding gap,
                           const std::vector<std::pair<Position, Position>>& lost) const {
    // The system clock's gaps are lost bytes, never zeros in place, and so
    // is a stream's gap across them.
    if (gap.kind != FindingKind::Gap || gap.stream == 0 ||
        std::any_of(lost.begin(), lost.end(), [&](const auto& range) {
            return range.first < gap.end && range.second > gap.begin;
        })) {
        return gap;
    }
    auto run = std::lower_bound(runs_.begin(), runs_.end(), gap.begin,
                                [](const Run& r, Position at) { return r.begin < at; });
    if (run == runs_.end() || run->end > gap.end) return gap;
    const Position begin = run->begin;
    Position holeEnd = run->end;
    while (++run != runs_.end() && run->end <= gap.end) holeEnd = run->end;
    gap.kind = FindingKind::Hole;
    gap.cause = FindingCause::ZeroRun;
    gap.begin = begin;
    gap.end = holeEnd;
    return gap;
}

void FillLedger::trailingHole(CheckContext& context, Position end) const {
    const Position length = open_.end - open_.begin;
    if (open_.end != end || length < kLeastTrailingHole || length < kTrailingTimes * longest_ ||
        muxRate_ == 0 || packTime_ == kNoTime || open_.begin < packAt_) {
        return;
    }
    // 90,000 ticks a second over mux rate × 50 bytes a second.
    double ticksPerByte = 1800.0 / muxRate_;
    if (lastStamp_ > firstStamp_ && lastStampAt_ > firstStampAt_) {
        ticksPerByte =
            std::max(ticksPerByte, static_cast<double>(lastStamp_ - firstStamp_) /
                                       static_cast<double>(lastStampAt_ - firstStampAt_));
    }
    const auto timeAt = [&](Position pos) {
        return packTime_ + static_cast<int64_t>(static_cast<double>(pos - packAt_) * ticksPerByte);
    };
    if (lastStamp_ != kNoTime && timeAt(end) <= lastStamp_) return;
    context.add({.begin = open_.begin,
                 .end = end,
                 .timeFrom = timeAt(open_.begin),
                 .timeTo = timeAt(end),
                 .kind = FindingKind::Hole,
                 .cause = FindingCause::ZeroRun});
}

}  // namespace mpg
