// The repair workflow as both front ends run it: streams damaged at random
// places go through open, scan, repair, save and check, and the session's
// results are checked against what the damage was.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "repair/index_file.h"
#include "repair/naming.h"
#include "session/repair_session.h"
#include "support/recording_sink.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::StreamBuilder;

class RepairSessionTest : public ::testing::Test {
  protected:
    // A typical stream with runs of zeros put into the video packets of
    // `count` packs chosen at random: each run as long as its packet's excess,
    // so that the first strategy restores the stream exactly.
    void damage(unsigned seed, int count) {
        std::mt19937 random(seed);
        original = test::typicalStream(12);
        StreamBuilder b = original;
        std::vector<int> packs = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        std::shuffle(packs.begin(), packs.end(), random);
        packs.resize(static_cast<size_t>(count));
        std::sort(packs.rbegin(), packs.rend());  // from the back: earlier places stay
        for (const int pack : packs) {
            size_t at = b.blocks()[3 + 3 * static_cast<size_t>(pack)].offset + 100 + random() % 900;
            while (b.bytes()[at - 1] == 0 || b.bytes()[at] == 0) ++at;
            b.insert(at, 100 + random() % 2000, 0x00);
        }
        input = dir.write("damaged.mpg", b.bytes());
    }

    void openAndScan(RepairSession& s) {
        ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
        test::RecordingSink sink;
        const ScanResult scan = s.scan({input}, sink);
        ASSERT_FALSE(scan.failure);
        ASSERT_TRUE(scan.walked);
    }

    ApplyResult apply(RepairSession& s, Strategy strategy) {
        ApplyParams params;
        params.strategy = strategy;
        QuietRepairProgress progress;
        return s.apply(params, progress);
    }

    test::TempDir dir;
    StreamBuilder original;
    std::string input;
};

// Every position shown is the block's in the user's file, after any cut;
// the saved stream is the original and its check finds nothing wrong.
TEST_F(RepairSessionTest, RandomRunsRepairSaveAndCheckWithInputPositions) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        const int runs = 1 + static_cast<int>(seed % 4);
        damage(seed, runs);
        const std::vector<uint8_t> before = test::readFile(input);
        RepairSession s;
        openAndScan(s);
        const std::vector<BlockRecord> found = s.state().table.entries();
        EXPECT_EQ(countListed(s.state().table), size_t(runs));

        const ApplyResult eq = apply(s, Strategy::RemoveRunsEqualToDelta);
        EXPECT_FALSE(eq.failure);
        EXPECT_EQ(eq.outcome.fixed, size_t(runs));
        ASSERT_EQ(s.state().table.size(), found.size());
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(s.shownPosition(s.state().table[i].offset), found[i].offset) << i;

        test::RecordingSink sink;
        const WriteResult saved = s.save({dir.file("out.mpg"), false, Existing::Replace}, sink);
        ASSERT_FALSE(saved.failure);
        EXPECT_EQ(test::readFile(dir.file("out.mpg")), original.bytes());
        EXPECT_EQ(test::readFile(input), before);
        EXPECT_EQ(s.lastSaved().output, dir.file("out.mpg"));
        EXPECT_EQ(saved.written.unresolved, 0u);

        const VerifyResult check = s.verify({}, sink);
        ASSERT_FALSE(check.failure);
        EXPECT_EQ(check.check.broken, 0u);
        EXPECT_EQ(check.written.output, dir.file("out.mpg"));
    }
}

// Under the strict rules the design's lowered offsets stay.
TEST_F(RepairSessionTest, LiteralRulesShowTheOffsetsAfterTheCuts) {
    damage(7, 2);
    RepairSession s;
    s.state().rules = StreamRules::Literal;
    openAndScan(s);
    (void)apply(s, Strategy::RemoveRunsEqualToDelta);
    ASSERT_FALSE(s.state().view.cuts().empty());
    const Position last = s.state().table[s.state().table.size() - 1].offset;
    ASSERT_GT(s.state().view.streamToFile(last), last);  // it stands behind a cut
    EXPECT_EQ(s.shownPosition(last), last);
}

// The index is written only of a table a scan made and no repair changed:
// an open without a scan, or a repair, leaves a good index where it is.
TEST_F(RepairSessionTest, SavingTheErrorsNeedsAScanAndKeepsAGoodIndex) {
    damage(3, 2);
    RepairSession s;
    ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
    EXPECT_EQ(s.saveIndex().failure.kind, FailureKind::NotScanned);
    EXPECT_FALSE(fileExists(indexFileName(input)));

    openAndScan(s);
    EXPECT_TRUE(s.hasFindings());
    ASSERT_FALSE(s.saveIndex().failure);
    const std::vector<uint8_t> index = test::readFile(indexFileName(input));
    ASSERT_FALSE(index.empty());

    RepairSession other;
    ASSERT_EQ(other.open({input}).check, CheckResult::Ok);
    EXPECT_EQ(other.saveIndex().failure.kind, FailureKind::NotScanned);
    EXPECT_EQ(test::readFile(indexFileName(input)), index);

    (void)apply(s, Strategy::RemoveRunsEqualToDelta);
    EXPECT_EQ(s.saveIndex().failure.kind, FailureKind::NotScanned);
    EXPECT_EQ(test::readFile(indexFileName(input)), index);

    // Loaded, the index gives the table back, and may be saved again.
    const IndexResult load = other.loadIndex();
    ASSERT_FALSE(load.failure);
    EXPECT_EQ(load.listed, 2u);
    EXPECT_TRUE(other.hasFindings());
    EXPECT_EQ(other.loadIndex({dir.file("none.mpg")}).failure.kind, FailureKind::NoIndex);
}

