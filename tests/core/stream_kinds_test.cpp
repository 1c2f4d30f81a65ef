// Streams of the kinds muxers write today, walked by the sound rules: every
// fixture scans clean, every strategy gives it back unchanged, and damage put
// into a packet of any listed stream is found and cut out exactly. The strict
// walk still lists what it always listed.
#include <gtest/gtest.h>

#include <algorithm>

#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "join/join.h"
#include "repair/strategies.h"
#include "repair/writer.h"
#include "support/decode.h"
#include "support/scanned.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

using test::readFile;

struct Kind {
    const char* file;
    int literalRows;       // rows the strict walk lists; -1: it refuses the stream
    uint32_t damagedCode;  // a stream whose packets take the inserted runs
    const char* kind;      // what the window says after the open check
};

// clang-format off
const Kind kKinds[] = {
    {"av.mpg", 0, 0x1C0, "MPEG-1, сектор 2048"},
    {"video-only.mpg", 0, 0x1E0, "MPEG-1, сектор 2048"},
    {"two-audio.mpg", 16, 0x1C1, "MPEG-1, сектор 2048"},
    {"vcd.mpg", 30, 0x1C0, "MPEG-1, сектор 2048"},
    {"vcd-2324.mpg", 64, 0x1C0, "MPEG-1 VCD, сектор 2324"},
    {"vcd-mplex.mpg", 26, 0x1C0, "MPEG-1 VCD, сектор 2324"},
    {"svcd-mplex.mpg", -1, 0x1E0, "MPEG-2 PS SVCD, сектор 2324"},
    {"dvd.mpg", -1, 0x1BD, "MPEG-2 PS, сектор 2048"},
    {"vob.mpg", -1, 0x1C0, "MPEG-2 PS, сектор 2048"},
    {"no-system-header.mpg", -1, 0x1C0, "MPEG-2 PS, сектор 2048"},
};
// clang-format on

size_t rows(const test::Scanned& s) {
    size_t n = 0;
    for (int r = 1; r < s.grid.rowCount(); ++r) n += s.grid.row(r)[0].empty() ? 0 : 1;
    return n;
}

// The writer closes a stream with an end code unless it ends with one
// (mplex's streams do).
std::vector<uint8_t> withEndCode(std::vector<uint8_t> bytes) {
    if (bytes.size() < kEndCodeBytes.size() ||
        !std::equal(kEndCodeBytes.begin(), kEndCodeBytes.end(), bytes.end() - 4)) {
        bytes.insert(bytes.end(), kEndCodeBytes.begin(), kEndCodeBytes.end());
    }
    return bytes;
}

// Scans `input`, presses the strategy and saves; the saved bytes.
std::vector<uint8_t> repaired(const std::string& input, Strategy strategy,
                              const RepairOptions& options, const test::TempDir& dir,
                              size_t* listed = nullptr) {
    test::Scanned s;
    EXPECT_TRUE(s.scan(input));
    if (listed != nullptr) *listed = rows(s);
    QuietRepairProgress progress;
    applyStrategy(s.state, s.grid, strategy, options, s.path, progress);
    const std::string output = dir.file("out.mpg");
    test::GridSink sink(s.grid);
    EXPECT_FALSE(saveRepairedStream(s.state, {input, output}, sink));
    return readFile(output);
}

class StreamKinds : public ::testing::TestWithParam<Kind> {};

TEST_P(StreamKinds, ScanCleanAndRepairToItself) {
    const Kind kind = GetParam();
    const std::string input = test::fixture(kind.file);
    const std::vector<uint8_t> original = readFile(input);
    test::Scanned sound;
    EXPECT_EQ(openAndCheck(sound.state, input).result, CheckResult::Ok);
    EXPECT_EQ(streamKindText(sound.state.kind), kind.kind);
    ASSERT_TRUE(sound.scan(input));
    EXPECT_EQ(rows(sound), 0u);
    test::Scanned literal;
    literal.state.rules = StreamRules::Literal;
    if (kind.literalRows < 0) {
        // The strict walk knows MPEG-1 alone, whose first pack is followed by a system header.
        EXPECT_EQ(openAndCheck(literal.state, input).result, CheckResult::NoSystemHeader);
    } else {
        EXPECT_EQ(openAndCheck(literal.state, input).result, CheckResult::Ok);
        ASSERT_TRUE(literal.scan(input));
        EXPECT_EQ(rows(literal), static_cast<size_t>(kind.literalRows));
    }

    test::TempDir dir;
    for (Strategy strategy : {Strategy::RemoveRunsEqualToDelta, Strategy::RemoveRunsAndRemeasure,
                              Strategy::AcceptRealSizes, Strategy::Automatic}) {
        EXPECT_EQ(repaired(input, strategy, RepairOptions{}, dir), withEndCode(original));
    }
    EXPECT_EQ(readFile(input), original);
}

