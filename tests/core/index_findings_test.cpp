// The findings behind the block records of an index file: a list saved
// loads back as it was, an index without findings is the records alone, and
// a section a scan could not have written is refused.
#include <gtest/gtest.h>

#include <random>

#include "repair/index_file.h"
#include "repair/index_findings.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

std::vector<Finding> randomFindings(std::mt19937& rng, Position streamSize, size_t count) {
    std::vector<Finding> out(count);
    for (Finding& f : out) {
        f.begin = rng() % streamSize;
        f.end = f.begin + rng() % (streamSize - f.begin + 1);
        f.timeFrom = rng() % 3 == 0 ? kNoTime : int64_t(rng());
        f.timeTo = f.timeFrom == kNoTime ? kNoTime : f.timeFrom + rng() % 90000;
        f.frames = rng() % 4 == 0 ? 0 : uint32_t(rng());
        f.kind = static_cast<FindingKind>(rng() % kFindingKinds);
        f.cause = static_cast<FindingCause>(rng() % kFindingCauses);
        f.stream = static_cast<uint8_t>(rng());
        f.substream = static_cast<uint8_t>(rng());
    }
    return out;
}

struct Scanned {
    test::TempDir dir;
    test::Scanned scanned;
    std::string input = dir.write("f.mpg", [] {
        test::StreamBuilder b = test::typicalStream(8);
        b.insert(b.blocks()[5].offset + 60, 200, 0x00);
        return b.bytes();
    }());
    std::string index = indexFileName(input);
    Scanned() { EXPECT_TRUE(scanned.scan(input)); }
    const BlockTable& table() const { return scanned.state.table; }
    Position size() const { return scanned.state.view.streamSize(); }
};

TEST(IndexFindings, RandomListsLoadBackAsSavedInEitherFormat) {
    Scanned s;
    ASSERT_FALSE(saveIndexFile(s.table(), s.index, {s.input}));
    const std::vector<uint8_t> recordsAlone = test::readFile(s.index);
    std::mt19937 rng(5);
    for (int trial = 0; trial < 40; ++trial) {
        const IndexFormat format = trial % 2 ? IndexFormat::Wide : IndexFormat::Classic;
        const bool stopped = trial % 3 == 0;
        const std::vector<Finding> findings = randomFindings(rng, s.size(), 1 + rng() % 70);
        SCOPED_TRACE(trial);
        ASSERT_FALSE(saveIndexFile(s.table(), s.index, {s.input}, s.size(), format, stopped,
                                   nullptr, findings));
        const std::vector<uint8_t> bytes = test::readFile(s.index);
        if (format == IndexFormat::Classic && !stopped) {
            // The block records come first, as an index without findings has them.
            ASSERT_GT(bytes.size(), recordsAlone.size());
            EXPECT_TRUE(std::equal(recordsAlone.begin(), recordsAlone.end(), bytes.begin()));
            EXPECT_EQ(bytes.size(),
                      recordsAlone.size() + kBlockRecordSize * (1 + 2 * findings.size()));
        }
        AppState loaded;
        loaded.findings.add({});  // what a load must replace
        ASSERT_EQ(loadIndexFile(s.index, s.input, loaded, {true}).kind, FailureKind::None);
        EXPECT_EQ(loaded.table.entries(), s.table().entries());
        EXPECT_EQ(loaded.findings.items(), findings);
    }
    // Without findings the file is the records alone, and loads with none.
    ASSERT_FALSE(
        saveIndexFile(s.table(), s.index, {s.input}, s.size(), std::nullopt, false, nullptr, {}));
    EXPECT_EQ(test::readFile(s.index), recordsAlone);
    AppState loaded;
    loaded.findings.add({});
    ASSERT_EQ(loadIndexFile(s.index, s.input, loaded).kind, FailureKind::None);
    EXPECT_TRUE(loaded.findings.empty());
}

// A section no save writes makes the whole file damaged, and the state
// keeps what it held.
TEST(IndexFindings, ASectionNoSaveWritesIsRefused) {
    Scanned s;
    std::mt19937 rng(9);
    const std::vector<Finding> findings = randomFindings(rng, s.size(), 6);
    ASSERT_FALSE(saveIndexFile(s.table(), s.index, {s.input}, s.size(), std::nullopt, false,
                               nullptr, findings));
    const std::vector<uint8_t> good = test::readFile(s.index);
    const size_t section = s.table().size() * kBlockRecordSize;
    const size_t entry = 2 * kBlockRecordSize;
    const auto refused = [&](std::vector<uint8_t> bytes, const char* what,
                             StreamRules rules = StreamRules::Sound) {
        SCOPED_TRACE(what);
        s.dir.write("bad.index", bytes);
        AppState state;
        state.rules = rules;
        state.findings.add(findings[0]);
        EXPECT_EQ(loadIndexFile(s.dir.file("bad.index"), s.input, state).kind,
                  FailureKind::BadIndex);
        EXPECT_TRUE(state.table.empty());
        EXPECT_EQ(state.findings.size(), 1u);
    };
    const size_t first = section + kBlockRecordSize;  // the first finding
    const std::vector<std::pair<size_t, uint8_t>> changes = {
        {first + 36, uint8_t(kFindingKinds)},   // an unknown kind
        {first + 37, uint8_t(kFindingCauses)},  // an unknown cause
        {first + 15, 0x40},                     // the end far past the stream
        {first + entry - 1, 1}};                // a byte behind the fields
    for (const auto& [at, value] : changes) {
        auto bytes = good;
        bytes[at] = value;
        refused(bytes, "a finding no save writes");
    }
    auto bytes = good;
    bytes.resize(bytes.size() - entry);
    refused(bytes, "fewer findings than announced");
    bytes = good;
    bytes.insert(bytes.end(), good.end() - entry, good.end());
    refused(bytes, "more findings than announced");
    bytes = good;  // the section's opening record among the block records
    std::copy(good.begin() + section, good.begin() + section + kBlockRecordSize,
              bytes.begin() + kBlockRecordSize);
    refused(bytes, "opening among the blocks");
    refused(good, "the strict walk makes no findings", StreamRules::Literal);
}

}  // namespace
}  // namespace mpg
