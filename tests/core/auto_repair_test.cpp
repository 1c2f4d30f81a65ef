// The automatic repair on real muxers' streams: what it reads of packet
// headers and audio frames holds for every packet they wrote; bytes lost
// inside a packet are padded back so that every block keeps its place; a
// file cut short ends in a block that says what the file holds; and the
// report names the bytes it cut where they stand in the damaged file.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "model/elementary.h"
#include "repair/auto_repair.h"
#include "repair/writer.h"
#include "support/scanned.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::readFile;

const char* const kFixtures[] = {"av.mpg",         "two-audio.mpg", "vcd-2324.mpg", "vcd-mplex.mpg",
                                 "svcd-mplex.mpg", "dvd.mpg",       "vob.mpg"};

struct Packet {
    size_t index;
    Position offset;
    uint32_t size;
    uint32_t payload;  // where the payload begins, counted from the packet's start
};

// The sound packets of a scanned fixture whose code `wanted` accepts.
template <class Wanted>
std::vector<Packet> packetsOf(test::Scanned& s, const std::vector<uint8_t>& bytes, Wanted wanted) {
    std::vector<Packet> out;
    for (size_t i = 0; i < s.state.table.size(); ++i) {
        const BlockRecord& e = s.state.table[i];
        if (e.isBroken() || s.state.codes.classify(e.code) != BlockKind::Packet || !wanted(e.code))
            continue;
        const auto start =
            packetPayloadStart(bytes.data() + e.offset, static_cast<uint32_t>(e.declaredSize));
        EXPECT_TRUE(start) << "packet " << i << " of code " << std::hex << e.code;
        if (start) out.push_back({i, e.offset, static_cast<uint32_t>(e.declaredSize), *start});
    }
    return out;
}

// Scans `input`, repairs automatically and saves: the report and the output.
struct AutoRun {
    StrategyOutcome outcome;
    std::vector<uint8_t> output;
    bool saved = false;
};

AutoRun repairAndSave(const std::string& input, const test::TempDir& dir, bool fallbackSizes = true,
                      bool keepReport = true) {
    test::Scanned s;
    EXPECT_TRUE(s.scan(input));
    QuietRepairProgress progress;
    AutoRun run;
    RepairOptions options;
    options.keepReport = keepReport;
    run.outcome = applyStrategy(s.state, s.grid, Strategy::Automatic, options, input, progress);
    s.state.headerFromRealSize = fallbackSizes;
    test::GridSink sink(s.grid);
    const std::string output = dir.file("out.mpg");
    run.saved = !saveRepairedStream(s.state, {input, output}, sink);
    run.output = readFile(output);
    return run;
}

size_t brokenBlocks(const std::string& file) {
    test::Scanned s;
    EXPECT_TRUE(s.scan(file));
    size_t n = 0;
    for (size_t i = 0; i < s.state.table.size(); ++i) n += s.state.table[i].isBroken() ? 1 : 0;
    return n;
}

TEST(AutoRepairFormats, EveryPacketHeaderParsesAndEveryAudioChainIsWhole) {
    for (const char* name : kFixtures) {
        SCOPED_TRACE(name);
        const std::string path = test::fixture(name);
        const std::vector<uint8_t> bytes = readFile(path);
        test::Scanned s;
        ASSERT_TRUE(s.scan(path));
        const std::vector<Packet> all = packetsOf(s, bytes, [](uint32_t) { return true; });
        EXPECT_FALSE(all.empty());
        // Each audio stream's payloads, joined, are frames back to back.
        for (uint32_t code = 0x1C0; code <= 0x1DF; ++code) {
            std::vector<uint8_t> es;
            for (const Packet& p : packetsOf(s, bytes, [&](uint32_t c) { return c == code; })) {
                es.insert(es.end(), bytes.begin() + static_cast<ptrdiff_t>(p.offset + p.payload),
                          bytes.begin() + static_cast<ptrdiff_t>(p.offset + p.size));
            }
            size_t frames = 0, at = 0;
            while (at + 4 <= es.size()) {
                const auto header = parseAudioFrameHeader(es.data() + at);
                ASSERT_TRUE(header) << "code " << std::hex << code << " at " << std::dec << at;
                at += header->length;
                ++frames;
            }
            if (!es.empty()) {
                EXPECT_GT(frames, 10u);
            }
        }
    }
}

