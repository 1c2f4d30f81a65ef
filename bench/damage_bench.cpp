// damage_bench: every repair strategy on randomly damaged copies of the
// fixture streams, and the automatic repair beside eq on a large stream.
//
//   damage_bench [--seed S] [--cases N] [--least-run L] [--failures] [--big] [--big-dir DIR]
//                [--big-size BYTES]
//
// For each class of damage (tests/support/damage.h) and each kind of stream
// (MPEG-1, video CD with sector fill, MPEG-2), N copies (default 20) of the
// kind's fixtures, taken in turn, are damaged with a generator seeded from S
// (default 20261207), the class and the kind; each copy is scanned,
// repaired by eq, eq of any byte, rescan pressed twice and the automatic
// repair (blocks still listed then written with their length set from their
// real size, as the command line does by default) and saved, and the saved
// file is judged against the clean stream by the class's measure. The table
// goes to standard output in markdown, the rows as they are done to
// standard error; --failures adds there the first copies each strategy did
// not mend, with their ground truth. --least-run L makes every inserted run
// at least L bytes long: a run of one to three bytes cannot be told from the
// payload's own bytes, and this shows the strategies without them.
//
// --big also makes a stream of BYTES (default 1 GiB) with mpgsynth, 1,000 runs
// of zeros inserted into its packets, in DIR (default the temporary folder),
// and times the scan, eq and the automatic repair on it, each press and its
// save apart. The stream and the saved files (2 GiB together) are removed.
#include <sys/statvfs.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/damage.h"
#include "support/damage_eval.h"
#include "support/temp_dir.h"

