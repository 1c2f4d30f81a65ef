#include "support/damage_eval.h"

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <map>
#include <sstream>

#include "analysis/grid_sink.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "model/elementary.h"
#include "repair/strategies.h"
#include "repair/verify.h"
#include "repair/writer.h"
#include "support/decode.h"
#include "support/temp_dir.h"

namespace mpg::test {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One packet's payload in the file and where it stands in its elementary stream.
struct Piece {
    size_t packet = 0;  // the packet's first byte
    size_t begin = 0, end = 0;
    size_t esBegin = 0;
};

// The payloads of the packets of one stream, in order, and the stream they make.
struct Elementary {
    std::vector<Piece> pieces;
    std::vector<uint8_t> bytes;
};

Elementary elementaryStream(const CleanStream& clean, uint32_t code) {
    Elementary es;
    for (const BlockRecord& b : clean.blocks) {
        if (b.code != code) continue;
        const size_t end = std::min(clean.bytes.size(), static_cast<size_t>(b.offset) +
                                                            static_cast<size_t>(b.declaredSize));
        const std::optional<uint32_t> start = packetPayloadStart(
            clean.bytes.data() + b.offset, static_cast<uint32_t>(end - b.offset));
        if (!start || b.offset + *start >= end) continue;
        const Piece piece{static_cast<size_t>(b.offset), b.offset + *start, end, es.bytes.size()};
        es.bytes.insert(es.bytes.end(), clean.bytes.begin() + static_cast<ptrdiff_t>(piece.begin),
                        clean.bytes.begin() + static_cast<ptrdiff_t>(piece.end));
        es.pieces.push_back(piece);
    }
    return es;
}

struct Frame {
    size_t begin = 0, end = 0;  // in the elementary stream
};

// The frames of an MPEG audio stream: a header counts when the next frame's
// header follows it where its length says, with the same fixed bits, or
// when it is the stream's last; bytes between chains are passed over.
std::vector<Frame> audioFrames(const std::vector<uint8_t>& es) {
    std::vector<Frame> frames;
    size_t pos = 0;
    while (pos + 4 <= es.size()) {
        const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(es.data() + pos);
        if (h && h->length >= 4) {
            const size_t next = pos + h->length;
            bool chained = next + 4 > es.size();
            if (!chained) {
                const std::optional<AudioFrameHeader> n = parseAudioFrameHeader(es.data() + next);
                chained = n && n->fixedBits == h->fixedBits;
            }
            if (chained) {
                frames.push_back({pos, std::min(next, es.size())});
                pos = next;
                continue;
            }
        }
        ++pos;
    }
    return frames;
}

// The file spans of a frame: its bytes piece by piece, and the header of
// every packet that the frame runs on into.
std::vector<FileSpan> frameSpans(const Elementary& es, const Frame& f) {
    std::vector<FileSpan> spans;
    for (const Piece& p : es.pieces) {
        const size_t esEnd = p.esBegin + (p.end - p.begin);
        if (esEnd <= f.begin || p.esBegin >= f.end) continue;
        if (f.begin < p.esBegin) spans.push_back({p.packet, p.begin});
        spans.push_back({p.begin + (std::max(f.begin, p.esBegin) - p.esBegin),
                         p.begin + (std::min(f.end, esEnd) - p.esBegin)});
    }
    return spans;
}

bool inside(const std::vector<FileSpan>& spans, size_t at) {
    return std::any_of(spans.begin(), spans.end(),
                       [at](const FileSpan& s) { return at >= s.begin && at < s.end; });
}

std::string hex(uint32_t value) {
    std::ostringstream s;
    s << std::hex << std::uppercase << std::setfill('0') << std::setw(2) << value;
    return s.str();
}

}  // namespace

const char* trialText(Trial t) {
    switch (t) {
        case Trial::Eq:
            return "eq";
        case Trial::EqAnyByte:
            return "eq any byte";
        case Trial::RescanTwice:
            return "rescan ×2";
        case Trial::Auto:
            return "auto";
    }
    return "";
}

