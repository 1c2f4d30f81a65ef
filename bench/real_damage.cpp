// real_damage: the scan measured on damage as real files suffer it.
//
//   real_damage --cli PATH [--ffmpeg PATH] [--out DIR] [--seeds N] [--seed S] [--jobs N]
//               [--damage NAME,...] [--repair] [--keep] LABEL,FORMAT=FILE...
//
// Every source file (LABEL names its kind of stream, FORMAT the ffmpeg muxer
// its remux is written with: mpeg, vob or dvd) is decoded clean by ffmpeg and
// scanned; then N copies (default 3) of it are made for every kind of damage
// of tests/support/real_damage.h, each from a generator seeded from S, the
// file's name, the kind and the copy's number, so that a run is repeated
// exactly. Each copy is decoded by ffmpeg (`-f null`, its error lines and
// the frames of each kind of stream) and scanned by `mpgmend-cli scan`, and
// by `scan --decode` when the CLI takes it. A copy "decodes worse" when it
// gives more error lines or fewer video or audio frames than its source; it
// is missed when it decodes worse and the scan exits 0. A copy the CLI
// refuses (exit 1) is checked against ffmpeg: does it decode without an
// error line, or remux.
//
// --repair also repairs each copy with `repair` (eq) and `repair --apply
// auto`, remuxes it with `ffmpeg -err_detect ignore_err -c copy`, and
// decodes the three: each repair against the damaged copy and against the
// remux. The tables go to standard output in markdown; OUT/real-damage.csv
// holds one line per copy with its ground truth. The copies are written to
// OUT/files and removed once measured, except those missed or refused
// (--keep keeps all).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "real_damage_tools.h"
#include "support/real_damage.h"
#include "support/temp_dir.h"

namespace {

using namespace mpg;
using namespace mpg::bench;
using namespace mpg::test;
namespace fs = std::filesystem;

struct Options {
    std::string cli, ffmpeg = "ffmpeg", out = "bench/out/real-damage";
    uint64_t seed = 20'261'209;
    int seeds = 3;
    int jobs = 2;
    bool repair = false;
    bool keep = false;
    std::set<std::string> damages;  // empty: every kind
    std::vector<std::string> sources;
};

struct Source {
    std::string label, format, path;
    SourceFile file;
    Decoded clean;
    Scanned scan, decodeScan;
};

struct Repaired {
    Decoded eq, automatic, remux;
};

struct Copy {
    size_t source = 0;
    RealDamage damage = RealDamage::CdMisread;
    int seed = 0;
    std::string path, truth;
    size_t size = 0;
    Decoded decoded;
    Scanned scan, decodeScan;
    bool worse = false, refused = false, plays = false, missed = false;
    Repaired repaired;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--cli" && hasValue) {
            o.cli = argv[++i];
        } else if (a == "--ffmpeg" && hasValue) {
            o.ffmpeg = argv[++i];
        } else if (a == "--out" && hasValue) {
            o.out = argv[++i];
        } else if (a == "--seeds" && hasValue) {
            o.seeds = std::atoi(argv[++i]);
        } else if (a == "--seed" && hasValue) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--jobs" && hasValue) {
            o.jobs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--damage" && hasValue) {
            std::istringstream names(argv[++i]);
            for (std::string n; std::getline(names, n, ',');) o.damages.insert(n);
        } else if (a == "--repair") {
            o.repair = true;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (!a.empty() && a[0] != '-' && a.find('=') != std::string::npos) {
            o.sources.push_back(a);
        } else {
            return false;
        }
    }
    return !o.cli.empty() && !o.sources.empty() && o.seeds > 0;
}

// FNV-1a of a name: a seed that does not depend on the order of the sources.
uint64_t nameHash(const std::string& s) {
    uint64_t h = 1469598103934665603ULL;
    for (const char c : s) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ULL;
    return h;
}

std::optional<Source> loadSource(const std::string& entry, const Options& o,
                                 const std::string& scratch, bool decodes) {
    Source s;
    const size_t comma = entry.find(','), equals = entry.find('=');
    if (comma == std::string::npos || comma > equals) return std::nullopt;
    s.label = entry.substr(0, comma);
    s.format = entry.substr(comma + 1, equals - comma - 1);
    s.path = entry.substr(equals + 1);
    std::optional<SourceFile> file = loadSourceFile(s.path);
    if (!file) {
        std::cerr << s.path << ": does not scan clean, left out\n";
        return std::nullopt;
    }
    s.file = std::move(*file);
    s.clean = decodeFile(o.ffmpeg, s.path, scratch);
    s.scan = scanFile(o.cli, s.path, false, scratch);
    if (decodes) s.decodeScan = scanFile(o.cli, s.path, true, scratch);
    return s;
}

