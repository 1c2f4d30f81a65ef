// A scan stopped before the end of the file knows only a part of the stream:
// its index says so, is refused where a whole one is asked for, and goes on
// from its end when asked; no stream is saved from such a table.
#include <gtest/gtest.h>

#include <filesystem>

#include "repair/index_file.h"
#include "repair/naming.h"
#include "session/repair_session.h"
#include "support/recording_sink.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

class StoppedScan : public ::testing::Test {
  protected:
    void SetUp() override {
        test::StreamBuilder b = test::typicalStream(8);
        b.insert(b.blocks()[7].offset + 60, 500, 0x00);
        b.insert(b.blocks()[16].offset + 60, 40, 0x00);
        input = dir.write("stopped.mpg", b.bytes());
        RepairSession whole;
        ASSERT_EQ(whole.open({input}).check, CheckResult::Ok);
        test::RecordingSink sink;
        ASSERT_FALSE(whole.scan({input}, sink).failure);
        full = whole.state().table.entries();
        reports = sink.of(Notify::Progress).size();
        ASSERT_FALSE(whole.save({dir.file("whole.mpg")}, sink).failure);
        wholeSave = test::readFile(dir.file("whole.mpg"));
    }

    // The session's scan stopped at its k-th progress report.
    void scanStoppedAt(RepairSession& s, size_t k) {
        ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
        test::StopAt stop(s.state(), k);
        ASSERT_EQ(s.scan({input}, stop).failure.kind, FailureKind::Stopped);
        s.state().job.stopRequested = false;
    }

    test::TempDir dir;
    std::string input;
    std::vector<BlockRecord> full;
    std::vector<uint8_t> wholeSave;  // the stream a whole scan saves
    size_t reports = 0;
};

// Wherever the stop falls, between blocks or inside a search: the index
// says it is a stopped scan's, a whole load refuses it and leaves the table,
// and the resumed scan from it ends with the table of one whole scan, which
// alone is saved.
TEST_F(StoppedScan, IndexIsRefusedUnlessResumedAndResumesToTheWholeTable) {
    ASSERT_GT(reports, 20u);
    const std::vector<uint8_t> bytes = test::readFile(input);
    // Stops spread over the scan, a step that is no multiple of a pack's.
    for (size_t k = 2; k < reports; k += reports / 37) {
        SCOPED_TRACE(k);
        RepairSession s;
        scanStoppedAt(s, k);
        EXPECT_FALSE(s.scannedWhole());
        test::RecordingSink sink;
        EXPECT_EQ(s.save({dir.file("out.mpg")}, sink).failure.kind, FailureKind::StoppedScan);
        EXPECT_FALSE(fileExists(dir.file("out.mpg")));
        const IndexResult saved = s.saveIndex();
        ASSERT_FALSE(saved.failure);
        EXPECT_TRUE(saved.stopped);

        RepairSession later;
        ASSERT_EQ(later.open({input}).check, CheckResult::Ok);
        const IndexResult refused = later.loadIndex();
        EXPECT_EQ(refused.failure.kind, FailureKind::StoppedScan);
        EXPECT_EQ(refused.failure.path, saved.indexPath);
        EXPECT_TRUE(later.state().table.empty());
        EXPECT_FALSE(later.hasFindings());

        const IndexResult taken = later.loadIndex({"", true});
        ASSERT_FALSE(taken.failure);
        EXPECT_TRUE(taken.stopped);
        EXPECT_FALSE(later.scannedWhole());
        ASSERT_TRUE(later.canResume());
        EXPECT_LT(later.state().table.size(), full.size());
        ASSERT_FALSE(later.scan({input, true}, sink).failure);
        EXPECT_TRUE(later.scannedWhole());
        EXPECT_EQ(later.state().table.entries(), full);
        ASSERT_FALSE(later.save({dir.file("out.mpg")}, sink).failure);
        EXPECT_EQ(test::readFile(dir.file("out.mpg")), wholeSave);
        std::filesystem::remove(dir.file("out.mpg"));
        // Saved again, the index is a whole one.
        ASSERT_FALSE(later.saveIndex().failure);
        RepairSession again;
        ASSERT_EQ(again.open({input}).check, CheckResult::Ok);
        const IndexResult whole = again.loadIndex();
        ASSERT_FALSE(whole.failure);
        EXPECT_FALSE(whole.stopped);
        EXPECT_TRUE(again.scannedWhole());
    }
    EXPECT_EQ(test::readFile(input), bytes);
}

// The closing record of a stopped scan's index: the last one, start code 0
// and mark 's', where the last entry before it ends; anywhere else, or
// somewhere else, the file is damaged.
TEST_F(StoppedScan, ClosingRecordStandsOnlyWhereTheTableEnds) {
    RepairSession s;
    scanStoppedAt(s, reports / 2);
    ASSERT_FALSE(s.saveIndex().failure);
    const std::string index = indexFileName(input);
    const std::vector<uint8_t> file = test::readFile(index);
    ASSERT_GE(file.size(), 2 * kBlockRecordSize);
    const size_t records = file.size() / kBlockRecordSize;
    const BlockRecord closing = decodeBlockRecord(file.data() + file.size() - kBlockRecordSize);
    const BlockRecord last = decodeBlockRecord(file.data() + file.size() - 2 * kBlockRecordSize);
    EXPECT_EQ(closing.code, 0u);
    EXPECT_EQ(closing.broken, kStoppedScanMark);
    EXPECT_EQ(closing.offset,
              last.offset + Position(last.isBroken() ? last.realSize : last.declaredSize));

    const auto refusedAs = [&](const std::vector<uint8_t>& bytes) {
        dir.write("stopped.mpg.index", bytes);
        RepairSession other;
        EXPECT_EQ(other.open({input}).check, CheckResult::Ok);
        return other.loadIndex({"", true}).failure.kind;
    };
    std::vector<uint8_t> moved = file;
    moved[file.size() - kBlockRecordSize + 4] ^= 1;  // its offset
    EXPECT_EQ(refusedAs(moved), FailureKind::BadIndex);
    // Before the last entry instead of behind it.
    std::vector<uint8_t> early(file.begin(), file.end() - 2 * kBlockRecordSize);
    early.insert(early.end(), file.end() - kBlockRecordSize, file.end());
    early.insert(early.end(), file.end() - 2 * kBlockRecordSize, file.end() - kBlockRecordSize);
    EXPECT_EQ(refusedAs(early), FailureKind::BadIndex);
    EXPECT_EQ(refusedAs({file.end() - kBlockRecordSize, file.end()}), FailureKind::BadIndex);
    EXPECT_EQ(refusedAs(file), FailureKind::None);
    EXPECT_GT(records, 2u);
}

// The wide format closes a stopped scan's index the same way, its header
// counting the closing record.
TEST_F(StoppedScan, WideIndexClosesTheSameWay) {
    RepairSession s;
    scanStoppedAt(s, reports / 3);
    const std::string index = indexFileName(input);
    ASSERT_FALSE(saveIndexFile(s.state().table, index, {input}, s.state().view.streamSize(),
                               IndexFormat::Wide, true));
    AppState state;
    EXPECT_EQ(loadIndexFile(index, input, state).kind, FailureKind::StoppedScan);
    EXPECT_TRUE(state.table.empty());
    bool stopped = false;
    ASSERT_FALSE(loadIndexFile(index, input, state, {true, &stopped}));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(state.table.size() + 1,
              (test::readFile(index).size() - kWideIndexHeaderSize) / kWideBlockRecordSize);
}

}  // namespace
}  // namespace mpg
