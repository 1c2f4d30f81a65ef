// An input is the file that was scanned: every job after the scan, and every
// join of pieces, finds the input as the scan (or the first open) found it,
// or stops with InputChanged and writes nothing (the pieces of a join: see
// join_session_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>

#include "analysis/dump.h"
#include "session/repair_session.h"
#include "support/recording_sink.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

// Another file of the same size put in the input's place, as a copy over it
// by another program leaves it.
void replaceBySameSize(const std::string& path) {
    std::vector<uint8_t> bytes = test::readFile(path);
    std::mt19937 random(7);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    const std::string other = path + ".other";
    FILE* f = std::fopen(other.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
}

using test::rewriteInPlace;
using test::touch;

class InputIdentityTest : public ::testing::Test {
  protected:
    // A stream with runs of zeros in three video packets far apart (more
    // than a read ahead), each as long as its packet's excess.
    void makeInput() {
        test::StreamBuilder b = test::typicalStream(80);
        for (const size_t pack : {70u, 40u, 10u}) {
            size_t at = b.blocks()[3 + 3 * pack].offset + 300;
            while (b.bytes()[at - 1] == 0 || b.bytes()[at] == 0) ++at;
            b.insert(at, 500, 0x00);
        }
        input = dir.write("damaged.mpg", b.bytes());
    }

    void openAndScan(RepairSession& s) {
        ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
        test::RecordingSink sink;
        ASSERT_FALSE(s.scan({input}, sink).failure);
        ASSERT_EQ(countListed(s.state().table), 3u);
    }

    ApplyResult apply(RepairSession& s, Strategy strategy, RepairProgress& progress) {
        ApplyParams params;
        params.strategy = strategy;
        return s.apply(params, progress);
    }

    test::TempDir dir;
    std::string input;
};

// Every job after the scan, whatever it reads of the input, finds a file
// replaced by one of the same size, or rewritten in place with its time set
// back; it fails naming the input and leaves no file behind.
TEST_F(InputIdentityTest, EveryJobAfterTheScanRefusesAChangedInput) {
    using Job = std::function<Failure(RepairSession&)>;
    QuietRepairProgress quiet;
    const auto applying = [&](Strategy strategy) {
        return Job([&, strategy](RepairSession& s) { return apply(s, strategy, quiet).failure; });
    };
    const std::string out = dir.file("out.mpg");
    const std::vector<std::pair<const char*, Job>> jobs = {
        {"save",
         [&](RepairSession& s) {
             test::RecordingSink sink;
             return s.save({out, false}, sink).failure;
         }},
        {"eq", applying(Strategy::RemoveRunsEqualToDelta)},
        {"rescan", applying(Strategy::RemoveRunsAndRemeasure)},
        {"sizes", applying(Strategy::AcceptRealSizes)},
        {"auto", applying(Strategy::Automatic)},
        {"index", [](RepairSession& s) { return s.saveIndex().failure; }},
        {"dump",
         [](RepairSession& s) {
             BlockDump bytes;
             EXPECT_FALSE(readBlockForDump(s.state(), s.path(), 0, bytes));
             return s.state().view.failure();
         }},
    };
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> changes = {
        {"replaced", replaceBySameSize},
        {"rewritten", [](const std::string& path) { rewriteInPlace(path, 40); }},
    };
    for (const auto& [change, changeInput] : changes) {
        for (const auto& [name, job] : jobs) {
            SCOPED_TRACE(std::string(change) + " before " + name);
            makeInput();
            RepairSession s;
            openAndScan(s);
            const auto files = test::listFolder(dir.path());
            changeInput(input);
            const Failure failure = job(s);
            EXPECT_EQ(failure.kind, FailureKind::InputChanged);
            EXPECT_EQ(failure.path, input);
            EXPECT_EQ(test::listFolder(dir.path()), files);
        }
    }
    // The check of a saved output tells what the writer did to the input's
    // blocks: not of a file that changed since.
    makeInput();
    RepairSession s;
    openAndScan(s);
    test::RecordingSink sink;
    ASSERT_FALSE(s.save({out, false}, sink).failure);
    EXPECT_FALSE(s.verify({}, sink).failure);
    rewriteInPlace(input, 40);
    EXPECT_EQ(s.verify({}, sink).failure.kind, FailureKind::InputChanged);
}

// A stopped scan continues only on the file it stopped in.
TEST_F(InputIdentityTest, AScanResumesOnlyOnTheFileItStoppedIn) {
    makeInput();
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "touched" : "as it was");
        RepairSession s;
        ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
        test::StopAt stop(s.state(), 1);
        ASSERT_EQ(s.scan({input}, stop).failure.kind, FailureKind::Stopped);
        ASSERT_TRUE(s.canResume());
        s.state().job.stopRequested = false;
        if (changed) touch(input);
        test::RecordingSink sink;
        const Failure failure = s.scan({input, true}, sink).failure;
        EXPECT_EQ(failure.kind, changed ? FailureKind::InputChanged : FailureKind::None);
    }
}

// The index load takes the identity of the input it checked the records
// against, as a scan does: a copy put in the input's place after the open
// check is the file a later save must find.
TEST_F(InputIdentityTest, AnIndexLoadKeepsTheInputItChecked) {
    makeInput();
    {
        RepairSession scanned;
        openAndScan(scanned);
        ASSERT_FALSE(scanned.saveIndex().failure);
    }
    RepairSession s;
    ASSERT_EQ(s.open({input}).check, CheckResult::Ok);
    const std::vector<uint8_t> bytes = test::readFile(input);
    ASSERT_EQ(std::remove(input.c_str()), 0);
    dir.write("damaged.mpg", bytes);
    ASSERT_FALSE(s.loadIndex().failure);
    test::RecordingSink sink;
    EXPECT_FALSE(s.save({dir.file("first.mpg"), false}, sink).failure);
    rewriteInPlace(input, 40);
    EXPECT_EQ(s.save({dir.file("out.mpg"), false}, sink).failure.kind, FailureKind::InputChanged);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mpg")));
}

// A read that fails inside the automatic repair (here: the input touched
// after the first block) ends the walk with the read's failure; the blocks
// it could not read are not counted, as unresolved or otherwise.
TEST_F(InputIdentityTest, AReadFailingInTheAutomaticRepairStopsIt) {
    makeInput();
    RepairSession s;
    openAndScan(s);
    struct TouchAtRow : RepairProgress {
        std::string path;
        void step(size_t row, size_t) override {
            if (row == 2) touch(path);
        }
    } progress;
    progress.path = input;
    const ApplyResult result = apply(s, Strategy::Automatic, progress);
    EXPECT_EQ(result.failure.kind, FailureKind::InputChanged);
    EXPECT_EQ(result.failure.path, input);
    // Only the first block was read: the others are neither reported nor counted.
    EXPECT_EQ(result.outcome.summary.blocks, 1u);
    EXPECT_EQ(s.repairs().size(), 1u);
    EXPECT_EQ(s.counted().blocks, 1u);
}

}  // namespace
}  // namespace mpg
