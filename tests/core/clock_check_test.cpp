// The checks of the pack clocks, of the audio stamps and of zero fill, on
// the fixture streams: a clean one gives no finding, and copies with whole
// sectors zeroed, lost, or a cluster of another recording inserted give the
// finding a model of the damage expects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>

#include "analysis/content_check.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "model/headers.h"
#include "support/damage.h"
#include "support/scanned.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

std::string describe(const Finding& f) {
    return "kind " + std::to_string(int(f.kind)) + " cause " + std::to_string(int(f.cause)) +
           " stream " + std::to_string(f.stream) + " [" + std::to_string(f.begin) + ", " +
           std::to_string(f.end) + ") time " + std::to_string(f.timeFrom) + ".." +
           std::to_string(f.timeTo) + " frames " + std::to_string(f.frames);
}

std::string describe(const std::vector<Finding>& all) {
    std::string text;
    for (const Finding& f : all) text += describe(f) + "\n";
    return text;
}

// The findings of a scan of `path`; `broken` tells whether it lists a
// broken block.
std::vector<Finding> findingsOf(const std::string& path, bool* broken = nullptr) {
    test::Scanned s;
    EXPECT_EQ(openAndCheck(s.state, path).result, CheckResult::Ok) << path;
    EXPECT_TRUE(s.scan(path)) << path;
    if (broken) {
        const auto& t = s.state.table.entries();
        *broken =
            std::any_of(t.begin(), t.end(), [](const BlockRecord& b) { return b.isBroken(); });
    }
    return s.state.findings.items();
}

TEST(ClockCheck, CleanFixturesGiveNoFinding) {
    for (const char* name :
         {"av.mpg", "video-only.mpg", "vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg", "vcd-mplex.dat",
          "svcd-mplex.mpg", "two-audio.mpg", "dvd.mpg", "vob.mpg", "no-system-header.mpg"}) {
        const std::vector<Finding> found = findingsOf(test::fixture(name));
        EXPECT_TRUE(found.empty()) << name << "\n" << describe(found);
    }
}

// A developer's look at a file's findings: MPGMEND_FINDINGS=FILE.
TEST(ClockCheck, FindingsOfNamedFile) {
    const char* path = std::getenv("MPGMEND_FINDINGS");
    if (path == nullptr) GTEST_SKIP();
    test::Scanned s;
    ASSERT_EQ(openAndCheck(s.state, path).result, CheckResult::Ok);
    ASSERT_TRUE(s.scan(path));
    for (size_t k = 0; k < s.state.table.size(); ++k) {
        const BlockRecord& b = s.state.table[k];
        if (b.isBroken()) std::cout << "broken " << b.offset << " code " << b.code << "\n";
    }
    std::cout << describe(s.state.findings.items());
}

// The fixtures laid out in sectors, each sector a pack or zeros; and whether
// the clock of its packs follows the byte position.
struct SectorStream {
    const char* name;
    size_t sector;
    bool followsBytes;
};
constexpr SectorStream kSectorStreams[] = {
    {"vcd.mpg", 2048, false},
    {"vcd-2324.mpg", 2324, true},
    {"vcd-mplex.mpg", 2324, true},
    {"svcd-mplex.mpg", 2324, false},
    {"dvd.mpg", 2048, false},
    {"vob.mpg", 2048, false},
    {"no-system-header.mpg", 2048, false},
};
// Other recordings whose 4 KiB clusters are whole packs with no zero fill.
constexpr const char* kForeign[] = {"dvd.mpg", "vob.mpg", "no-system-header.mpg"};

enum class SectorDamage { Zero, Lose, Insert, ZeroTail };