TEST(AutoRepair, LostBytesArePaddedAndEveryBlockKeepsItsPlace) {
    std::mt19937_64 random(17);
    for (const char* name : {"av.mpg", "vcd-2324.mpg", "svcd-mplex.mpg"}) {
        SCOPED_TRACE(name);
        const std::string path = test::fixture(name);
        const std::vector<uint8_t> original = readFile(path);
        test::Scanned clean;
        ASSERT_TRUE(clean.scan(path));
        const std::vector<Packet> packets =
            packetsOf(clean, original, [](uint32_t c) { return isVideoCode(c) || isAudioCode(c); });
        for (int round = 0; round < 4; ++round) {
            const Packet& p = packets[random() % packets.size()];
            const uint32_t payload = p.size - p.payload;
            const uint32_t lost = 1 + static_cast<uint32_t>(random() % std::min(payload - 1, 600u));
            const Position at = p.offset + p.payload + random() % (payload - lost);
            std::vector<uint8_t> damaged = original;
            damaged.erase(damaged.begin() + static_cast<ptrdiff_t>(at),
                          damaged.begin() + static_cast<ptrdiff_t>(at + lost));
            test::TempDir dir;
            const std::string input = dir.write("in.mpg", damaged);
            // The fallback is the other way round each round: the plan holds either way.
            const AutoRun run = repairAndSave(input, dir, round % 2 == 0);
            ASSERT_TRUE(run.saved);
            EXPECT_EQ(readFile(input), damaged);
            ASSERT_EQ(run.outcome.repairs.size(), 1u);
            const BlockRepair r = run.outcome.repairs[0];
            EXPECT_EQ(r.action, RepairAction::Padded);
            EXPECT_EQ(r.padded, lost);
            EXPECT_EQ(summarize(run.outcome.repairs).decodable, 1u);
            // Every byte but the packet's lost ones and its padding is where it was.
            ASSERT_GE(run.output.size(), original.size());
            const Position end = p.offset + p.size;
            EXPECT_TRUE(std::equal(original.begin(), original.begin() + static_cast<ptrdiff_t>(at),
                                   run.output.begin()));
            EXPECT_TRUE(std::equal(original.begin() + static_cast<ptrdiff_t>(end), original.end(),
                                   run.output.begin() + static_cast<ptrdiff_t>(end)));
            EXPECT_EQ(brokenBlocks(dir.file("out.mpg")), 0u);
        }
    }
}

