// Randomly damaged copies of a clean stream, with the ground truth of each:
// what was inserted, deleted or cut off, where in the clean stream, and in
// which block. The damage is of the kinds found in real rips and
// recordings: runs of one byte value that a drive or a capture card put
// into the stream, random bytes, lost bytes and a file cut short. Every
// choice comes from the seeded generator the caller passes, so that one
// seed always gives the same copies; nothing depends on where a stream's
// blocks happen to lie beyond what its block table says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/block_table.h"

namespace mpg::test {

// A clean stream: its bytes and the blocks a scan finds in it.
struct CleanStream {
    std::string name;  // the file's name, for messages
    std::vector<uint8_t> bytes;
    std::vector<BlockRecord> blocks;
};

// Reads the stream at `path` and scans it (the open check, then a fresh
// scan). Nothing when the check refuses it, the scan fails or lists a
// broken block: damage is put into sound streams only.
std::optional<CleanStream> loadCleanStream(const std::string& path);

enum class DamageClass {
    RunInVideo,          // one run of one byte value inside a video packet
    RunInAudio,          // the same inside an audio packet (MPEG audio or private stream 1)
    RunInPadding,        // the same inside a padding packet
    RunInPackHeader,     // the same inside a pack header, behind its start code
    TwoRuns,             // two runs in one packet
    ThreeRuns,           // three runs in one packet
    RunBesideEqualByte,  // a run of b right before or after a payload byte b
    RandomInAudio,       // random bytes inside an MPEG audio packet's payload
    RandomInVideo,       // random bytes inside a video packet's payload
    Deletion,            // bytes lost from one packet's payload
    Truncation,          // the file cut off in its last tenth
    FiftyRuns,           // one run in each of 50 packets
};

inline constexpr DamageClass kDamageClasses[] = {
    DamageClass::RunInVideo,         DamageClass::RunInAudio,    DamageClass::RunInPadding,
    DamageClass::RunInPackHeader,    DamageClass::TwoRuns,       DamageClass::ThreeRuns,
    DamageClass::RunBesideEqualByte, DamageClass::RandomInAudio, DamageClass::RandomInVideo,
    DamageClass::Deletion,           DamageClass::Truncation,    DamageClass::FiftyRuns,
};

// A short English description ("run in a video packet").
const char* damageClassText(DamageClass c);
// An identifier for test names ("RunInVideo").
const char* damageClassName(DamageClass c);

// The longest single run, and the longest of each run of several or of
// random bytes, and the most bytes a deletion takes.
inline constexpr size_t kLongestRun = 65'000;
inline constexpr size_t kLongestShortRun = 2'000;
inline constexpr size_t kLongestDeletion = 1'000;
inline constexpr size_t kRunsInOneFile = 50;

struct DamageEdit {
    enum class Kind { Insert, Delete, Truncate };
    Kind kind = Kind::Insert;
    // Where, in the clean stream: the byte the insertion comes in front of,
    // the first byte deleted, or the first byte cut off.
    size_t at = 0;
    // The bytes inserted, or the bytes that were deleted or cut off.
    std::vector<uint8_t> bytes;
    // The value of an inserted run; -1 for random bytes and for losses.
    int value = -1;
    size_t block = 0;   // the table index of the block hit
    uint32_t code = 0;  // its start code
};

struct DamagedStream {
    DamageClass damage = DamageClass::RunInVideo;
    std::vector<uint8_t> bytes;
    // The edits in ascending order of `at`, no two at one position.
    std::vector<DamageEdit> edits;
};

// A damaged copy of `clean`, or nothing when the stream has no block the
// class can hit (no padding packets, no MPEG audio, too few packets).
// Runs (not random bytes, nor losses) are at least `leastRun` bytes long.
std::optional<DamagedStream> damageStream(const CleanStream& clean, DamageClass damage,
                                          std::mt19937_64& rng, size_t leastRun = 1);

// Where edit `k` of `d` begins in the damaged bytes.
size_t damagedPosition(const DamagedStream& d, size_t k);

// The clean stream back from the damaged one by the ground truth alone:
// inserted bytes taken out, lost bytes put back.
std::vector<uint8_t> undoDamage(const DamagedStream& d);

}  // namespace mpg::test