// Payload lost from the audio streams the stamps are checked for, by
// stream: the packets of the clean stream in [from, to). A stream counts
// only when packets of it follow the damage.
std::map<uint8_t, size_t> audioLost(const test::CleanStream& clean, size_t from, size_t to) {
    std::map<uint8_t, size_t> lost, after;
    for (const BlockRecord& b : clean.blocks) {
        const uint32_t id = b.code & 0xFF;
        if ((b.code >> 8) != 1 || !(id == 0xBD || (id >= 0xC0 && id <= 0xDF))) continue;
        if (b.offset >= from && b.offset < to) lost[id] += size_t(b.declaredSize);
        if (b.offset >= to) ++after[id];
    }
    std::erase_if(lost, [&](const auto& s) { return after[s.first] < 2; });
    return lost;
}

// A cluster of another recording: its clocks and stamps moved by `shift`
// ticks, as another recording's clock runs anywhere.
std::vector<uint8_t> foreignCluster(std::mt19937_64& rng) {
    const std::vector<uint8_t> other = test::readFile(test::fixture(kForeign[rng() % 3]));
    const size_t at = 4096 * (1 + rng() % (other.size() / 4096 - 2));
    std::vector<uint8_t> cluster(other.begin() + ptrdiff_t(at),
                                 other.begin() + ptrdiff_t(at) + 4096);
    const uint64_t shift = 900'000 + rng() % (CheckContext::kClockMask - 1'800'000);
    for (size_t pos = 0; pos + 6 <= cluster.size();) {
        uint8_t* p = cluster.data() + pos;
        const uint32_t code = loadBE32(p);
        if (code == kPackStartCode) {
            writePackScr(p, (*packScr(p) + shift) & CheckContext::kClockMask);
            pos += size_t(packHeaderSize({p, cluster.size() - pos}));
            continue;
        }
        const size_t size = 6 + ((size_t(p[4]) << 8) | p[5]);
        if (const auto layout =
                parsePacketHeader(p, uint32_t(std::min(size, cluster.size() - pos)))) {
            if (layout->ptsAt)
                writeTimeStamp(p + layout->ptsAt, (layout->pts + shift) & CheckContext::kClockMask);
            if (layout->dtsAt)
                writeTimeStamp(p + layout->dtsAt, (layout->dts + shift) & CheckContext::kClockMask);
        }
        pos += size;
    }
    return cluster;
}

bool allZero(const std::vector<uint8_t>& bytes, Position from, Position to) {
    return std::all_of(bytes.begin() + ptrdiff_t(from), bytes.begin() + ptrdiff_t(to),
                       [](uint8_t b) { return b == 0; });
}

// What a copy's findings must be, by the damage done to it.
void expectFindings(SectorDamage damage, const SectorStream& kind, const test::CleanStream& clean,
                    const std::vector<uint8_t>& bytes, size_t from, size_t to,
                    const std::vector<Finding>& found, bool broken) {
    const auto count = [&](auto predicate) {
        return std::count_if(found.begin(), found.end(), predicate);
    };
    const std::map<uint8_t, size_t> lost = audioLost(clean, from, to);
    // Less than two frames of a stream lost may pass within a frame's slack.
    constexpr size_t kSureLoss = 1600;
    switch (damage) {
        case SectorDamage::Zero:
            for (const auto& [id, bytesLost] : lost) {
                if (bytesLost < kSureLoss) continue;
                EXPECT_EQ(count([&](const Finding& f) {
                              return f.kind == FindingKind::Hole && f.stream == id &&
                                     f.cause == FindingCause::ZeroRun && f.begin <= from &&
                                     f.end >= to && allZero(bytes, f.begin, f.end);
                          }),
                          1)
                    << "stream " << int(id);
            }
            // Frames cut by the zeros fail their own checks too.
            EXPECT_EQ(count([](const Finding& f) {
                          return f.kind != FindingKind::Hole &&
                                 f.kind != FindingKind::PayloadDamage;
                      }),
                      0);
            break;
        case SectorDamage::Lose:
            if (kind.followsBytes) {
                EXPECT_EQ(count([&](const Finding& f) {
                              return f.kind == FindingKind::Gap &&
                                     f.cause == FindingCause::ScrAhead && f.begin < from &&
                                     f.end >= from;
                          }),
                          1);
            }
            for (const auto& [id, bytesLost] : lost) {
                if (bytesLost < kSureLoss) continue;
                EXPECT_EQ(count([&](const Finding& f) {
                              return f.kind == FindingKind::Gap && f.stream == id &&
                                     f.cause == FindingCause::StampJump && f.begin <= from &&
                                     f.end >= from;
                          }),
                          1)
                    << "stream " << int(id);
            }
            EXPECT_EQ(count([](const Finding& f) {
                          return f.kind != FindingKind::Gap && f.kind != FindingKind::PayloadDamage;
                      }),
                      0);
            break;
        case SectorDamage::Insert:
            // Packets of streams the stream does not list break its blocks:
            // the scan lists them, and what follows them starts afresh.
            if (broken) {
                EXPECT_LE(found.size(), 1u);
                break;
            }
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].kind, FindingKind::Junk);
            EXPECT_EQ(found[0].cause, FindingCause::ScrBehind);
            EXPECT_EQ(found[0].begin, from);
            EXPECT_EQ(found[0].end, from + 4096);
            break;
        case SectorDamage::ZeroTail:
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].kind, FindingKind::Hole);
            EXPECT_EQ(found[0].stream, 0);
            EXPECT_LE(found[0].begin, from);
            EXPECT_EQ(found[0].end, bytes.size());
            EXPECT_TRUE(allZero(bytes, found[0].begin, found[0].end));
            break;
    }
}