std::string copyPath(const Options& o, const Source& s, RealDamage d, int seed) {
    const fs::path p(s.path);
    return o.out + "/files/" + s.label + "-" + p.stem().string() + "-" + realDamageName(d) + "-" +
           std::to_string(seed) + p.extension().string();
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void repairCopy(const Options& o, const Source& s, Copy& c, const std::string& scratch) {
    const std::string base = scratch + ".repair";
    const std::string eq = base + "-eq.mpg", automatic = base + "-auto.mpg",
                      remux = base + "-remux.mpg";
    runProgram({o.cli, "--quiet", "repair", c.path, "-o", eq, "--force"}, scratch);
    runProgram({o.cli, "--quiet", "repair", c.path, "--apply", "auto", "-o", automatic, "--force"},
               scratch);
    remuxFile(o.ffmpeg, c.path, s.format, remux, true, scratch);
    // A repair that wrote nothing decodes as nothing: no frames, one error.
    c.repaired.eq = decodeFile(o.ffmpeg, eq, scratch);
    c.repaired.automatic = decodeFile(o.ffmpeg, automatic, scratch);
    c.repaired.remux = decodeFile(o.ffmpeg, remux, scratch);
    for (const std::string& p : {eq, automatic, remux}) fs::remove(p);
}

void measureCopy(const Options& o, const std::vector<Source>& sources, Copy& c, bool decodes,
                 const std::string& scratch) {
    const Source& s = sources[c.source];
    c.decoded = decodeFile(o.ffmpeg, c.path, scratch);
    c.scan = scanFile(o.cli, c.path, false, scratch);
    if (decodes) c.decodeScan = scanFile(o.cli, c.path, true, scratch);
    c.worse = compareDecodes(c.decoded, s.clean) == Compared::Worse;
    c.refused = c.scan.status == 1;
    if (c.refused) {
        c.plays = (c.decoded.errors == 0 && c.decoded.frames() > 0) ||
                  remuxFile(o.ffmpeg, c.path, s.format, "", false, scratch);
    }
    const Scanned& judge = decodes ? c.decodeScan : c.scan;
    c.missed = c.worse && judge.status == 0;
    if (o.repair) repairCopy(o, s, c, scratch);
}

// The copies to make: every source, every kind asked for, every seed.
std::vector<Copy> plan(const Options& o, const std::vector<Source>& sources) {
    std::vector<Copy> copies;
    for (size_t i = 0; i < sources.size(); ++i) {
        for (const RealDamage d : kRealDamages) {
            if (!o.damages.empty() && o.damages.count(realDamageName(d)) == 0) continue;
            for (int seed = 1; seed <= o.seeds; ++seed) {
                Copy c;
                c.source = i;
                c.damage = d;
                c.seed = seed;
                copies.push_back(c);
            }
        }
    }
    return copies;
}

// Makes, writes and measures the copies on `jobs` threads; a copy whose kind
// does not apply to its source keeps an empty path.
void runCopies(const Options& o, const std::vector<Source>& sources, std::vector<Copy>& copies,
               bool decodes) {
    std::atomic<size_t> next{0}, done{0};
    const auto work = [&](int worker) {
        const std::string scratch = o.out + "/scratch-" + std::to_string(worker);
        for (size_t k = next++; k < copies.size(); k = next++) {
            Copy& c = copies[k];
            const Source& s = sources[c.source];
            std::mt19937_64 rng(o.seed ^ nameHash(s.file.name) ^
                                (static_cast<uint64_t>(c.damage) << 40) ^
                                static_cast<uint64_t>(c.seed));
            const std::optional<RealDamaged> d = damageFile(s.file, c.damage, rng);
            if (d) {
                c.path = copyPath(o, s, c.damage, c.seed);
                c.size = d->bytes.size();
                c.truth = spliceSummary(d->splices);
                writeBytes(c.path, d->bytes);
                measureCopy(o, sources, c, decodes, scratch);
                if (!o.keep && !c.missed && !(c.refused && c.plays)) fs::remove(c.path);
            }
            const size_t n = ++done;
            if (n % 20 == 0) std::cerr << n << " of " << copies.size() << " copies\n";
        }
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < o.jobs; ++w) threads.emplace_back(work, w);
    for (std::thread& t : threads) t.join();
}

struct Tally {
    int files = 0, worse = 0, foundScan = 0, foundDecode = 0, missed = 0, missedScan = 0,
        refusedPlays = 0;
    void add(const Copy& c) {
        ++files;
        worse += c.worse;
        foundScan += c.scan.status == 3;
        foundDecode += c.decodeScan.status == 3;
        missed += c.missed;
        missedScan += c.worse && c.scan.status == 0;
        refusedPlays += c.refused && c.plays;
    }
};

void printTally(const std::string& head, const Tally& t, bool decodes) {
    std::cout << "| " << head << " | " << t.files << " | " << t.worse << " | " << t.foundScan
              << " | " << (decodes ? std::to_string(t.foundDecode) : "–") << " | " << t.missedScan
              << " | " << t.missed << " | " << t.refusedPlays << " |\n";
}

void printFoundTables(const std::vector<Source>& sources, const std::vector<Copy>& copies,
                      bool decodes) {
    const char* header =
        " | files | decodes worse | found by scan | found by scan --decode | missed by scan | "
        "missed | refused, ffmpeg plays |\n";
    std::map<std::string, Tally> byDamage;
    std::map<std::pair<std::string, std::string>, Tally> byBoth;
    for (const Copy& c : copies) {
        if (c.path.empty()) continue;
        byDamage[realDamageName(c.damage)].add(c);
        byBoth[{realDamageName(c.damage), sources[c.source].label}].add(c);
    }
    Tally all;
    std::cout << "#### By kind of damage\n\n| damage" << header
              << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const RealDamage d : kRealDamages) {
        const auto it = byDamage.find(realDamageName(d));
        if (it == byDamage.end()) continue;
        printTally(it->first, it->second, decodes);
        for (const Copy& c : copies) {
            if (!c.path.empty() && c.damage == d) all.add(c);
        }
    }
    printTally("**all**", all, decodes);
    // Then a cell per kind of damage and kind of stream.
    std::vector<std::string> labels;
    for (const Source& s : sources) {
        if (std::find(labels.begin(), labels.end(), s.label) == labels.end())
            labels.push_back(s.label);
    }
    std::cout << "\n#### By kind of damage and kind of stream (decodes worse / found by the "
                 "scan"
              << (decodes ? " or by scan --decode" : "") << " / missed, of files)\n\n| damage |";
    for (const std::string& l : labels) std::cout << " " << l << " |";
    std::cout << "\n|---|";
    for (size_t k = 0; k < labels.size(); ++k) std::cout << "---|";
    std::cout << "\n";
    for (const RealDamage d : kRealDamages) {
        if (byDamage.count(realDamageName(d)) == 0) continue;
        std::cout << "| " << realDamageName(d) << " |";
        for (const std::string& l : labels) {
            const auto it = byBoth.find({realDamageName(d), l});
            if (it == byBoth.end()) {
                std::cout << " – |";
                continue;
            }
            const Tally& t = it->second;
            std::cout << " " << t.worse << " / " << std::max(t.foundScan, t.foundDecode) << " / "
                      << t.missed << ", of " << t.files << " |";
        }
        std::cout << "\n";
    }
}

