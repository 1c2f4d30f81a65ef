// The figures of a comparison timed in interleaved pairs: each pair is one
// run of ours and then one of theirs, close enough in time that a change of
// the machine's pace (a neighbour's build, the page cache's writeback) lands
// on both of its sides. The ratio is taken within each pair and the median of
// those ratios reported, with their spread; each side's median stands beside
// it for the seconds, but a ratio of the two medians would mix runs made at
// different paces again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace mpg::bench {

// The q-quantile (0 <= q <= 1) by linear interpolation between the two
// closest ranks: the median of an even count is the mean of its middle pair.
inline double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = q * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(rank);
    if (below + 1 >= values.size()) return values.back();
    const double part = rank - static_cast<double>(below);
    return values[below] + part * (values[below + 1] - values[below]);
}

inline double median(const std::vector<double>& values) {
    return quantile(values, 0.5);
}

struct PairSummary {
    size_t pairs = 0;
    double oursMedian = 0;    // seconds
    double theirsMedian = 0;  // seconds
    double ratio = 0;         // the median of the pairs' ratios, ours / theirs
    double ratioMin = 0, ratioMax = 0;
    double ratioQ1 = 0, ratioQ3 = 0;  // the interquartile range of the ratios
};

// `ours[i]` and `theirs[i]` are the seconds of pair i. Pairs beyond the
// shorter list, and pairs where theirs took no measurable time, are left out.
inline PairSummary summarisePairs(const std::vector<double>& ours,
                                  const std::vector<double>& theirs) {
    PairSummary s;
    std::vector<double> a, b, ratios;
    for (size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) {
        if (!(theirs[i] > 0)) continue;
        a.push_back(ours[i]);
        b.push_back(theirs[i]);
        ratios.push_back(ours[i] / theirs[i]);
    }
    s.pairs = ratios.size();
    if (ratios.empty()) return s;
    s.oursMedian = median(a);
    s.theirsMedian = median(b);
    s.ratio = median(ratios);
    s.ratioMin = *std::min_element(ratios.begin(), ratios.end());
    s.ratioMax = *std::max_element(ratios.begin(), ratios.end());
    s.ratioQ1 = quantile(ratios, 0.25);
    s.ratioQ3 = quantile(ratios, 0.75);
    return s;
}

}  // namespace mpg::bench