// A job that cannot finish leaves nothing of the old state to be taken for
// the new: an index save the user stopped writes no index, and a file whose
// first read fails is opened all the same, so the earlier file's table and
// cuts are gone with it.
TEST_F(RepairSessionTest, AStopOrAFailedFirstReadLeavesNothingStale) {
    damage(4, 2);
    RepairSession s;
    openAndScan(s);
    s.state().job.stopRequested = true;
    EXPECT_EQ(s.saveIndex().failure.kind, FailureKind::Stopped);
    EXPECT_FALSE(fileExists(indexFileName(input)));
    s.state().job.stopRequested = false;

    (void)apply(s, Strategy::RemoveRunsEqualToDelta);
    ASSERT_FALSE(s.state().view.cuts().empty());
    const OpenResult unreadable = s.open({"/proc/self/mem"});
    EXPECT_EQ(unreadable.check, CheckResult::ReadFailed);
    EXPECT_EQ(unreadable.failure.path, "/proc/self/mem");
    EXPECT_TRUE(s.state().table.empty());
    EXPECT_TRUE(s.state().view.cuts().empty());
    EXPECT_EQ(s.path(), "/proc/self/mem");
}

// The check of the result names the file it reads, and a new open forgets it.
TEST_F(RepairSessionTest, TheCheckFollowsTheLastSave) {
    damage(5, 1);
    RepairSession s;
    test::RecordingSink sink;
    EXPECT_EQ(s.verify({}, sink).failure.kind, FailureKind::NothingSaved);
    openAndScan(s);
    (void)apply(s, Strategy::Automatic);
    EXPECT_TRUE(s.automatic());
    ASSERT_FALSE(s.save({dir.file("a.mpg")}, sink).failure);
    EXPECT_EQ(s.verify({}, sink).written.output, dir.file("a.mpg"));
    ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
    EXPECT_TRUE(s.lastSaved().output.empty());
    EXPECT_FALSE(s.automatic());
    EXPECT_TRUE(s.repairs().empty());
    EXPECT_EQ(s.verify({}, sink).failure.kind, FailureKind::NothingSaved);
}

// Pressed twice, the automatic repair keeps one account of each block, its
// latest; a strategy before it leaves it only what that did not fix.
TEST_F(RepairSessionTest, TheLatestAccountOfABlockWins) {
    StreamBuilder b = test::typicalStream(8);
    // From the back; each run stands alone, so that it is as long as put.
    for (const auto& [block, length, byte] : {std::tuple{18u, 80u, 0x00}, {9u, 300u, 0xFF}}) {
        size_t at = b.blocks()[block].offset + 300;
        while (b.bytes()[at - 1] == byte || b.bytes()[at] == byte) ++at;
        b.insert(at, length, static_cast<uint8_t>(byte));
    }
    input = dir.write("in.mpg", b.bytes());
    const auto accounts = [&](const std::vector<Strategy>& presses) {
        RepairSession s;
        openAndScan(s);
        for (const Strategy strategy : presses) (void)apply(s, strategy);
        std::vector<size_t> indices;
        for (const BlockRepair& r : s.repairs()) indices.push_back(r.index);
        return indices;
    };
    RepairSession scanned;
    openAndScan(scanned);
    const std::vector<size_t> listed = listedInTable(scanned.state().table);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(accounts({Strategy::Automatic}), listed);
    EXPECT_EQ(accounts({Strategy::Automatic, Strategy::Automatic}), listed);
    EXPECT_EQ(accounts({Strategy::RemoveRunsEqualToDelta, Strategy::Automatic}),
              std::vector<size_t>{listed[0]});
}

// A later account of a block replaces its earlier one; the others stay.
TEST(MergeRepairs, LaterAccountsReplaceEarlierOnes) {
    const auto at = [](size_t index, RepairAction action) {
        BlockRepair r;
        r.index = index;
        r.action = action;
        return r;
    };
    const auto logOf = [](std::initializer_list<BlockRepair> records) {
        RepairLog log;
        for (const BlockRepair& r : records) log.push_back(r);
        return log;
    };
    RepairLog report = logOf({at(2, RepairAction::LeftAlone), at(5, RepairAction::LeftAlone)});
    mergeRepairs(report, logOf({at(7, RepairAction::CutRuns), at(2, RepairAction::Padded)}));
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].index, 2u);
    EXPECT_EQ(report[0].action, RepairAction::Padded);
    EXPECT_EQ(report[1].index, 5u);
    EXPECT_EQ(report[2].index, 7u);
}

}  // namespace
}  // namespace mpg