// Copies of the fixtures with whole sectors zeroed (a ripper's unread
// sectors, a download's holes), lost (a copy that skipped them), a 4 KiB
// cluster of another recording inserted on the sector grid, or the end of
// the file zero from a sector on (a download stopped): each gives the
// finding its damage calls for over the range the damage took.
TEST(ClockCheck, SectorDamageFoundWhereItIs) {
    std::mt19937_64 rng(20261209);
    test::TempDir dir;
    for (int round = 0; round < 40; ++round) {
        const SectorStream& kind = kSectorStreams[rng() % std::size(kSectorStreams)];
        const std::optional<test::CleanStream> clean =
            test::loadCleanStream(test::fixture(kind.name));
        ASSERT_TRUE(clean);
        const size_t sectors = clean->bytes.size() / kind.sector;
        const auto damage = static_cast<SectorDamage>(round % 4);
        // Not the first sectors (system headers), nor the last (a muxer's
        // flush runs its clock ahead there).
        const size_t first = 2 + rng() % (sectors - 12), count = 1 + rng() % 3;
        size_t from = first * kind.sector, to = (first + count) * kind.sector;
        std::vector<uint8_t> bytes = clean->bytes;
        const auto at = bytes.begin() + ptrdiff_t(from);
        switch (damage) {
            case SectorDamage::Zero:
                std::fill(at, bytes.begin() + ptrdiff_t(to), 0);
                break;
            case SectorDamage::Lose:
                bytes.erase(at, bytes.begin() + ptrdiff_t(to));
                break;
            case SectorDamage::Insert: {
                const std::vector<uint8_t> cluster = foreignCluster(rng);
                bytes.insert(at, cluster.begin(), cluster.end());
                to = from;
                break;
            }
            case SectorDamage::ZeroTail:
                from = (sectors - sectors * (40 + rng() % 30) / 100) * kind.sector;
                to = bytes.size();
                std::fill(bytes.begin() + ptrdiff_t(from), bytes.end(), 0);
                break;
        }
        SCOPED_TRACE(std::string(kind.name) + " damage " + std::to_string(round % 4) + " at " +
                     std::to_string(from) + ".." + std::to_string(to));
        const std::string path = dir.write("damaged.mpg", bytes);
        bool broken = false;
        const std::vector<Finding> found = findingsOf(path, &broken);
        SCOPED_TRACE(describe(found));
        expectFindings(damage, kind, *clean, bytes, from, to, found, broken);
    }
}

}  // namespace
}  // namespace mpg