TrialRun runTrial(const std::string& input, Trial trial, const std::string& output, bool readBack) {
    TrialRun run;
    const std::vector<uint8_t> before = readBack ? readFile(input) : std::vector<uint8_t>{};
    AppState state;
    ErrorGrid grid;
    GridSink sink(grid);
    const Clock::time_point scanStart = Clock::now();
    run.scanned = openAndCheck(state, input).result == CheckResult::Ok &&
                  !scanFileAfresh(state, input, sink) && !state.job.stopRequested;
    run.scanSeconds = secondsSince(scanStart);
    if (!run.scanned) {
        run.inputUnchanged = readBack && readFile(input) == before;
        return run;
    }
    run.listed = listedInTable(state.table).size();

    const Clock::time_point pressStart = Clock::now();
    QuietRepairProgress progress;
    const auto press = [&](Strategy strategy, const RepairOptions& options) {
        applyStrategy(state, listedInTable(state.table), strategy, options, input, progress);
    };
    RepairOptions anyByte;
    anyByte.zerosOnly = false;
    switch (trial) {
        case Trial::Eq:
            press(Strategy::RemoveRunsEqualToDelta, RepairOptions{});
            break;
        case Trial::EqAnyByte:
            press(Strategy::RemoveRunsEqualToDelta, anyByte);
            break;
        case Trial::RescanTwice:
            press(Strategy::RemoveRunsAndRemeasure, RepairOptions{});
            press(Strategy::RemoveRunsAndRemeasure, RepairOptions{});
            break;
        case Trial::Auto:
            press(Strategy::Automatic, RepairOptions{});
            break;
    }
    // The fallback for what the strategy left listed, the command line's default.
    state.headerFromRealSize = true;
    run.pressSeconds = secondsSince(pressStart);
    const Clock::time_point saveStart = Clock::now();
    run.saved = !saveRepairedStream(state, {input, output}, sink);
    run.saveSeconds = secondsSince(saveStart);
    if (!readBack) return run;
    if (run.saved) run.output = readFile(output);
    run.inputUnchanged = readFile(input) == before;
    return run;
}

std::vector<uint8_t> expectedOutput(const CleanStream& clean) {
    std::vector<uint8_t> bytes = clean.bytes;
    if (bytes.size() < kEndCodeBytes.size() ||
        !std::equal(kEndCodeBytes.begin(), kEndCodeBytes.end(), bytes.end() - 4)) {
        bytes.insert(bytes.end(), kEndCodeBytes.begin(), kEndCodeBytes.end());
    }
    return bytes;
}

Measure measureOf(DamageClass c) {
    switch (c) {
        case DamageClass::RandomInAudio:
            return Measure::LandsInFrame;
        case DamageClass::RandomInVideo:
        case DamageClass::Deletion:
        case DamageClass::Truncation:
            return Measure::Playable;
        default:
            return Measure::Exact;
    }
}

const char* measureText(Measure m) {
    switch (m) {
        case Measure::Exact:
            return "exact";
        case Measure::LandsInFrame:
            return "lands in the frame";
        case Measure::Playable:
            return "errors ≤ damaged, scans clean";
    }
    return "";
}

std::vector<std::vector<FileSpan>> damagedFrames(const CleanStream& clean, const DamageEdit& edit) {
    const Elementary es = elementaryStream(clean, edit.code);
    const auto piece = std::find_if(es.pieces.begin(), es.pieces.end(), [&](const Piece& p) {
        return edit.at >= p.begin && edit.at < p.end;
    });
    if (piece == es.pieces.end()) return {};
    const size_t at = piece->esBegin + (edit.at - piece->begin);
    const std::vector<Frame> frames = audioFrames(es.bytes);
    std::vector<std::vector<FileSpan>> out;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (at < frames[k].begin || at >= frames[k].end) continue;
        // Right in front of a frame's first byte is also right behind the
        // frame before: either may take the bytes.
        if (at == frames[k].begin && k > 0 && frames[k - 1].end == at)
            out.push_back(frameSpans(es, frames[k - 1]));
        out.push_back(frameSpans(es, frames[k]));
    }
    return out;
}

