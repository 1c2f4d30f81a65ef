#include <algorithm>

#include "repair/auto_repair_parts.h"

namespace mpg::autorepair {

namespace {

// Runs of several bytes cut together may keep a few bytes of those runs
// that were the payload's own: no more than this many, or an eighth of the
// excess, are kept in all.
constexpr uint32_t kMostKeptInSeveralRuns = 16;
// Of the longest runs this many are combined into pairs and triples.
constexpr size_t kRunsCombined = 40;

}  // namespace

std::vector<uint8_t> withCuts(const std::vector<uint8_t>& bytes, const Candidate& c) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    uint32_t at = 0;
    for (uint8_t k = 0; k < c.count; ++k) {
        out.insert(out.end(), bytes.begin() + at, bytes.begin() + c.cuts[k].start);
        at = c.cuts[k].start + c.cuts[k].length;
    }
    out.insert(out.end(), bytes.begin() + at, bytes.end());
    return out;
}

std::vector<Run> runsOf(const std::vector<uint8_t>& bytes) {
    std::vector<Run> runs;
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    for (uint32_t k = 4; k < n;) {
        uint32_t end = k + 1;
        while (end < n && bytes[end] == bytes[k]) ++end;
        if (end - k >= 2) runs.push_back({k, end - k, bytes[k]});
        k = end;
    }
    return runs;
}

// A block's own bytes hold few long runs: each byte that repeats the one
// before it costs what RepeatCosts says. The cut that leaves the block
// cheapest is the likeliest: it saves the cost of the bytes it cuts,
// less one byte's for a run it takes away whole (a run's first byte is
// free) and one for two halves it joins. Every run beyond the first
// costs a byte of 8 bits: damage seldom strikes one packet twice.
uint64_t rankOf(const Candidate& c) {
    constexpr int64_t kBest = int64_t{1} << 40;
    return static_cast<uint64_t>(kBest - c.gain);
}

std::vector<Candidate> runCandidates(const std::vector<uint8_t>& bytes, uint32_t delta,
                                     const RepeatCosts& repeatCost) {
    std::vector<Run> runs = runsOf(bytes);
    std::vector<Candidate> out;
    for (const Run& run : runs) {
        if (run.length < delta) continue;
        Candidate c;
        c.cuts[0] = {run.start + run.length - delta, delta, run.byte};
        c.count = 1;
        c.kept = run.length - delta;
        out.push_back(c);
    }
    std::sort(runs.begin(), runs.end(),
              [](const Run& a, const Run& b) { return a.length > b.length; });
    if (runs.size() > kRunsCombined) runs.resize(kRunsCombined);
    const uint32_t mostKept = std::min(kMostKeptInSeveralRuns, std::max(2u, delta / 8));
    const auto add = [&](std::array<Run, 3> parts, uint8_t count) {
        uint64_t total = 0;
        for (uint8_t k = 0; k < count; ++k) {
            if (parts[k].length >= delta) return;  // one run alone would do
            total += parts[k].length;
        }
        if (total < delta || total - delta > mostKept) return;
        std::sort(parts.begin(), parts.begin() + count,
                  [](const Run& a, const Run& b) { return a.start < b.start; });
        // The payload's own bytes are kept in the last run.
        Candidate c;
        c.count = count;
        c.kept = static_cast<uint32_t>(total - delta);
        for (uint8_t k = 0; k < count; ++k) {
            const uint32_t keep = k + 1 == count ? c.kept : 0;
            if (keep >= parts[k].length) return;
            c.cuts[k] = {parts[k].start + keep, parts[k].length - keep, parts[k].byte};
        }
        out.push_back(c);
    };
    // The runs are longest first: once a pair or triple falls short of
    // the excess, every later one does too.
    for (size_t a = 0; a < runs.size(); ++a) {
        for (size_t b = a + 1; b < runs.size(); ++b) {
            const uint64_t two = uint64_t{runs[a].length} + runs[b].length;
            if (two >= delta) add({runs[a], runs[b], Run{}}, 2);
            for (size_t c = b + 1; c < runs.size(); ++c) {
                if (two + runs[c].length < delta) break;
                add({runs[a], runs[b], runs[c]}, 3);
            }
        }
    }
    for (Candidate& c : out) {
        c.gain = -8 * 16 * (c.count - 1);
        for (uint8_t k = 0; k < c.count; ++k) {
            const Cut& cut = c.cuts[k];
            const int64_t cost = repeatCost[bytes[cut.start]];
            c.gain += cost * cut.length;
            const uint32_t before = cut.start - 1, after = cut.start + cut.length;
            const bool whole = before >= 4 && bytes[before] != bytes[cut.start] &&
                               (after >= bytes.size() || bytes[after] != bytes[cut.start]);
            if (!whole) continue;
            c.gain -= cost;
            if (after < bytes.size() && bytes[before] == bytes[after]) {
                c.gain -= repeatCost[bytes[before]];
            }
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Candidate& a, const Candidate& b) { return rankOf(a) < rankOf(b); });
    return out;
}

}  // namespace mpg::autorepair
