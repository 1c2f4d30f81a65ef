// How well each repair strategy mends the damaged copies of damage.h: a
// copy is opened and scanned, repaired by the strategy as the command line
// repairs (blocks still listed afterwards are written with their length
// field set from their real size) and saved, and the saved file is judged
// against the clean stream by the measure that fits the damage: byte for
// byte, within the one MPEG audio frame that took random bytes, or as a
// file that plays no worse than the damaged one and scans clean.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/damage.h"
#include "support/temp_dir.h"

namespace mpg::test {

enum class Trial {
    Eq,           // runs of zeros exactly as long as the excess
    EqAnyByte,    // the same with runs of any byte
    RescanTwice,  // the longest run cut and the block measured anew, twice
    Auto,         // the automatic repair
};
inline constexpr std::array<Trial, 4> kTrials = {Trial::Eq, Trial::EqAnyByte, Trial::RescanTwice,
                                                 Trial::Auto};
const char* trialText(Trial t);

struct TrialRun {
    bool scanned = false;         // the open check and the scan passed
    bool saved = false;           // the repaired file was written
    bool inputUnchanged = false;  // the damaged input is as it was before
    size_t listed = 0;            // blocks the scan listed
    std::vector<uint8_t> output;  // the saved file
    double scanSeconds = 0;
    double pressSeconds = 0;  // the presses of the hammer
    double saveSeconds = 0;
};

// Opens and scans `input`, presses the strategy of `trial` and saves the
// stream into `output`. With `readBack` the saved file is read into
// `output` and the input compared with what it was; without, for streams
// too large to hold, neither.
TrialRun runTrial(const std::string& input, Trial trial, const std::string& output,
                  bool readBack = true);

// The clean stream as the writer saves it: closed by an end code.
std::vector<uint8_t> expectedOutput(const CleanStream& clean);

enum class Measure {
    Exact,         // the clean stream byte for byte
    LandsInFrame,  // its length, and every byte that differs inside the damaged audio frame
    Playable,      // no more decoding errors than the damaged copy, and a clean scan
};
Measure measureOf(DamageClass c);
const char* measureText(Measure m);

struct FileSpan {
    size_t begin = 0, end = 0;
};

// For an insertion into the payload of an MPEG audio packet: the file
// positions of the clean stream that make up the audio frame the insertion
// point lies in (the frame's bytes, which may lie in two or more packets,
// and the headers of the packets that split it), one list of spans per
// frame that may count as the damaged one: two when the insertion came
// exactly between two frames. Empty when no frame of the stream holds it.
std::vector<std::vector<FileSpan>> damagedFrames(const CleanStream& clean, const DamageEdit& edit);

// Whether `output` has the length of the saved clean stream and differs
// from it in the bytes of one of the damaged frames only.
bool landsInFrame(const CleanStream& clean, const DamageEdit& edit,
                  const std::vector<uint8_t>& output);

// The number of complaints ffmpeg makes as it decodes the file.
size_t decodeErrorCount(const std::string& path);
// Whether a scan of the file finds no broken block.
bool scansClean(const std::string& path);

// The judge of the repairs of one damaged copy, by the class's measure. It
// decodes the damaged copy at most once and an output the same as one
// judged before not again.
class RepairJudge {
  public:
    RepairJudge(const CleanStream& clean, const DamagedStream& damaged, std::string damagedPath);
    // Whether the repair saved into `outputPath` passes; nothing when the
    // measure cannot be taken (no ffmpeg).
    std::optional<bool> passes(const TrialRun& run, const std::string& outputPath);
    bool exact(const TrialRun& run) const { return run.saved && run.output == expected_; }
    // How the saved file differs from the clean stream, for messages.
    std::string difference(const TrialRun& run) const;

  private:
    const CleanStream& clean_;
    const DamagedStream& damaged_;
    std::string damagedPath_;
    std::vector<uint8_t> expected_;
    std::optional<size_t> damagedErrors_;
    std::vector<std::pair<std::vector<uint8_t>, std::optional<bool>>> judged_;
};

// One line on what was done to the copy, for messages.
std::string describeDamage(const CleanStream& clean, const DamagedStream& d);

// The fixtures of one kind of stream the damage is put into.
struct FixtureKind {
    int id = 0;
    const char* name = "";
    std::vector<std::string> files;  // names in tests/data
};
// MPEG-1, video CD (sector fill) and MPEG-2 program streams.
const std::vector<FixtureKind>& fixtureKinds();
// A fixture of tests/data read and scanned, once per process.
const CleanStream& cleanFixture(const std::string& file);

struct TrialTally {
    size_t measured = 0;  // cases the measure could judge
    size_t passed = 0;
    size_t exact = 0;
    size_t inputChanged = 0;  // saves after which the input was not as before
    double scanSeconds = 0;
    double repairSeconds = 0;           // the presses and the save
    std::vector<std::string> failures;  // the first few cases that did not pass
    double percent() const { return measured == 0 ? 0 : 100.0 * passed / measured; }
};

struct RowResult {
    size_t cases = 0;  // damaged copies made
    std::array<TrialTally, kTrials.size()> trials;
    TrialTally& of(Trial t) { return trials[static_cast<size_t>(t)]; }
};

// `cases` damaged copies of the kind's fixtures (taken in turn; a fixture
// the class cannot hit is passed over) with the generator seeded from
// `seed`, the class and the kind, each repaired by the trials given. The copy
// and the repaired files are written into `dir`.
RowResult evaluateRow(DamageClass damage, const FixtureKind& kind, size_t cases, uint64_t seed,
                      const TempDir& dir,
                      const std::vector<Trial>& trials = {kTrials.begin(), kTrials.end()},
                      size_t leastRun = 1);
// Every fixture of the kind, undamaged, through every trial: exact is
// written back byte for byte.
RowResult evaluateCleanFixtures(const FixtureKind& kind, const TempDir& dir);

}  // namespace mpg::test
