// The figures of interleaved pairs: quantiles between ranks, and the ratio
// taken within each pair rather than between the sides' medians.
#include "pair_stats.h"

#include <gtest/gtest.h>

namespace {

using mpg::bench::median;
using mpg::bench::quantile;
using mpg::bench::summarisePairs;

TEST(PairStats, QuantilesInterpolateBetweenRanks) {
    EXPECT_DOUBLE_EQ(median({3, 1, 2}), 2);
    EXPECT_DOUBLE_EQ(median({4, 1, 3, 2}), 2.5);
    EXPECT_DOUBLE_EQ(quantile({1, 2, 3, 4, 5}, 0.25), 2);
    EXPECT_DOUBLE_EQ(quantile({10, 20}, 0.25), 12.5);
    EXPECT_DOUBLE_EQ(quantile({7}, 0.75), 7);
    EXPECT_DOUBLE_EQ(quantile({5, 1}, 1.0), 5);
    EXPECT_DOUBLE_EQ(median({}), 0);
}

TEST(PairStats, RatioIsTheMedianOfThePairsRatios) {
    // The machine slows down by half in the middle pairs: both sides of a
    // pair slow alike, so each pair's ratio stays 1.2, while the medians of
    // the sides, taken apart, happen to fall on pairs of different paces.
    const std::vector<double> ours{1.2, 1.8, 1.8, 1.8, 1.2, 1.2, 1.2};
    const std::vector<double> theirs{1.0, 1.5, 1.5, 1.5, 1.0, 1.0, 1.0};
    const auto s = summarisePairs(ours, theirs);
    EXPECT_EQ(s.pairs, 7u);
    EXPECT_DOUBLE_EQ(s.ratio, 1.2);
    EXPECT_DOUBLE_EQ(s.ratioMin, 1.2);
    EXPECT_DOUBLE_EQ(s.ratioMax, 1.2);
    EXPECT_DOUBLE_EQ(s.oursMedian, 1.2);
    EXPECT_DOUBLE_EQ(s.theirsMedian, 1.0);

    // One pair hit by a neighbour on one side only moves the spread, not the median.
    const auto t = summarisePairs({1.0, 1.1, 3.0, 1.05, 1.1}, {1.0, 1.0, 1.0, 1.0, 1.0});
    EXPECT_DOUBLE_EQ(t.ratio, 1.1);
    EXPECT_DOUBLE_EQ(t.ratioMin, 1.0);
    EXPECT_DOUBLE_EQ(t.ratioMax, 3.0);
    EXPECT_DOUBLE_EQ(t.ratioQ1, 1.05);
    EXPECT_DOUBLE_EQ(t.ratioQ3, 1.1);
}

TEST(PairStats, UnmatchedAndUnmeasurablePairsAreLeftOut) {
    const auto s = summarisePairs({2, 4, 6, 8}, {1, 0, 2});
    EXPECT_EQ(s.pairs, 2u);
    EXPECT_DOUBLE_EQ(s.ratio, 2.5);
    EXPECT_DOUBLE_EQ(s.ratioMin, 2);
    EXPECT_DOUBLE_EQ(s.ratioMax, 3);
    EXPECT_EQ(summarisePairs({}, {}).pairs, 0u);
}

}  // namespace