// Runs of zeros and of 0xFF, of random lengths, each inserted into a random
// packet of the kind's chosen stream, away from bytes of the same value.
TEST_P(StreamKinds, RunsInsertedIntoPacketsAreCutOutExactly) {
    const Kind kind = GetParam();
    const std::vector<uint8_t> original = readFile(test::fixture(kind.file));
    test::Scanned clean;
    ASSERT_TRUE(clean.scan(test::fixture(kind.file)));
    std::vector<size_t> packets;
    const BlockTable& t = clean.state.table;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].code == kind.damagedCode && t[i].declaredSize > 200) packets.push_back(i);
    }
    ASSERT_GT(packets.size(), 3u);
    test::TempDir dir;
    uint32_t seed = 0x2545F491;
    const auto next = [&] { return seed = seed * 1664525 + 1013904223; };
    for (int round = 0; round < 16; ++round) {
        const uint8_t value = round % 2 == 0 ? 0x00 : 0xFF;
        const BlockRecord& block = t[packets[next() % packets.size()]];
        size_t at = block.offset + 20 + next() % (block.declaredSize - 40);
        while (original[at - 1] == value || original[at] == value) ++at;
        const size_t length = 30 + next() % 3000;
        std::vector<uint8_t> damaged = original;
        damaged.insert(damaged.begin() + static_cast<ptrdiff_t>(at), length, value);
        const std::string input = dir.write("damaged.mpg", damaged);
        SCOPED_TRACE(testing::Message() << "run of " << length << " at " << at);
        RepairOptions options;
        options.zerosOnly = value == 0x00;
        size_t listed = 0;
        EXPECT_EQ(repaired(input, Strategy::RemoveRunsEqualToDelta, options, dir, &listed),
                  withEndCode(original));
        EXPECT_EQ(listed, 1u);
        EXPECT_EQ(readFile(input), damaged);
    }
}

