#include "repair/strategies.h"

#include <gtest/gtest.h>

#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

using test::StreamBuilder;

struct Recorder : RepairProgress {
    void step(size_t row, size_t rows) override {
        texts.push_back(strategyProgressText(row, rows));
    }
    void finished() override { texts.push_back(""); }
    std::vector<std::string> texts;
};

class StrategyTest : public ::testing::Test {
  protected:
    // A typical stream of `packs` packs; `damage` inserts runs into the video
    // packets of the given packs: {pack, run length, byte}.
    struct Run {
        int pack;
        size_t length;
        uint8_t byte;
        size_t at = 300;  // position in the packet
    };
    void build(int packs, const std::vector<Run>& damage) {
        original = test::typicalStream(packs);
        StreamBuilder b = original;
        // Insert from the back so that earlier positions stay valid.
        std::vector<Run> runs = damage;
        std::sort(runs.begin(), runs.end(),
                  [](const Run& x, const Run& y) { return x.pack > y.pack; });
        for (const Run& r : runs) {
            size_t at = b.blocks()[videoOf(r.pack)].offset + r.at;
            while (b.bytes()[at - 1] == r.byte || b.bytes()[at] == r.byte) ++at;
            b.insert(at, r.length, r.byte);
        }
        damaged = b;
        ASSERT_TRUE(s.scan(dir.write("d.mpg", b.bytes())));
        undamagedTable();
    }
    static size_t videoOf(int pack) { return 3 + 3 * static_cast<size_t>(pack); }
    void undamagedTable() {
        Scanned clean;
        ASSERT_TRUE(clean.scan(dir.write("o.mpg", original.bytes())));
        cleanTable = clean.state.table.entries();
    }
    using Scanned = test::Scanned;
    // One press of the hammer, as the window and the command line make it.
    void press(Strategy strategy) {
        applyStrategy(s.state, s.grid, strategy, options, s.path, progress);
    }

    test::TempDir dir;
    StreamBuilder original, damaged;
    Scanned s;
    std::vector<BlockRecord> cleanTable;
    RepairOptions options;
    Recorder progress;
};

TEST_F(StrategyTest, EqDeltaRestoresTheOriginalStream) {
    build(8, {{1, 100, 0x00}, {4, 2500, 0x00}, {6, 37, 0x00}});
    ASSERT_EQ(s.grid.rowCount(), 4);
    press(Strategy::RemoveRunsEqualToDelta);
    // Each region lands on its own block's run, although the later blocks'
    // offsets were lowered by the earlier cuts.
    EXPECT_EQ(s.state.view.cuts().size(), 3u);
    EXPECT_EQ(s.state.table.entries(), cleanTable);
    EXPECT_EQ(s.streamBytes(), original.bytes());
    EXPECT_TRUE(s.grid.listedEntries(s.state.table).empty());  // every row qualified
    EXPECT_EQ(progress.texts.back(), "");
}

TEST_F(StrategyTest, EqDeltaSecondPassAfterAnEarlierRepair) {
    build(8, {{1, 100, 0x00}, {3, 64, 0xFF}, {6, 300, 0x00}});
    press(Strategy::RemoveRunsEqualToDelta);  // zeros only: the 0xFF run stays
    EXPECT_EQ(s.state.view.cuts().size(), 2u);
    ASSERT_EQ(s.grid.rowCount(), 2);
    EXPECT_EQ(s.grid.cell(1, 1), std::to_string(videoOf(3)));
    // The moved row shows its block's lowered offset.
    EXPECT_EQ(s.grid.cell(1, 3), std::to_string(s.state.table[videoOf(3)].offset));
    EXPECT_EQ(s.state.table[videoOf(3)].offset, cleanTable[videoOf(3)].offset);

    options.zerosOnly = false;
    s.grid.rebuildFromTable(s.state.table);
    press(Strategy::RemoveRunsEqualToDelta);
    EXPECT_EQ(s.state.table.entries(), cleanTable);
    EXPECT_EQ(s.streamBytes(), original.bytes());
}

TEST_F(StrategyTest, EqDeltaNeedsAnExactRun) {
    build(4, {{1, 100, 0x00}});
    BlockRecord& e = s.state.table[videoOf(1)];
    for (uint32_t length : {99u, 101u}) {
        e.repeatLength = length;
        press(Strategy::RemoveRunsEqualToDelta);
        EXPECT_TRUE(s.state.view.cuts().empty()) << length;
        EXPECT_EQ(s.grid.rowCount(), 2);
    }
    e.repeatLength = 100;
    press(Strategy::RemoveRunsEqualToDelta);
    EXPECT_EQ(s.state.view.cuts().size(), 1u);
}

TEST_F(StrategyTest, EqDeltaProgressFollowsTheShrinkingList) {
    build(6, {{1, 100, 0x00}, {3, 50, 0xFF}, {5, 70, 0xFF}});
    press(Strategy::RemoveRunsEqualToDelta);
    EXPECT_EQ(progress.texts,
              (std::vector<std::string>{"ptr: 1 >> 4", "ptr: 1 >> 3", "ptr: 2 >> 3", ""}));
}

