#include "repair/index_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "stream/file_io.h"
#include "support/recording_sink.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

const std::vector<BlockRecord> kSample = {
    {0, 0x1BA, 12},
    {12, 0x1E0, 2006, -5, 100, 7, kBrokenListed, 0xFF},
    {3000000000u, 0x1C0, -1, 2106, 0xFFFFFFFFu, 0, kBrokenAccepted},
    {4294967295u, 0x1B9, 4},
};

BlockTable tableOf(const std::vector<BlockRecord>& entries) {
    BlockTable t;
    t.assign(entries);
    return t;
}

std::vector<uint8_t> encoded(const std::vector<BlockRecord>& entries) {
    std::vector<uint8_t> bytes(entries.size() * kBlockRecordSize);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_TRUE(encodeBlockRecord(entries[i], bytes.data() + i * kBlockRecordSize));
    }
    return bytes;
}

// A stream with broken blocks of each kind: longer, shorter, and cut short
// by the end of the file.
std::vector<uint8_t> damagedStream(int packs, uint8_t runByte) {
    test::StreamBuilder b = test::typicalStream(packs);
    b.insert(b.blocks()[3].offset + 100, 300, runByte);
    b.erase(b.blocks()[6].offset + 40, 10);
    auto bytes = b.bytes();
    bytes.resize(bytes.size() - 300);
    return bytes;
}

// The input scanned as the window scans it, its index saved beside it.
struct Indexed {
    test::Scanned scanned;
    std::string input, index;
    Indexed(const test::TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes)
        : input(dir.write(name, bytes)), index(indexFileName(input)) {
        EXPECT_TRUE(scanned.scan(input));
        EXPECT_FALSE(saveIndexFile(scanned.state.table, index, {input}));
    }
};