// Two copies joined block by block: the join keeps every block and the
// fill, drops the inner end code, scans clean and plays twice as long.
TEST_P(StreamKinds, TwoCopiesJoinIntoOneStream) {
    const Kind kind = GetParam();
    const std::string input = test::fixture(kind.file);
    const std::vector<uint8_t> original = readFile(input);
    test::TempDir dir;
    AppState state;
    ErrorGrid grid;
    test::GridSink sink(grid);
    const JoinParams params{{input, input}, dir.file("joined.mpg")};
    ASSERT_FALSE(joinStructured(state.job, params, sink));
    EXPECT_EQ(readFile(input), original);

    test::Scanned joined;
    ASSERT_TRUE(joined.scan(params.output));
    EXPECT_EQ(rows(joined), 0u);
    if (test::haveFfmpeg()) {
        EXPECT_EQ(test::decodeErrors(params.output), "");
        EXPECT_EQ(test::videoFrames(params.output), 2 * test::videoFrames(input));
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StreamKinds, ::testing::ValuesIn(kKinds), [](const auto& info) {
    std::string name = info.param.file;
    name = name.substr(0, name.find('.'));
    name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
    return name;
});

// A run inserted right in front of a sector's pack header, behind a block
// or behind an audio sector's fill, moves that pack header off the grid:
// the block in front of it is listed, exactly the run longer than declared.
// eq takes out the run and leaves the fill, unless the block ends in zeros
// of its own (video packets may), which make its longest run longer than
// its excess.
TEST(SectorFill, ARunInFrontOfAPackHeaderIsFound) {
    for (const char* file : {"vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg"}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> original = readFile(test::fixture(file));
        test::Scanned clean;
        ASSERT_TRUE(clean.scan(test::fixture(file)));
        const BlockTable& t = clean.state.table;
        std::vector<size_t> packs;
        for (size_t i = 2; i < t.size(); ++i) {
            if (t[i].code == kPackStartCode) packs.push_back(i);
        }
        test::TempDir dir;
        uint32_t seed = 0x9E3779B9;
        const auto next = [&] { return seed = seed * 1664525 + 1013904223; };
        size_t restored = 0;
        for (int round = 0; round < 16; ++round) {
            const size_t pack = packs[next() % packs.size()];
            const size_t length = 1 + next() % 2000;
            std::vector<uint8_t> damaged = original;
            damaged.insert(damaged.begin() + static_cast<ptrdiff_t>(t[pack].offset), length, 0);
            const std::string input = dir.write("damaged.mpg", damaged);
            SCOPED_TRACE(testing::Message() << length << " zeros in front of entry " << pack);
            test::Scanned s;
            ASSERT_TRUE(s.scan(input));
            ASSERT_EQ(rows(s), 1u);
            const BlockRecord& listed = s.state.table[*s.grid.rowEntry(1, s.state.table)];
            EXPECT_EQ(listed.delta(), static_cast<int32_t>(length));
            if (listed.repeatLength != length) continue;
            EXPECT_EQ(repaired(input, Strategy::RemoveRunsEqualToDelta, RepairOptions{}, dir),
                      withEndCode(original));
            EXPECT_EQ(readFile(input), damaged);
            ++restored;
        }
        EXPECT_GT(restored, 4u);
    }
}

// A recording still being written: a scan of what there is so far, ended
// anywhere (inside fill too), resumed once the file has grown, gives the
// table and the rows of one scan of the whole.
TEST(SectorFill, AResumedScanOfAGrowingFileEndsAsAWholeScan) {
    for (const char* file : {"vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg"}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> whole = readFile(test::fixture(file));
        test::Scanned fresh;
        ASSERT_TRUE(fresh.scan(test::fixture(file)));
        test::TempDir dir;
        for (size_t cut : {whole.size() / 3, whole.size() / 2 + 1001, whole.size() - 20}) {
            SCOPED_TRACE(cut);
            const std::string path = dir.write("growing.mpg", {whole.begin(), whole.begin() + cut});
            test::Scanned s;
            ASSERT_TRUE(s.scan(path));
            dir.write("growing.mpg", whole);
            ASSERT_EQ(s.state.view.openStream(path), OpenStatus::Opened);
            s.state.resumeScan = 'y';
            test::GridSink sink(s.grid);
            EXPECT_FALSE(scanStream(s.state, sink));
            s.state.view.closeFile();
            EXPECT_EQ(s.state.table.entries(), fresh.state.table.entries());
            EXPECT_EQ(rows(s), 0u);
        }
    }
}

// Zeros from the end code to the end of the file fill out the last sector
// wherever they end: such a stream scans clean and is written back as it
// is, with no second end code behind the zeros. Behind a packet, zeros that
// end off the grid are still damage.
TEST(SectorFill, ZerosBehindTheEndCodeFillTheLastSector) {
    for (const char* file : {"vcd.mpg", "vcd-2324.mpg", "vcd-mplex.mpg"}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> closed = withEndCode(readFile(test::fixture(file)));
        test::TempDir dir;
        for (const size_t zeros :
             {size_t{1}, size_t{3}, size_t{1000}, size_t{2323}, size_t{7001}}) {
            SCOPED_TRACE(zeros);
            std::vector<uint8_t> padded = closed;
            padded.insert(padded.end(), zeros, 0);
            const std::string input = dir.write("padded.mpg", padded);
            size_t listed = 0;
            EXPECT_TRUE(repaired(input, Strategy::RemoveRunsEqualToDelta, RepairOptions{}, dir,
                                 &listed) == padded);
            EXPECT_EQ(listed, 0u);
            EXPECT_TRUE(readFile(input) == padded);
            // (Fewer zeros may end on the grid, or make a whole sector.)
            if (zeros != 1000 && zeros != 7001) continue;
            std::vector<uint8_t> open(closed.begin(), closed.end() - 4);
            open.insert(open.end(), zeros + 1, 0);
            test::Scanned s;
            ASSERT_TRUE(s.scan(dir.write("open.mpg", open)));
            EXPECT_EQ(rows(s), 1u);
        }
    }
}

}  // namespace
}  // namespace mpg
