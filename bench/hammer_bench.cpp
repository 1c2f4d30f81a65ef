// hammer_bench FILE [RUNS]: the scan of FILE beside each of the three repair
// strategies run on what that scan found, as the command-line companion runs
// them (no progress shown). Every strategy starts from the scan's own table,
// list and empty cut list. Prints one line of median seconds:
//
//   rows=N blocks=M scan=S eq=S rescan=S sizes=S
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "analysis/grid_sink.h"
#include "analysis/scan.h"
#include "repair/strategies.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Quiet : mpg::RepairProgress {
    bool due() override { return false; }
    void show(const std::string&) override {}
};

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
    std::vector<double> scans;
    for (int r = 0; r < runs; ++r) {
        scans.push_back(seconds([&] {
            mpg::GridSink sink(state, grid);
            if (mpg::scanFileAfresh(state, path, sink)) std::exit(1);
        }));
    }
    const std::vector<mpg::BlockRecord> scanned = state.table.entries();
    const mpg::ErrorGrid found = grid;

    using Strategy = std::function<void(mpg::RepairOptions&, Quiet&)>;
    const auto timed = [&](const Strategy& strategy) {
        std::vector<double> times;
        for (int r = 0; r < runs; ++r) {
            state.table.assign(scanned);
            state.view.clearCuts();
            state.view.resetCache();
            grid = found;
            mpg::RepairOptions options;
            Quiet progress;
            times.push_back(seconds([&] { strategy(options, progress); }));
        }
        return median(times);
    };
    const double eq =
        timed([&](mpg::RepairOptions& o, Quiet& p) { mpg::removeRunsEqualToDelta(state, grid, o, p); });
    const double rescan = timed(
        [&](mpg::RepairOptions& o, Quiet& p) { mpg::removeRunsAndRemeasure(state, grid, o, path, p); });
    const double sizes =
        timed([&](mpg::RepairOptions&, Quiet& p) { mpg::acceptRealSizes(state, grid, p); });
    std::printf("rows=%d blocks=%zu scan=%.3f eq=%.3f rescan=%.3f sizes=%.3f\n",
                found.rowCount() - 1, scanned.size(), median(scans), eq, rescan, sizes);
    return 0;
}