TEST_F(StrategyTest, RowsWithoutAnIndexAreLeftAlone) {
    build(3, {});
    const auto before = s.state.table.entries();
    ASSERT_EQ(s.grid.rowCount(), 2);  // the empty row
    press(Strategy::RemoveRunsEqualToDelta);
    press(Strategy::RemoveRunsAndRemeasure);
    // A row whose index is negative, then one beyond the table.
    s.grid.onBroken(-7, s.state.table[0]);
    s.grid.onResolved(-7, s.state.table[0]);
    press(Strategy::RemoveRunsEqualToDelta);
    press(Strategy::AcceptRealSizes);
    s.grid.onBroken(99999, s.state.table[0]);
    s.grid.onResolved(99999, s.state.table[0]);
    press(Strategy::AcceptRealSizes);
    EXPECT_EQ(s.state.table.entries(), before);
    EXPECT_TRUE(s.state.view.cuts().empty());
}

TEST_F(StrategyTest, RescanRemovesOneRunPerPress) {
    // A delta of 500 made of two separate runs of zeros: 300, then 200.
    build(4, {{2, 200, 0x00, 900}, {2, 300, 0x00, 200}});
    const size_t packet = videoOf(2);
    ASSERT_EQ(s.state.table[packet].delta(), 500);
    ASSERT_EQ(s.state.table[packet].repeatLength, 300u);

    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_EQ(s.grid.cell(1, 6), "200");
    EXPECT_EQ(s.grid.cell(1, 7).substr(0, 8), "200(00) ");
    EXPECT_EQ(s.state.table[packet].broken, kBrokenListed);
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_EQ(s.grid.cell(1, 6), "0");
    EXPECT_EQ(s.grid.rowCount(), 2);
    // Both runs are gone from the stream; the later blocks are where they were.
    EXPECT_EQ(s.streamBytes(), original.bytes());
    EXPECT_EQ(s.state.table[packet + 1], cleanTable[packet + 1]);
}

TEST_F(StrategyTest, RescanFilters) {
    build(4, {{1, 150, 0x00}});
    const size_t packet = videoOf(1);
    // What the field may hold: no whole number of 32 bits is taken as 100.
    for (const char* text : {"abc", "", "-", "99999999999", "1.5"}) {
        EXPECT_FALSE(parseMinRepeat(text)) << text;
    }
    EXPECT_EQ(parseMinRepeat("-5"), -5);
    EXPECT_EQ(parseMinRepeat("0150"), 150);
    // Put the block back as the scan found it.
    s.state.table[packet].repeatLength = 150;
    s.state.table[packet].repeatByte = 0;
    s.state.table[packet].realSize = 2006 + 150;
    options.minRepeat = -5;  // passes the digit check, but no run is that long unsigned
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_TRUE(s.state.view.cuts().empty());
    options.minRepeat = 151;
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_TRUE(s.state.view.cuts().empty());
    options.minRepeat = 0;
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_EQ(s.state.view.cuts().size(), 1u);
}

TEST_F(StrategyTest, RescanOfANegativeDeltaWhenAllowed) {
    build(4, {{1, 150, 0x00}});
    BlockRecord& e = s.state.table[videoOf(1)];
    e.realSize = e.declaredSize - 10;  // pretend the block ended early
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_TRUE(s.state.view.cuts().empty());
    options.positiveDelta = false;
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_EQ(e.delta(), -160);
}

TEST_F(StrategyTest, RescanOfAShortBlockFindsNoRun) {
    build(4, {{1, 150, 0x00}});
    BlockRecord& e = s.state.table[videoOf(1)];
    e.realSize = 150 + 8;  // 8 bytes left after the excision
    e.repeatStart = 8;
    options.positiveDelta = false;
    press(Strategy::RemoveRunsAndRemeasure);
    EXPECT_EQ(e.realSize, 8);
    EXPECT_EQ(e.repeatLength, 0u);
    EXPECT_EQ(e.repeatStart, 0u);
    EXPECT_EQ(e.repeatByte, 0);
}

TEST_F(StrategyTest, FixSizesMarksAndEmptiesTheList) {
    build(5, {{1, 100, 0x00}, {3, 40, 0xFF}});
    press(Strategy::AcceptRealSizes);
    EXPECT_EQ(s.state.table[videoOf(1)].broken, kBrokenAccepted);
    EXPECT_EQ(s.state.table[videoOf(3)].broken, kBrokenAccepted);
    EXPECT_EQ(s.grid.rowCount(), 2);
    EXPECT_TRUE(s.grid.cell(1, 0).empty());
    s.grid.rebuildFromTable(s.state.table);
    EXPECT_TRUE(s.grid.cell(1, 0).empty());
    EXPECT_TRUE(s.state.view.cuts().empty());
}

TEST_F(StrategyTest, ScanpackReadsBlocksLongerThanTheCache) {
    build(3, {{1, 3'000'000, 0x00, 500}});
    const size_t packet = videoOf(1);
    BlockRecord& e = s.state.table[packet];
    ASSERT_EQ(e.repeatLength, 3'000'000u);
    e.repeatLength = 0;
    measureLongestRun(s.state, s.path, e.offset, static_cast<uint32_t>(e.realSize), packet);
    EXPECT_EQ(e.repeatLength, 3'000'000u);
    EXPECT_EQ(e.repeatByte, 0);
    EXPECT_EQ(s.state.view.fileHandle(), -1);
}

}  // namespace
}  // namespace mpg