void printCleanTable(const std::vector<Source>& sources, bool decodes) {
    std::cout << "#### Clean streams\n\n| stream | file | ffmpeg errors | frames (video / audio) | "
                 "scan exit | rows | scan --decode exit | rows | false row |\n"
                 "|---|---|---:|---|---:|---|---:|---|---|\n";
    for (const Source& s : sources) {
        const bool falseRow =
            s.scan.status != 0 || s.scan.rowCount() > 0 ||
            (decodes && (s.decodeScan.status != 0 || s.decodeScan.rowCount() > 0));
        std::cout << "| " << s.label << " | " << s.file.name << " | " << s.clean.errors << " | "
                  << s.clean.videoFrames << " / " << s.clean.audioFrames << " | " << s.scan.status
                  << " | " << s.scan.rowsText() << " | "
                  << (decodes ? std::to_string(s.decodeScan.status) : "–") << " | "
                  << s.decodeScan.rowsText() << " | " << (falseRow ? "**yes**" : "no") << " |\n";
    }
    std::cout << "\n";
}

const char* comparedText(Compared c) {
    switch (c) {
        case Compared::Worse:
            return "worse";
        case Compared::Same:
            return "same";
        case Compared::Better:
            return "better";
    }
    return "";
}

// better / same / worse of one decode against another, summed.
struct Thirds {
    int n[3] = {0, 0, 0};
    void add(Compared c) { ++n[static_cast<int>(c)]; }
    std::string text() const {
        return std::to_string(n[2]) + " / " + std::to_string(n[1]) + " / " + std::to_string(n[0]);
    }
};

