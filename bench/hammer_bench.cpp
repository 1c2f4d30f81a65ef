// hammer_bench FILE [RUNS]: the scan of FILE beside each of the three repair
// strategies run on what that scan found, as the command-line companion runs
// them (no progress shown). Each of the RUNS rounds scans afresh and then
// presses each strategy on that scan's own table, list and empty cut list, so
// that a round's figures are taken close together in time and the ratio of
// the slowest strategy to the scan is taken within the round (the median of
// the rounds' ratios and their spread, as bench/pairtime does for whole
// programs). Prints one line of median seconds:
//
//   rows=N blocks=M scan=S eq=S rescan=S sizes=S ratio=R min=R max=R
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "analysis/grid_sink.h"
#include "analysis/scan.h"
#include "pair_stats.h"
#include "repair/strategies.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hammer_bench FILE [RUNS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    mpg::AppState state;
    mpg::ErrorGrid grid;
    std::vector<double> scans, eqs, rescans, sizes, slowest;
    std::vector<mpg::BlockRecord> scanned;
    mpg::ErrorGrid found;
    // A press as the window and the command line make it, the list rebuilt,
    // from the round's scan.
    const auto press = [&](mpg::Strategy strategy) {
        state.table.assign(scanned);
        state.view.clearCuts();
        state.view.resetCache();
        grid = found;
        mpg::RepairOptions options;
        mpg::QuietRepairProgress progress;
        return seconds([&] { mpg::applyStrategy(state, grid, strategy, options, path, progress); });
    };
    for (int r = 0; r < runs; ++r) {
        grid = mpg::ErrorGrid();
        scans.push_back(seconds([&] {
            mpg::GridSink sink(grid);
            if (mpg::scanFileAfresh(state, path, sink)) std::exit(1);
        }));
        scanned = state.table.entries();
        found = grid;
        eqs.push_back(press(mpg::Strategy::RemoveRunsEqualToDelta));
        rescans.push_back(press(mpg::Strategy::RemoveRunsAndRemeasure));
        sizes.push_back(press(mpg::Strategy::AcceptRealSizes));
        slowest.push_back(std::max({eqs.back(), rescans.back(), sizes.back()}));
    }
    const mpg::bench::PairSummary s = mpg::bench::summarisePairs(slowest, scans);
    std::printf(
        "rows=%d blocks=%zu scan=%.4f eq=%.4f rescan=%.4f sizes=%.4f ratio=%.3f min=%.3f "
        "max=%.3f\n",
        found.rowCount() - 1, scanned.size(), s.theirsMedian, mpg::bench::median(eqs),
        mpg::bench::median(rescans), mpg::bench::median(sizes), s.ratio, s.ratioMin, s.ratioMax);
    return 0;
}
