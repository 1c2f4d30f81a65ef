// The repair road on streams made by a real encoder: zero runs inserted into
// packets are found, cut out, and the saved stream is the original again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "join/join.h"
#include "repair/strategies.h"
#include "repair/writer.h"
#include "support/decode.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::decodeErrors;
using test::haveFfmpeg;
using test::readFile;
using test::videoFrames;

// Inserts runs of zero bytes into the payloads of packets of an elementary
// stream: {which packet, run length}, each at a place whose neighbours are
// not zero.
std::vector<uint8_t> damage(std::vector<uint8_t> bytes, const BlockTable& table,
                            const std::vector<std::pair<int, size_t>>& runs) {
    std::vector<std::pair<size_t, size_t>> at;  // position in the original, length
    for (const auto& [nth, length] : runs) {
        int seen = 0;
        for (size_t i = 0; i < table.size(); ++i) {
            if ((table[i].code != 0x1E0 && table[i].code != 0x1C0) || seen++ != nth) continue;
            size_t pos = table[i].offset + 40 + length % 300;
            while (bytes[pos - 1] == 0 || bytes[pos] == 0) ++pos;
            at.emplace_back(pos, length);
        }
    }
    EXPECT_EQ(at.size(), runs.size());
    // From the back, so that the earlier positions stay valid.
    std::sort(at.rbegin(), at.rend());
    for (const auto& [pos, length] : at) {
        bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(pos), length, 0x00);
    }
    return bytes;
}

class RepairRoad : public ::testing::TestWithParam<const char*> {};

TEST_P(RepairRoad, InsertedZeroRunsAreRemovedExactly) {
    test::TempDir dir;
    const std::vector<uint8_t> original = readFile(test::fixture(GetParam()));
    test::Scanned clean;
    ASSERT_TRUE(clean.scan(test::fixture(GetParam())));

    const std::vector<uint8_t> damaged =
        damage(original, clean.state.table, {{2, 100}, {9, 4000}, {20, 777}});
    const std::string input = dir.write("damaged.mpg", damaged);

    test::Scanned s;
    ASSERT_TRUE(s.scan(input));
    EXPECT_GE(s.grid.rowCount(), 4);
    QuietRepairProgress progress;
    applyStrategy(s.state, s.grid, Strategy::RemoveRunsEqualToDelta, RepairOptions{}, s.path,
                  progress);
    EXPECT_EQ(s.state.view.cuts().size(), 3u);

    const std::string output = dir.file("repaired.mpg");
    test::GridSink sink(s.grid);
    ASSERT_FALSE(saveRepairedStream(s.state, {input, output}, sink));
    s.state.view.closeFile();
    std::vector<uint8_t> expect = original;
    expect.insert(expect.end(), {0x00, 0x00, 0x01, 0xB9});
    EXPECT_EQ(readFile(output), expect);
    EXPECT_EQ(readFile(input), damaged);
    if (haveFfmpeg()) {
        EXPECT_EQ(decodeErrors(output), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RepairRoad, ::testing::Values("av.mpg", "video-only.mpg"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.')) == "av" ? "av" : "videoOnly";
                         });

// Two encoder-made pieces joined block by block play as one stream that
// lasts as long as both.
TEST(JoinRoad, JoinedFixturesDecodeAsOne) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    test::TempDir dir;
    AppState state;
    ErrorGrid grid;
    test::GridSink sink(grid);
    JoinParams params{{test::fixture("av.mpg"), test::fixture("video-only.mpg")},
                      dir.file("joined.mpg")};
    ASSERT_FALSE(joinStructured(state.job, params, sink));
    EXPECT_EQ(decodeErrors(params.output), "");
    EXPECT_EQ(videoFrames(params.output),
              videoFrames(params.inputs[0]) + videoFrames(params.inputs[1]));
}

}  // namespace
}  // namespace mpg