void printRepairTable(const std::vector<Copy>& copies) {
    std::cout << "\n#### Repairs, decoded (better / same / worse)\n\n| damage | files | eq vs "
                 "damaged | auto vs damaged | remux vs damaged | eq vs remux | auto vs remux |\n"
                 "|---|---:|---|---|---|---|---|\n";
    for (const RealDamage d : kRealDamages) {
        int files = 0;
        Thirds eq, automatic, remux, eqRemux, autoRemux;
        for (const Copy& c : copies) {
            if (c.path.empty() || c.damage != d) continue;
            ++files;
            const Repaired& r = c.repaired;
            eq.add(compareDecodes(r.eq, c.decoded));
            automatic.add(compareDecodes(r.automatic, c.decoded));
            remux.add(compareDecodes(r.remux, c.decoded));
            eqRemux.add(compareDecodes(r.eq, r.remux));
            autoRemux.add(compareDecodes(r.automatic, r.remux));
        }
        if (files == 0) continue;
        std::cout << "| " << realDamageName(d) << " | " << files << " | " << eq.text() << " | "
                  << automatic.text() << " | " << remux.text() << " | " << eqRemux.text() << " | "
                  << autoRemux.text() << " |\n";
    }
}

std::string decodedCsv(const Decoded& d) {
    return std::to_string(d.errors) + "," + std::to_string(d.videoFrames) + "," +
           std::to_string(d.audioFrames);
}

void writeCsv(const std::string& path, const std::vector<Source>& sources,
              const std::vector<Copy>& copies, bool repair) {
    std::ofstream csv(path, std::ios::trunc);
    csv << "stream,source,damage,seed,file,size,clean_errors,clean_video,clean_audio,errors,video,"
           "audio,decodes_worse,scan_exit,scan_rows,decode_exit,decode_rows,refused,ffmpeg_plays,"
           "missed";
    if (repair)
        csv << ",eq_errors,eq_video,eq_audio,auto_errors,auto_video,auto_audio,"
               "remux_errors,remux_video,remux_audio,eq_vs_remux,auto_vs_remux";
    csv << ",ground_truth\n";
    for (const Copy& c : copies) {
        if (c.path.empty()) continue;
        const Source& s = sources[c.source];
        csv << s.label << ',' << s.file.name << ',' << realDamageName(c.damage) << ',' << c.seed
            << ',' << fs::path(c.path).filename().string() << ',' << c.size << ','
            << decodedCsv(s.clean) << ',' << decodedCsv(c.decoded) << ',' << c.worse << ','
            << c.scan.status << ',' << c.scan.rowsText() << ',' << c.decodeScan.status << ','
            << c.decodeScan.rowsText() << ',' << c.refused << ',' << c.plays << ',' << c.missed;
        if (repair) {
            const Repaired& r = c.repaired;
            csv << ',' << decodedCsv(r.eq) << ',' << decodedCsv(r.automatic) << ','
                << decodedCsv(r.remux) << ',' << comparedText(compareDecodes(r.eq, r.remux)) << ','
                << comparedText(compareDecodes(r.automatic, r.remux));
        }
        csv << ",\"" << c.truth << "\"\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::cerr << "usage: real_damage --cli PATH [--ffmpeg PATH] [--out DIR] [--seeds N] "
                     "[--seed S] [--jobs N] [--damage NAME,...] [--repair] [--keep] "
                     "LABEL,FORMAT=FILE...\n";
        return 2;
    }
    fs::create_directories(o.out + "/files");
    const std::string scratch = o.out + "/scratch";
    const bool decodes = cliDecodes(o.cli, scratch);
    std::vector<Source> sources;
    for (const std::string& entry : o.sources) {
        if (std::optional<Source> s = loadSource(entry, o, scratch, decodes))
            sources.push_back(std::move(*s));
    }
    if (sources.empty()) return 1;
    std::vector<Copy> copies = plan(o, sources);
    runCopies(o, sources, copies, decodes);

    std::cout << "Seeds 1 to " << o.seeds << " from " << o.seed << "; `scan --decode` "
              << (decodes ? "measured" : "not known to this CLI") << ".\n\n";
    printCleanTable(sources, decodes);
    printFoundTables(sources, copies, decodes);
    if (o.repair) printRepairTable(copies);
    writeCsv(o.out + "/real-damage.csv", sources, copies, o.repair);
    return 0;
}