bool landsInFrame(const CleanStream& clean, const DamageEdit& edit,
                  const std::vector<uint8_t>& output) {
    const std::vector<uint8_t> expected = expectedOutput(clean);
    if (output.size() != expected.size()) return false;
    std::vector<size_t> differing;
    for (size_t i = 0; i < output.size(); ++i) {
        if (output[i] != expected[i]) differing.push_back(i);
    }
    if (differing.empty()) return true;
    for (const std::vector<FileSpan>& frame : damagedFrames(clean, edit)) {
        if (std::all_of(differing.begin(), differing.end(),
                        [&](size_t at) { return inside(frame, at); })) {
            return true;
        }
    }
    return false;
}

size_t decodeErrorCount(const std::string& path) {
    const std::string errors = decodeErrors(path);
    return static_cast<size_t>(std::count(errors.begin(), errors.end(), '\n')) +
           (errors.find(" (exit status)") != std::string::npos ? 1 : 0);
}

bool scansClean(const std::string& path) {
    AppState scratch;
    ErrorGrid grid;
    GridSink sink(grid);
    const OutputCheck check = checkWrittenStream(scratch, path, sink);
    return !check.failure && !check.stopped && check.broken == 0;
}

RepairJudge::RepairJudge(const CleanStream& clean, const DamagedStream& damaged,
                         std::string damagedPath)
    : clean_(clean),
      damaged_(damaged),
      damagedPath_(std::move(damagedPath)),
      expected_(expectedOutput(clean)) {}

std::optional<bool> RepairJudge::passes(const TrialRun& run, const std::string& outputPath) {
    if (!run.saved) return false;
    if (run.output == expected_) return true;
    switch (measureOf(damaged_.damage)) {
        case Measure::Exact:
            return false;
        case Measure::LandsInFrame:
            // Nothing to land in when no frame holds the insertion point:
            // then only the clean stream itself passes.
            return damaged_.edits.size() == 1 &&
                   landsInFrame(clean_, damaged_.edits[0], run.output);
        case Measure::Playable:
            break;
    }
    for (const auto& [output, verdict] : judged_) {
        if (output == run.output) return verdict;
    }
    std::optional<bool> verdict;
    if (!scansClean(outputPath)) {
        verdict = false;
    } else if (haveFfmpeg()) {
        if (!damagedErrors_) damagedErrors_ = decodeErrorCount(damagedPath_);
        verdict = decodeErrorCount(outputPath) <= *damagedErrors_;
    }
    judged_.emplace_back(run.output, verdict);
    return verdict;
}

std::string RepairJudge::difference(const TrialRun& run) const {
    if (!run.scanned) return "the open check or the scan failed";
    if (!run.saved) return "not saved";
    const auto [out, clean] =
        std::mismatch(run.output.begin(), run.output.end(), expected_.begin(), expected_.end());
    std::ostringstream s;
    s << run.output.size() << " bytes saved of " << expected_.size();
    if (out != run.output.end() && clean != expected_.end())
        s << ", the first differing at " << out - run.output.begin();
    return s.str();
}

std::string describeDamage(const CleanStream& clean, const DamagedStream& d) {
    std::ostringstream s;
    s << clean.name << ", " << damageClassText(d.damage) << ":";
    constexpr size_t kNamed = 4;
    for (size_t k = 0; k < d.edits.size(); ++k) {
        const DamageEdit& e = d.edits[k];
        if (k == kNamed && d.edits.size() > kNamed + 1) {
            s << " and " << d.edits.size() - kNamed << " more;";
            break;
        }
        s << " ";
        switch (e.kind) {
            case DamageEdit::Kind::Insert:
                s << e.bytes.size() << (e.value < 0 ? " random" : "")
                  << (e.bytes.size() == 1 ? " byte" : " bytes");
                if (e.value >= 0) s << " 0x" << hex(static_cast<uint32_t>(e.value));
                s << " inserted at ";
                break;
            case DamageEdit::Kind::Delete:
                s << e.bytes.size() << (e.bytes.size() == 1 ? " byte" : " bytes") << " deleted at ";
                break;
            case DamageEdit::Kind::Truncate:
                s << "cut at ";
                break;
        }
        s << e.at << " (block " << e.block << ", code " << hex(e.code) << ");";
    }
    return s.str();
}

