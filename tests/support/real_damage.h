// Damaged copies of a clean stream file as real files suffer it: a CD drive's
// misreads, a partial download's holes, sectors a copy skipped, a cluster of
// another file, bit flips, files cut short or glued from two downloads, a
// recording interrupted and resumed, tags that players write, and an FTP
// transfer in ASCII mode. Each copy comes from the seeded generator the
// caller passes, so that one seed always gives the same copy, and carries
// its ground truth: every span of the clean file that was replaced, with
// its position in the clean file and in the copy, and what replaced it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/block_table.h"

namespace mpg::test {

enum class RealDamage {
    CdMisread,        // a burst of changed bytes inside one sector (a rip: its EDC fails)
    ZeroHoles,        // aligned chunks of 4, 16 or 64 KiB zeroed: a partial download
    StoppedDownload,  // from an aligned chunk on, the rest of the file zero
    LostSectors,      // whole sectors removed: a copy that skipped them
    ClusterOver,      // a 4 KiB cluster of another file written over the stream
    ClusterInserted,  // the same cluster inserted into the stream
    BitFlips,         // 1 to 16 random bits flipped
    CutShort,         // the file ends early
    TwoDownloads,     // the first download cut short, the second from a later point
    ResumedAtPacket,  // a recording interrupted at a block's start, resumed with a clock jump
    ResumedInside,    // the same, interrupted inside a block
    Id3v2Front,       // an ID3v2 tag in front of the stream
    Id3v2Over,        // an ID3v2 tag written over the first bytes
    Id3v1End,         // an ID3v1 "TAG" behind the stream
    ApeEnd,           // an APEv2 tag behind the stream
    LfToCrlf,         // an ASCII transfer: every LF written as CR LF
    CrlfToLf,         // the other way: every CR LF written as LF
    RunsInPackets,    // runs of one byte value inside packets (the repair generator's)
};

inline constexpr RealDamage kRealDamages[] = {
    RealDamage::CdMisread,       RealDamage::ZeroHoles,     RealDamage::StoppedDownload,
    RealDamage::LostSectors,     RealDamage::ClusterOver,   RealDamage::ClusterInserted,
    RealDamage::BitFlips,        RealDamage::CutShort,      RealDamage::TwoDownloads,
    RealDamage::ResumedAtPacket, RealDamage::ResumedInside, RealDamage::Id3v2Front,
    RealDamage::Id3v2Over,       RealDamage::Id3v1End,      RealDamage::ApeEnd,
    RealDamage::LfToCrlf,        RealDamage::CrlfToLf,      RealDamage::RunsInPackets,
};

// An identifier for tables and test names ("CdMisread").
const char* realDamageName(RealDamage d);

// A clean file: its bytes, the blocks a scan finds in it at their file
// positions (none for a rip, whose blocks lie in the sectors' payloads), and
// the sectors its stream was cut into: 2,048 or 2,324 bytes of stream, or a
// rip's raw 2,352-byte sectors from its data offset on.
struct SourceFile {
    std::string name;
    std::vector<uint8_t> bytes;
    std::vector<BlockRecord> blocks;
    size_t sectorStart = 0;
    size_t sectorSize = 2048;
    bool rip = false;
};

// Reads and scans the clean file at `path`; nothing when it does not scan
// clean.
std::optional<SourceFile> loadSourceFile(const std::string& path);

// One span of the clean file replaced: `before` (the clean bytes, from
// `in`) became `after` (the copy's bytes, from `out`). An insertion has no
// `before`, a loss no `after`.
struct Splice {
    size_t in = 0;
    size_t out = 0;
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
    std::string what;  // "sector 57 misread", "SCR +12.3 s", ...
};

struct RealDamaged {
    RealDamage damage = RealDamage::CdMisread;
    std::vector<uint8_t> bytes;
    // In ascending order of `in` and of `out`, none overlapping another.
    std::vector<Splice> splices;
};

// A damaged copy of `source`, or nothing when the kind does not apply to it
// (a recording's clock in a rip, a file too short for the damage).
std::optional<RealDamaged> damageFile(const SourceFile& source, RealDamage damage,
                                      std::mt19937_64& rng);

// The copy made anew from the clean bytes by the splices alone, and the clean
// bytes from the copy: the two sides of the ground truth. Empty when the
// splices do not fit the bytes they are applied to.
std::vector<uint8_t> applySplices(const std::vector<uint8_t>& clean,
                                  const std::vector<Splice>& splices);
std::vector<uint8_t> undoSplices(const std::vector<uint8_t>& damaged,
                                 const std::vector<Splice>& splices);

// The ground truth in one line: "in@out -before +after what; ...", at most
// `most` splices named and the count of the others.
std::string spliceSummary(const std::vector<Splice>& splices, size_t most = 4);

}  // namespace mpg::test