TEST(IndexFile, SavedBesideTheInputAndLoadedBack) {
    test::TempDir dir;
    const std::string input = dir.write("film.mpg", {0, 0, 1, 0xBA});
    const std::string path = indexFileName(input);
    EXPECT_EQ(path, dir.file("film.mpg.index"));
    dir.write("film.mpg.index", std::vector<uint8_t>(200, 0xEE));  // longer: must be truncated

    ASSERT_FALSE(saveIndexFile(tableOf(kSample), path, {input}));
    EXPECT_EQ(test::readFile(path), encoded(kSample));
    EXPECT_EQ(test::readFile(input), (std::vector<uint8_t>{0, 0, 1, 0xBA}));

    const Indexed a(dir, "a.mpg", damagedStream(5, 0x00));
    AppState state;
    state.table = tableOf({{1, 0x1BB, 18}});
    state.codes = {0x1C7, 0x1E7};
    EXPECT_EQ(loadIndexFile(a.index, a.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.table.entries(), a.scanned.state.table.entries());
    EXPECT_EQ(state.codes.first(), a.scanned.state.codes.first());
    EXPECT_EQ(state.codes.second(), a.scanned.state.codes.second());
}

// The record's offset field holds 32 bits: a block at 4 GiB or beyond is
// refused as a failed write, never stored cut short as another block's
// offset, and an index it would replace stays as it was.
TEST(IndexFile, AnOffsetPastTheRecordsReachIsRefused) {
    test::TempDir dir;
    uint8_t bytes[kBlockRecordSize] = {};
    EXPECT_TRUE(encodeBlockRecord({0xFFFF'FFFFu, 0x1E0, 2006}, bytes));
    EXPECT_FALSE(encodeBlockRecord({0x1'0000'0000u, 0x1E0, 2006}, bytes));

    const std::string path = dir.write("x.index", {1, 2, 3});
    const Failure f =
        saveIndexFile(tableOf({{0, 0x1BA, 12}, {0x1'0000'0000u, 0x1E0, 2006}}), path, {});
    EXPECT_EQ(f.kind, FailureKind::WriteFailed);
    EXPECT_EQ(f.systemError, EFBIG);
    EXPECT_EQ(test::readFile(path), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(IndexFile, TablesLargerThanOneWrite) {
    test::TempDir dir;
    std::vector<BlockRecord> many(100000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = {i, 0x1E0, 2006};
    ASSERT_FALSE(saveIndexFile(tableOf({many.begin(), many.begin() + 1000}), dir.file("a"), {}));
    EXPECT_EQ(std::filesystem::file_size(dir.file("a")), 26000u);

    ASSERT_FALSE(saveIndexFile(tableOf(many), dir.file("b"), {}));
    EXPECT_EQ(test::readFile(dir.file("b")), encoded(many));

    // More records than one read takes, every one checked.
    const Indexed big(dir, "big.mpg", test::typicalStream(20000, 10, 10).bytes());
    ASSERT_GT(big.scanned.state.table.size(), 60000u);
    AppState state;
    ASSERT_EQ(loadIndexFile(big.index, big.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.table.entries(), big.scanned.state.table.entries());
}

// The records are checked before the table the state holds is given up: an
// index refused at its last record, reads after its first, leaves that
// table and its codes exactly as they were, and each load that succeeds
// replaces the table whole, whatever its size before, in either format.
TEST(IndexFile, OnlyACheckedIndexReplacesTheTable) {
    test::TempDir dir;
    const Indexed big(dir, "big.mpg", test::typicalStream(20000, 10, 10).bytes());
    const Indexed small(dir, "small.mpg", damagedStream(5, 0x00));
    const std::vector<BlockRecord> bigRows = big.scanned.state.table.entries();
    const std::vector<BlockRecord> smallRows = small.scanned.state.table.entries();
    ASSERT_GT(bigRows.size() * kWideBlockRecordSize, kIoBuffer);  // several reads
    const std::string wide = dir.file("big.wide.index");
    ASSERT_FALSE(saveIndexFile(big.scanned.state.table, wide, {big.input},
                               std::filesystem::file_size(big.input), IndexFormat::Wide));

    AppState state;
    ASSERT_EQ(loadIndexFile(small.index, small.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.table.entries(), smallRows);
    std::vector<BlockRecord> altered = bigRows;
    altered.back().declaredSize += 1;
    const std::string bad = dir.write("altered.index", encoded(altered));
    const StreamCodes codes = state.codes;
    EXPECT_EQ(loadIndexFile(bad, big.input, state).kind, FailureKind::BadIndex);
    EXPECT_EQ(state.table.entries(), smallRows);
    EXPECT_EQ(state.codes.first(), codes.first());
    EXPECT_EQ(state.codes.second(), codes.second());

    ASSERT_EQ(loadIndexFile(big.index, big.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.table.entries(), bigRows);
    EXPECT_EQ(loadIndexFile(bad, big.input, state).kind, FailureKind::BadIndex);
    EXPECT_EQ(state.table.entries(), bigRows);
    ASSERT_EQ(loadIndexFile(small.index, small.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.table.entries(), smallRows);
    ASSERT_EQ(loadIndexFile(wide, big.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.table.entries(), bigRows);
    EXPECT_EQ(state.table.lastIndex() + 1, static_cast<int64_t>(bigRows.size()));
    // Neither stream nor index was touched by the loads.
    EXPECT_EQ(test::readFile(big.input), test::typicalStream(20000, 10, 10).bytes());
    EXPECT_EQ(test::readFile(big.index), encoded(bigRows));
}

TEST(IndexFile, EmptyOrPartialFilesAreRefusedAsDamaged) {
    test::TempDir dir;
    ASSERT_FALSE(saveIndexFile(BlockTable{}, dir.file("e"), {}));
    EXPECT_TRUE(test::readFile(dir.file("e")).empty());

    const Indexed a(dir, "a.mpg", damagedStream(3, 0x00));
    AppState state;
    state.table = tableOf(kSample);
    EXPECT_EQ(loadIndexFile(dir.file("e"), a.input, state).kind, FailureKind::BadIndex);
    auto whole = test::readFile(a.index);
    whole.pop_back();
    EXPECT_EQ(loadIndexFile(dir.write("short", whole), a.input, state).kind, FailureKind::BadIndex);
    EXPECT_EQ(loadIndexFile(dir.write("odd", std::vector<uint8_t>(27)), a.input, state).kind,
              FailureKind::BadIndex);
    EXPECT_EQ(loadIndexFile(dir.file("missing"), a.input, state).kind, FailureKind::NoIndex);
    EXPECT_EQ(loadIndexFile(dir.path(), a.input, state).kind, FailureKind::NotRegular);
    EXPECT_EQ(state.table.entries(), kSample);
}

// The index of one file copied beside another: its blocks lie elsewhere, and
// the repair would cut real data. Refused, and nothing is changed.
TEST(IndexFile, ForeignIndexIsRefused) {
    test::TempDir dir;
    const Indexed a(dir, "a.mpg", damagedStream(6, 0x00));
    const Indexed b(dir, "b.mpg", damagedStream(6, 0xFF));
    const Indexed c(dir, "c.mpg", damagedStream(9, 0x00));
    for (const Indexed* other : {&b, &c}) {
        AppState state;
        state.table = tableOf(kSample);
        state.codes = {0x1C7, 0x1E7};
        EXPECT_EQ(loadIndexFile(a.index, other->input, state).kind, FailureKind::BadIndex);
        EXPECT_EQ(state.table.entries(), kSample);
        EXPECT_EQ(state.codes.first(), 0x1C7u);
    }
    // The input itself cannot be read: its own failure is given.
    AppState state;
    const Failure why = loadIndexFile(a.index, dir.file("gone.mpg"), state);
    EXPECT_EQ(why.kind, FailureKind::OpenFailed);
    EXPECT_EQ(why.systemError, ENOENT);
    EXPECT_TRUE(state.table.empty());
}

// Any single record changed in a way a scan could not have written it is
// found: the whole file is refused.
TEST(IndexFile, RandomlyAlteredRecordsAreRefused) {
    test::TempDir dir;
    const Indexed a(dir, "a.mpg", damagedStream(8, 0x00));
    const std::vector<BlockRecord> good = a.scanned.state.table.entries();
    std::mt19937 rng(11);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<BlockRecord> records = good;
        const size_t i = rng() % records.size();
        BlockRecord& r = records[i];
        const int32_t by = static_cast<int32_t>(1 + rng() % 40) * (rng() % 2 ? 1 : -1);
        std::string what;
        switch (rng() % 7) {
            case 0:
                r.offset = static_cast<uint32_t>(r.offset + by), what = "offset";  // as stored
                break;
            case 1:
                r.code = r.code == 0x1E0 ? 0x1C0 : 0x1E0, what = "code";
                break;
            case 2:
                r.declaredSize += by, what = "declared size";
                break;
            case 3:
                r.broken = static_cast<uint8_t>(r.isBroken() ? 'z' : 'y'), what = "marker";
                if (!good[i].isBroken())
                    r.realSize = good[i].declaredSize;  // shaped like a real one
                break;
            case 4:
                if (r.isBroken() && r.repeatLength == 0) continue;
                if (r.isBroken()) r.repeatStart = static_cast<uint32_t>(r.realSize);
                if (!r.isBroken()) r.repeatLength = 5;
                what = "run";
                break;
            case 5:
                if (!r.isBroken()) continue;
                r.realSize += by, what = "real size";
                break;
            default:
                r.offset = good[(i + 1) % good.size()].offset, what = "order";
                if (r.offset == good[i].offset) continue;
                break;
        }
        SCOPED_TRACE(what + " of record " + std::to_string(i));
        const std::string path = dir.write("altered.index", encoded(records));
        AppState state;
        EXPECT_EQ(loadIndexFile(path, a.input, state).kind, FailureKind::BadIndex);
        EXPECT_TRUE(state.table.empty());
    }
}

// A scan stopped inside the search of a broken block that follows another:
// the window drops the unfinished block, so the table ends with a broken
// block whose search ended at a start code, not at the end of the file. Its
// index loads back whole at every stop, and a scan resumed from it ends with
// the table of one whole scan.
TEST(IndexFile, AStoppedScansIndexLoadsBack) {
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(5);
    b.insert(b.blocks()[7].offset + 30, 200, 0x00);
    b.insert(b.blocks()[8].offset + 200 + 12, 40, 0xFF);
    const Indexed whole(dir, "s.mpg", b.bytes());
    const std::string index = dir.file("stopped.index");
    size_t endingBroken = 0;
    for (size_t k = 1;; ++k) {
        SCOPED_TRACE(k);
        AppState state;
        test::StopAt stopping(state, k);
        ASSERT_EQ(state.view.openStream(whole.input), OpenStatus::Opened);
        EXPECT_FALSE(scanStream(state, stopping));
        state.view.closeFile();
        if (!state.job.stopRequested) break;
        dropUnfinishedBlock(state.table, stopping.grid);
        if (state.table.empty()) continue;
        endingBroken += state.table[state.table.size() - 1].isBroken();
        ASSERT_FALSE(saveIndexFile(state.table, index, {whole.input}));

        AppState loaded;
        ASSERT_EQ(loadIndexFile(index, whole.input, loaded).kind, FailureKind::None);
        EXPECT_EQ(loaded.table.entries(), state.table.entries());
        test::RecordingSink sink;
        sink.grid.rebuildFromTable(loaded.table);
        ASSERT_EQ(loaded.view.openStream(whole.input), OpenStatus::Opened);
        loaded.resumeScan = 'y';
        EXPECT_FALSE(scanStream(loaded, sink));
        EXPECT_EQ(loaded.table.entries(), whole.scanned.state.table.entries());
    }
    EXPECT_GT(endingBroken, 0u);
    EXPECT_EQ(test::readFile(whole.input), b.bytes());
}

// The codes in force at the end of a video CD stream are not those of its
// first system header, which lists one stream: the writer needs the former.
TEST(IndexFile, LoadingGivesTheCodesAtTheTablesEnd) {
    test::TempDir dir;
    const Indexed vcd(dir, "vcd.mpg", test::readFile(test::fixture("vcd.mpg")));
    AppState state;
    ASSERT_EQ(openAndCheck(state, vcd.input).result, CheckResult::Ok);
    ASSERT_NE(state.codes.first(), vcd.scanned.state.codes.first());
    ASSERT_EQ(loadIndexFile(vcd.index, vcd.input, state).kind, FailureKind::None);
    EXPECT_EQ(state.codes.first(), vcd.scanned.state.codes.first());
    EXPECT_EQ(state.codes.second(), vcd.scanned.state.codes.second());
}

TEST(IndexFile, SaveIntoMissingFolderFails) {
    test::TempDir dir;
    const Failure missing = saveIndexFile(tableOf(kSample), dir.file("no/such.index"), {});
    EXPECT_EQ(missing.kind, FailureKind::WriteFailed);
    EXPECT_EQ(missing.systemError, ENOENT);
    EXPECT_EQ(saveIndexFile(tableOf(kSample), dir.path(), {}).systemError, EISDIR);
}

// `ln -s v.mpg v.mpg.index` once turned the input into its own index.
TEST(IndexFile, AnIndexThatIsTheInputIsRefused) {
    test::TempDir dir;
    const std::vector<uint8_t> stream = {0, 0, 1, 0xBA, 0x44};
    const std::string input = dir.write("v.mpg", stream);
    const std::string index = indexFileName(input);
    const std::string second = dir.path() + "/./v.mpg";
    const auto refused = [&](const std::string& name) {
        const Failure f = saveIndexFile(tableOf(kSample), name, {input});
        EXPECT_EQ(f.kind, FailureKind::OutputIsInput) << name;
        EXPECT_EQ(test::readFile(input), stream) << name;
    };
    ASSERT_EQ(::symlink(input.c_str(), index.c_str()), 0);
    refused(index);
    ::unlink(index.c_str());
    ASSERT_EQ(::link(input.c_str(), index.c_str()), 0);
    refused(index);
    refused(second);
    // Nothing else was left in the folder: no temporary file.
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"v.mpg", "v.mpg.index"}));
}

}  // namespace
}  // namespace mpg