const std::vector<FixtureKind>& fixtureKinds() {
    static const std::vector<FixtureKind> kinds = {
        {0, "MPEG-1", {"av.mpg", "two-audio.mpg", "video-only.mpg"}},
        {1, "video CD", {"vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg"}},
        {2, "MPEG-2", {"svcd-mplex.mpg", "dvd.mpg", "vob.mpg", "no-system-header.mpg"}},
    };
    return kinds;
}

const CleanStream& cleanFixture(const std::string& file) {
    static std::map<std::string, CleanStream> loaded;
    auto it = loaded.find(file);
    if (it == loaded.end()) {
        std::optional<CleanStream> clean = loadCleanStream(fixture(file));
        it = loaded.emplace(file, clean ? std::move(*clean) : CleanStream{file, {}, {}}).first;
    }
    return it->second;
}

namespace {

constexpr size_t kFailuresKept = 8;

void tally(TrialTally& t, const TrialRun& run, std::optional<bool> verdict, bool exact,
           const std::string& what, const RepairJudge* judge) {
    t.scanSeconds += run.scanSeconds;
    t.repairSeconds += run.pressSeconds + run.saveSeconds;
    if (!run.inputUnchanged) ++t.inputChanged;
    if (exact) ++t.exact;
    if (!verdict) return;
    ++t.measured;
    if (*verdict) {
        ++t.passed;
    } else if (t.failures.size() < kFailuresKept) {
        t.failures.push_back(what + (judge != nullptr ? " " + judge->difference(run) : ""));
    }
}

}  // namespace

RowResult evaluateRow(DamageClass damage, const FixtureKind& kind, size_t cases, uint64_t seed,
                      const TempDir& dir, const std::vector<Trial>& trials, size_t leastRun) {
    std::seed_seq seq{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                      static_cast<uint32_t>(damage), static_cast<uint32_t>(kind.id)};
    std::mt19937_64 rng(seq);
    RowResult row;
    const std::string damagedPath = dir.file("damaged.mpg");
    const std::string outputPath = dir.file("repaired.mpg");
    for (size_t c = 0; c < cases; ++c) {
        // The kind's fixtures in turn; one the class cannot hit is passed over.
        const CleanStream* clean = nullptr;
        std::optional<DamagedStream> d;
        for (size_t k = 0; k < kind.files.size() && !d; ++k) {
            clean = &cleanFixture(kind.files[(c + k) % kind.files.size()]);
            if (!clean->bytes.empty()) d = damageStream(*clean, damage, rng, leastRun);
        }
        if (!d) break;
        ++row.cases;
        dir.write("damaged.mpg", d->bytes);
        RepairJudge judge(*clean, *d, damagedPath);
        const std::string what = describeDamage(*clean, *d);
        for (Trial t : trials) {
            const TrialRun run = runTrial(damagedPath, t, outputPath);
            const std::optional<bool> verdict = judge.passes(run, outputPath);
            tally(row.of(t), run, verdict, judge.exact(run), what, &judge);
        }
    }
    return row;
}

RowResult evaluateCleanFixtures(const FixtureKind& kind, const TempDir& dir) {
    RowResult row;
    const std::string outputPath = dir.file("repaired.mpg");
    for (const std::string& file : kind.files) {
        const CleanStream& clean = cleanFixture(file);
        if (clean.bytes.empty()) continue;
        ++row.cases;
        const std::vector<uint8_t> expected = expectedOutput(clean);
        for (Trial t : kTrials) {
            const TrialRun run = runTrial(fixture(file), t, outputPath);
            const bool exact = run.saved && run.output == expected;
            tally(row.of(t), run, exact, exact, clean.name + ", undamaged", nullptr);
        }
    }
    return row;
}

}  // namespace mpg::test
