// Positions past 4 GiB: the cut list's mapping, the strategies' lowering of
// offsets behind their cuts, and the wide index format, on tables built in
// memory and on small files whose index is written wide.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "repair/index_file.h"
#include "repair/strategies.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

constexpr Position kFourGiB = Position{1} << 32;

// Stream positions map to file positions behind every cut before them, also
// where both lie past 4 GiB and the cuts add up to more than 4 GiB.
TEST(LargePositions, CutListMapsPastFourGibibytes) {
    StreamView view;
    view.addCut(kFourGiB - 10, 20);           // straddles the mark
    view.addCut(3 * kFourGiB, kFourGiB + 5);  // longer than 4 GiB itself
    EXPECT_EQ(view.streamToFile(100), 100u);
    EXPECT_EQ(view.streamToFile(kFourGiB - 11), kFourGiB - 11);
    EXPECT_EQ(view.streamToFile(kFourGiB - 10), kFourGiB + 10);
    EXPECT_EQ(view.streamToFile(3 * kFourGiB - 21), 3 * kFourGiB - 1);
    EXPECT_EQ(view.streamToFile(3 * kFourGiB - 20), 4 * kFourGiB + 5);
}

// eq on broken blocks far past 4 GiB, listed in the table's order and in a
// shuffled one: each run is cut where it lies in the file, and every offset
// behind a cut is lowered by the cuts before it, exactly as a model counts.
TEST(LargePositions, StrategiesLowerOffsetsPastFourGibibytes) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 8; ++round) {
        std::vector<BlockRecord> entries;
        std::vector<size_t> listed;
        Position at = kFourGiB - 5000 + rng() % 4000;
        for (size_t i = 0; i < 200; ++i) {
            BlockRecord r{at, 0x1E0, 2006};
            Position extent = 2006;
            if (rng() % 3 == 0) {
                const uint32_t run = 1 + rng() % 3000;
                r.broken = kBrokenListed;
                r.realSize = 2006 + static_cast<int32_t>(run);
                r.repeatLength = run;
                r.repeatStart = 100;
                extent += run;
                listed.push_back(i);
            }
            entries.push_back(r);
            at += extent + (rng() % 2 ? 0 : rng() % (Position{1} << 34));  // gaps of up to 16 GiB
        }
        if (round % 2) std::shuffle(listed.begin(), listed.end(), rng);
        AppState state;
        state.table.assign(entries);
        QuietRepairProgress progress;
        const StrategyOutcome done =
            removeRunsEqualToDelta(state, listed, RepairOptions{}, progress);
        ASSERT_EQ(done.fixed, listed.size());

        Position cutBefore = 0;
        std::vector<CutRegion> cuts;
        for (size_t i = 0; i < entries.size(); ++i) {
            const BlockRecord& was = entries[i];
            EXPECT_EQ(state.table[i].offset, was.offset - cutBefore) << i;
            EXPECT_FALSE(state.table[i].isBroken());
            if (!was.isBroken()) continue;
            cuts.push_back({was.offset + was.repeatStart, was.repeatLength});
            cutBefore += was.repeatLength;
        }
        EXPECT_EQ(state.view.cuts(), cuts);
    }
}

// A small stream saved in the wide format loads back to the same table; the
// wide file is refused when cut short, grown, or written for an input of
// another size.
TEST(LargePositions, WideIndexRoundTripAndRefusals) {
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(6);
    b.insert(b.blocks()[5].offset + 300, 700, 0x00);
    const std::string input = dir.write("in.mpg", b.bytes());
    test::Scanned scanned;
    ASSERT_TRUE(scanned.scan(input));
    const std::string index = indexFileName(input);
    ASSERT_FALSE(saveIndexFile(scanned.state.table, index, {input}, b.size(), IndexFormat::Wide));
    const std::vector<uint8_t> wide = test::readFile(index);
    ASSERT_EQ(wide.size(),
              kWideIndexHeaderSize + scanned.state.table.size() * kWideBlockRecordSize);
    EXPECT_TRUE(std::equal(kWideIndexMagic.begin(), kWideIndexMagic.end(), wide.begin()));

    AppState loaded;
    ASSERT_EQ(loadIndexFile(index, input, loaded).kind, FailureKind::None);
    EXPECT_EQ(loaded.table.entries(), scanned.state.table.entries());

    const auto refused = [&](std::vector<uint8_t> bytes) {
        dir.write("in.mpg.index", bytes);
        AppState state;
        return loadIndexFile(index, input, state).kind == FailureKind::BadIndex;
    };
    EXPECT_TRUE(refused({wide.begin(), wide.end() - 1}));
    EXPECT_TRUE(refused({wide.begin(), wide.end() - kWideBlockRecordSize}));
    EXPECT_TRUE(refused({wide.begin(), wide.begin() + kWideIndexHeaderSize}));
    std::vector<uint8_t> other = wide;
    other[16] ^= 1;  // the input's size
    EXPECT_TRUE(refused(other));
    other = wide;
    other[8] = 3;  // the version
    EXPECT_TRUE(refused(other));
    EXPECT_EQ(test::readFile(input), b.bytes());

    // An input under 4 GiB gets the classic format, one past it the wide.
    EXPECT_EQ(indexFormatFor(kFourGiB - 1), IndexFormat::Classic);
    EXPECT_EQ(indexFormatFor(kFourGiB), IndexFormat::Wide);
    BlockRecord far{kFourGiB + 7, 0x1E0, 2006, 2500, 494, 12, kBrokenListed, 0};
    std::array<uint8_t, kWideBlockRecordSize> bytes{};
    encodeWideBlockRecord(far, bytes.data());
    EXPECT_EQ(decodeWideBlockRecord(bytes.data()), far);
}

}  // namespace
}  // namespace mpg