namespace {

using namespace mpg;
using namespace mpg::test;
using Clock = std::chrono::steady_clock;

struct Options {
    uint64_t seed = 20'261'207;
    size_t cases = 20;
    size_t leastRun = 1;
    bool big = false;
    std::string bigDir;
    uint64_t bigSize = uint64_t{1} << 30;
    bool failures = false;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--seed" && hasValue) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--least-run" && hasValue) {
            o.leastRun = std::max<size_t>(1, std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--cases" && hasValue) {
            o.cases = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--failures") {
            o.failures = true;
        } else if (a == "--big") {
            o.big = true;
        } else if (a == "--big-dir" && hasValue) {
            o.big = true;
            o.bigDir = argv[++i];
        } else if (a == "--big-size" && hasValue) {
            o.big = true;
            o.bigSize = std::strtoull(argv[++i], nullptr, 10);
        } else {
            return false;
        }
    }
    return o.cases > 0;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string percent(const TrialTally& t) {
    if (t.measured == 0) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", t.percent());
    return text;
}

// A cell: the share that passed the measure and, when the measure is not
// exactness, the share exact in brackets.
std::string cell(const TrialTally& t, Measure m, size_t cases) {
    std::string text = percent(t);
    if (m != Measure::Exact && cases > 0) {
        char exact[32];
        std::snprintf(exact, sizeof exact, " (%.0f%%)", 100.0 * t.exact / cases);
        text += exact;
    }
    if (t.inputChanged > 0) text += " INPUT CHANGED";
    return text;
}

struct Totals {
    size_t cases = 0;
    double scan = 0;
    std::array<double, kTrials.size()> repair{};
};

void printRow(const std::string& damage, const FixtureKind& kind, Measure m, RowResult& row,
              Totals& totals, bool failures) {
    std::printf("| %s | %s | %s |", damage.c_str(), kind.name, measureText(m));
    for (Trial t : kTrials) std::printf(" %s |", cell(row.of(t), m, row.cases).c_str());
    std::printf(" %zu |\n", row.cases);
    std::fflush(stdout);
    totals.cases += row.cases;
    for (Trial t : kTrials) {
        totals.scan += row.of(t).scanSeconds / kTrials.size();
        totals.repair[static_cast<size_t>(t)] += row.of(t).repairSeconds;
    }
    std::fprintf(stderr, "%s, %s: %zu copies\n", damage.c_str(), kind.name, row.cases);
    for (Trial t : kTrials) {
        if (!failures) break;
        for (const std::string& what : row.of(t).failures)
            std::fprintf(stderr, "  %s failed: %s\n", trialText(t), what.c_str());
    }
}

// --- the large stream ---------------------------------------------------------

// A large stream through one trial, and its saved file scanned; the saved
// file is removed.
TrialRun timeOnBigStream(const std::string& input, Trial trial, const std::string& output,
                         bool& savedScansClean) {
    const TrialRun run = runTrial(input, trial, output, false);
    savedScansClean = run.saved && scansClean(output);
    std::filesystem::remove(output);
    return run;
}

int bigStream(const Options& o) {
    namespace fs = std::filesystem;
    const fs::path base = o.bigDir.empty() ? fs::temp_directory_path() : fs::path(o.bigDir);
    struct statvfs vfs {};
    if (::statvfs(base.c_str(), &vfs) != 0 || static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize <
                                                  2 * o.bigSize + (uint64_t{256} << 20)) {
        std::printf("\nThe large stream was left out: %s has less than twice its size free.\n",
                    base.c_str());
        return 0;
    }
    std::string folder = (base / "damage-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const std::string input = folder + "/damaged.mpg", output = folder + "/repaired.mpg";
    const std::string make = std::string(MPGSYNTH) + " '" + input + "' --size " +
                             std::to_string(o.bigSize) + " --zero-runs 1000 --seed " +
                             std::to_string(o.seed);
    std::fprintf(stderr, "making %s\n", input.c_str());
    int rc = std::system(make.c_str()) == 0 ? 0 : 1;
    TrialRun eq, automatic;
    bool eqClean = false, autoClean = false;
    if (rc == 0) {
        std::fprintf(stderr, "eq on the large stream\n");
        eq = timeOnBigStream(input, Trial::Eq, output, eqClean);
        std::fprintf(stderr, "auto on the large stream\n");
        automatic = timeOnBigStream(input, Trial::Auto, output, autoClean);
        rc = eq.saved && automatic.saved ? 0 : 1;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (rc != 0) {
        std::fprintf(stderr, "the large stream could not be made or repaired\n");
        return rc;
    }
    std::printf(
        "\nA stream of %llu bytes made by mpgsynth with 1,000 runs of 100 to 5,000 zeros in "
        "its packets (%zu blocks listed); seconds, page cache warm; the saved file scanned "
        "afterwards:\n\n",
        static_cast<unsigned long long>(o.bigSize), eq.listed);
    std::printf("| strategy | scan | press | save | saved file scans clean |\n");
    std::printf("|---|---|---|---|---|\n");
    const auto line = [](const char* name, const TrialRun& t, bool clean) {
        std::printf("| %s | %.2f | %.3f | %.2f | %s |\n", name, t.scanSeconds, t.pressSeconds,
                    t.saveSeconds, clean ? "yes" : "no");
    };
    line("eq", eq, eqClean);
    line("auto", automatic, autoClean);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(
            stderr,
            "usage: damage_bench [--seed S] [--cases N] [--least-run L] [--failures] [--big] "
            "[--big-dir DIR] [--big-size BYTES]\n");
        return 2;
    }
    for (const FixtureKind& kind : fixtureKinds()) {
        for (const std::string& file : kind.files) {
            if (cleanFixture(file).bytes.empty()) {
                std::fprintf(stderr, "%s: no clean stream\n", file.c_str());
                return 1;
            }
        }
    }
    TempDir dir;
    const Clock::time_point start = Clock::now();
    std::printf("# The repair strategies on damaged copies of the fixtures\n\n`damage_bench");
    for (int i = 1; i < argc; ++i) std::printf(" %s", argv[i]);
    std::printf("`\n\n");
    std::printf(
        "Seed %llu, %zu damaged copies per row (the kind's fixtures in turn). A cell is the "
        "share of copies whose saved file passes the row's measure; where that is not "
        "exactness, the share restored byte for byte follows in brackets.\n\n",
        static_cast<unsigned long long>(o.seed), o.cases);
    std::printf("| damage | streams | measure |");
    for (Trial t : kTrials) std::printf(" %s |", trialText(t));
    std::printf(" copies |\n|---|---|---|---|---|---|---|---|\n");
    Totals totals;
    for (DamageClass c : kDamageClasses) {
        for (const FixtureKind& kind : fixtureKinds()) {
            RowResult row = evaluateRow(c, kind, o.cases, o.seed, dir,
                                        {kTrials.begin(), kTrials.end()}, o.leastRun);
            printRow(damageClassText(c), kind, measureOf(c), row, totals, o.failures);
        }
    }
    for (const FixtureKind& kind : fixtureKinds()) {
        RowResult row = evaluateCleanFixtures(kind, dir);
        printRow("none (the fixture itself)", kind, Measure::Exact, row, totals, o.failures);
    }
    std::printf(
        "\nMean time per copy (ms), the scan once and each strategy's presses with the "
        "save:\n\n| scan |");
    for (Trial t : kTrials) std::printf(" %s |", trialText(t));
    std::printf("\n|---|---|---|---|---|\n| %.2f |", 1000 * totals.scan / totals.cases);
    for (Trial t : kTrials)
        std::printf(" %.2f |", 1000 * totals.repair[static_cast<size_t>(t)] / totals.cases);
    std::printf("\n\n%zu copies in %.0f s.\n", totals.cases, secondsSince(start));
    return o.big ? bigStream(o) : 0;
}
