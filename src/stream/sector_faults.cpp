#include "stream/sector_faults.h"

#include <algorithm>

namespace mpg {

namespace {

struct Steps {
    Position sector, stream, file;
    uint32_t address;
};

// `row` moved by `times` steps (unsigned arithmetic: a step may be
// negative, and a row read back is always one that was listed).
SectorFaultRow moved(SectorFaultRow row, const Steps& steps, Position times) {
    row.sector += times * steps.sector;
    row.address += static_cast<uint32_t>(times) * steps.address;
    row.streamStart += times * steps.stream;
    row.streamEnd += times * steps.stream;
    row.fileStart += times * steps.file;
    row.fileEnd += times * steps.file;
    return row;
}

}  // namespace

void SectorFaultList::clear() {
    patterns_.clear();
    patterns_.shrink_to_fit();
    runs_.clear();
    runs_.shrink_to_fit();
    rows_ = 0;
}

SectorFaultRow SectorFaultList::rowOf(const Run& run, size_t inRun) const {
    const Steps steps{run.sectorStep, run.streamStep, run.fileStep, run.addressStep};
    return moved(patterns_[run.pattern + inRun % run.width], steps, inRun / run.width);
}

bool SectorFaultList::extend(Run& run, const SectorFaultRow& row) {
    if (run.repeats > 1 || run.partial > 0) {
        if (rowOf(run, run.rows()) != row) return false;
    } else {
        // The pattern grows while the rows are of its sector; the first row
        // of another sets the steps.
        const SectorFaultRow& first = patterns_[run.pattern];
        if (row.sector == patterns_.back().sector) {
            if (run.width == kWidest) return false;
            patterns_.push_back(row);
            ++run.width;
            return true;
        }
        const Steps steps{row.sector - first.sector, row.streamStart - first.streamStart,
                          row.fileStart - first.fileStart, row.address - first.address};
        if (moved(first, steps, 1) != row) return false;
        run.sectorStep = steps.sector;
        run.streamStep = steps.stream;
        run.fileStep = steps.file;
        run.addressStep = steps.address;
    }
    if (++run.partial == run.width) {
        ++run.repeats;
        run.partial = 0;
    }
    return true;
}

void SectorFaultList::startRun(const SectorFaultRow& row) {
    Run run;
    run.firstRow = rows_;
    run.pattern = patterns_.size();
    patterns_.push_back(row);
    runs_.push_back(run);
}

void SectorFaultList::push_back(const SectorFaultRow& row) {
    if (!runs_.empty() && !extend(runs_.back(), row)) {
        // A repetition begun and not completed starts a run of its own.
        Run& last = runs_.back();
        if (last.partial > 0) {
            const size_t begun = last.rows() - last.partial;
            std::vector<SectorFaultRow> part;
            for (uint32_t k = 0; k < last.partial; ++k) part.push_back(rowOf(last, begun + k));
            last.partial = 0;
            rows_ -= part.size();
            startRun(part.front());
            ++rows_;
            for (size_t k = 1; k < part.size(); ++k) {
                extend(runs_.back(), part[k]);
                ++rows_;
            }
            if (extend(runs_.back(), row)) {
                ++rows_;
                return;
            }
        }
        startRun(row);
    } else if (runs_.empty()) {
        startRun(row);
    }
    ++rows_;
}

SectorFaultRow SectorFaultList::operator[](size_t i) const {
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), i,
                                        [](size_t row, const Run& r) { return row < r.firstRow; });
    const Run& run = *(after - 1);
    return rowOf(run, i - run.firstRow);
}

std::vector<SectorFaultRow> SectorFaultList::rows() const {
    return {begin(), end()};
}

bool SectorFaultList::operator==(const SectorFaultList& other) const {
    return rows_ == other.rows_ && std::equal(begin(), end(), other.begin());
}

SectorFaultRow SectorFaultList::Iterator::operator*() const {
    return list_->rowOf(list_->runs_[run_], row_);
}

SectorFaultList::Iterator& SectorFaultList::Iterator::operator++() {
    if (++row_ == list_->runs_[run_].rows()) {
        ++run_;
        row_ = 0;
    }
    return *this;
}

}  // namespace mpg