TEST(AutoRepair, AFileCutShortEndsInABlockThatSaysWhatItHolds) {
    std::mt19937_64 random(29);
    for (const char* name : {"av.mpg", "vcd-mplex.mpg", "vob.mpg"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> original = readFile(test::fixture(name));
        for (int round = 0; round < 6; ++round) {
            // Somewhere in the last tenth, a few cuts right behind a start code.
            const size_t tenth = original.size() / 10;
            size_t keep = original.size() - 1 - random() % tenth;
            if (round < 2) {
                while (keep > 4 && !(original[keep - 4] == 0 && original[keep - 3] == 0 &&
                                     original[keep - 2] == 1)) {
                    --keep;
                }
                keep += static_cast<size_t>(round);  // 1 or 2 bytes of a header
            }
            const std::vector<uint8_t> damaged(original.begin(),
                                               original.begin() + static_cast<ptrdiff_t>(keep));
            test::TempDir dir;
            const std::string input = dir.write("in.mpg", damaged);
            const AutoRun run = repairAndSave(input, dir);
            ASSERT_TRUE(run.saved);
            EXPECT_EQ(readFile(input), damaged);
            EXPECT_EQ(summarize(run.outcome.repairs).unresolved, 0u);
            EXPECT_EQ(brokenBlocks(dir.file("out.mpg")), 0u) << "kept " << keep;
        }
    }
}

TEST(AutoRepair, TheReportNamesTheCutInTheDamagedFile) {
    const std::string path = test::fixture("vcd-2324.mpg");
    const std::vector<uint8_t> original = readFile(path);
    test::Scanned clean;
    ASSERT_TRUE(clean.scan(path));
    const std::vector<Packet> video =
        packetsOf(clean, original, [](uint32_t c) { return isVideoCode(c); });
    // Two packets, one run each: the second report's offset counts the
    // first run, as the damaged file holds it.
    std::vector<uint8_t> damaged = original;
    const Position first = video[3].offset + video[3].payload + 100;
    const Position second = video[9].offset + video[9].payload + 50;
    damaged.insert(damaged.begin() + static_cast<ptrdiff_t>(second), 700, uint8_t{0xA5});
    damaged.insert(damaged.begin() + static_cast<ptrdiff_t>(first), 300, uint8_t{0x5A});
    test::TempDir dir;
    const std::string input = dir.write("in.mpg", damaged);
    const AutoRun run = repairAndSave(input, dir);
    ASSERT_TRUE(run.saved);
    ASSERT_EQ(run.output.size(), original.size() + kEndCodeBytes.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), run.output.begin()));
    ASSERT_EQ(run.outcome.repairs.size(), 2u);
    const RepairCut a = run.outcome.repairs[0].cuts[0];
    const RepairCut b = run.outcome.repairs[1].cuts[0];
    EXPECT_EQ(a.fileOffset, first);
    EXPECT_EQ(a.length, 300u);
    EXPECT_EQ(a.byte, 0x5A);
    EXPECT_EQ(b.fileOffset, second + 300);
    EXPECT_EQ(b.length, 700u);
    const RepairSummary summary = summarize(run.outcome.repairs);
    EXPECT_EQ(summary.exact, 2u);
    EXPECT_EQ(summary.blocks, 2u);
    EXPECT_EQ(run.outcome.summary.exact, 2u);
    // Without an account of each block the repair is the same and counted alike.
    const AutoRun counted = repairAndSave(input, dir, true, false);
    EXPECT_TRUE(counted.outcome.repairs.empty());
    EXPECT_EQ(counted.outcome.summary.exact, 2u);
    EXPECT_EQ(counted.output, run.output);
}

// The accounts kept as runs read back as given, in order, by position and
// by block: runs of like blocks, broken by cut blocks and other actions.
TEST(RepairLog, GivesBackTheAccountsItWasGiven) {
    std::mt19937 rng(7);
    std::vector<BlockRepair> given;
    size_t index = 3;
    Position offset = 100;
    for (int piece = 0; piece < 60; ++piece) {
        const size_t step = 1 + rng() % 3;
        const Position stride = static_cast<Position>(rng() % 20);
        const size_t count = rng() % 40;
        BlockRepair r;
        r.action = static_cast<RepairAction>(rng() % 7);
        r.certainty = static_cast<RepairCertainty>(rng() % 3);
        r.realSize = static_cast<int32_t>(rng() % 9);
        for (size_t k = 0; k < count; ++k, index += step, offset += stride) {
            r.index = index;
            r.fileOffset = offset;
            given.push_back(r);
        }
        if (rng() % 2 == 0) {
            r.index = index++;
            r.cutCount = 1;
            r.cuts[0] = {offset + 1, 2, 0};
            given.push_back(r);
        }
    }
    RepairLog log;
    for (const BlockRepair& r : given) log.push_back(r);
    ASSERT_EQ(log.size(), given.size());
    EXPECT_LT(log.runCount(), given.size() / 4);
    EXPECT_TRUE(std::equal(log.begin(), log.end(), given.begin(), given.end()));
    for (size_t k = 0; k < given.size(); k += 7) EXPECT_EQ(log[k], given[k]);
    for (size_t i = 0; i <= index; ++i) {
        const auto at = std::find_if(given.begin(), given.end(),
                                     [i](const BlockRepair& r) { return r.index == i; });
        const std::optional<BlockRepair> found = repairOfBlock(log, i);
        ASSERT_EQ(found.has_value(), at != given.end()) << i;
        if (found) {
            EXPECT_EQ(*found, *at);
        }
    }
}

}  // namespace
}  // namespace mpg
