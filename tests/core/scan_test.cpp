#include "analysis/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>

#include "analysis/scan_control.h"
#include "support/recording_sink.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

using test::Event;
using test::RecordingSink;
using test::StopAt;
using test::StreamBuilder;
using test::TempDir;

class ScanTest : public ::testing::Test {
  protected:
    void scan(const std::vector<uint8_t>& bytes) {
        path = dir.write("s.mpg", bytes);
        rescan();
    }
    void rescan() {
        ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
        sink.events.clear();
        EXPECT_FALSE(scanStream(state, sink));
        state.view.closeFile();
    }
    std::vector<Event> errors() const {
        std::vector<Event> out;
        for (const Event& e : sink.events)
            if (e.kind == Notify::Broken || e.kind == Notify::Resolved) out.push_back(e);
        return out;
    }
    // The first position at or after `from` where `count` bytes of `value`
    // can be inserted without touching an equal neighbour, so that the run
    // found is exactly the inserted one.
    static size_t cleanSpot(const StreamBuilder& b, size_t from, uint8_t value) {
        while (b.bytes()[from - 1] == value || b.bytes()[from] == value) ++from;
        return from;
    }

    TempDir dir;
    std::string path;
    AppState state;
    RecordingSink sink;
};

TEST_F(ScanTest, PackAndEndCode) {
    scan(StreamBuilder().pack().endCode().bytes());
    ASSERT_EQ(state.table.size(), 2u);
    EXPECT_EQ(state.table[0], (BlockRecord{0, 0x1BA, 12}));
    EXPECT_EQ(state.table[1], (BlockRecord{12, 0x1B9, 4}));
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(sink.clears, 1);
}

TEST_F(ScanTest, SoundStreamRecordsEveryBlock) {
    const StreamBuilder b = test::typicalStream(30);
    scan(b.bytes());
    ASSERT_EQ(state.table.size(), b.blocks().size());
    for (size_t i = 0; i < b.blocks().size(); ++i) {
        EXPECT_EQ(state.table[i].code, b.blocks()[i].code);
        EXPECT_EQ(state.table[i].offset, b.blocks()[i].offset);
        EXPECT_EQ(state.table[i].declaredSize, static_cast<int32_t>(b.blocks()[i].size));
        EXPECT_FALSE(state.table[i].isBroken());
    }
    EXPECT_TRUE(errors().empty());
}

TEST_F(ScanTest, InsertedZeroRunMakesOneBrokenBlock) {
    for (size_t n : {2u, 10u, 100u, 5000u}) {
        SCOPED_TRACE(n);
        StreamBuilder b = test::typicalStream(8);
        const size_t packet = 6;  // pack, header, then pack, video, audio per pack
        ASSERT_EQ(b.blocks()[packet].code, 0x1E0u);
        const size_t at = cleanSpot(b, b.blocks()[packet].offset + 6 + 700, 0x00);
        b.insert(at, n, 0x00);
        scan(b.bytes());

        ASSERT_EQ(state.table.size(), b.blocks().size());
        const BlockRecord& e = state.table[packet];
        EXPECT_EQ(e.broken, kBrokenListed);
        EXPECT_EQ(e.delta(), static_cast<int32_t>(n));
        EXPECT_EQ(e.repeatByte, 0);
        EXPECT_EQ(e.repeatLength, n);
        EXPECT_EQ(e.repeatStart, at - e.offset);
        EXPECT_EQ(state.table[packet + 1].offset, b.blocks()[packet + 1].offset + n);
        for (size_t i = 0; i < state.table.size(); ++i) {
            EXPECT_EQ(state.table[i].isBroken(), i == packet) << i;
        }
        const auto reported = errors();
        ASSERT_EQ(reported.size(), 2u);
        EXPECT_EQ(reported[0].kind, Notify::Broken);
        EXPECT_EQ(reported[1].kind, Notify::Resolved);
        EXPECT_EQ(reported[0].payload, static_cast<int32_t>(packet));
        EXPECT_EQ(reported[1].payload, static_cast<int32_t>(packet));
    }
}

TEST_F(ScanTest, DeletedBytesGiveNegativeDelta) {
    StreamBuilder b = test::typicalStream(4);
    const size_t packet = 3;
    b.erase(b.blocks()[packet].offset + 100, 10);
    scan(b.bytes());
    ASSERT_EQ(state.table.size(), b.blocks().size());
    EXPECT_EQ(state.table[packet].broken, kBrokenListed);
    EXPECT_EQ(state.table[packet].delta(), -10);
    EXPECT_EQ(state.table[packet + 1].offset, b.blocks()[packet + 1].offset - 10);
}

TEST_F(ScanTest, LongestRunOfAnyValueEarlierWinsTies) {
    StreamBuilder b = test::typicalStream(3);
    const size_t packet = 3;
    const size_t late = cleanSpot(b, b.blocks()[packet].offset + 1500, 0xFF);
    b.insert(late, 40, 0xFF);
    const size_t early = cleanSpot(b, b.blocks()[packet].offset + 300, 0xAA);
    b.insert(early, 40, 0xAA);
    scan(b.bytes());
    const BlockRecord& e = state.table[packet];
    EXPECT_EQ(e.delta(), 80);
    EXPECT_EQ(e.repeatByte, 0xAA);
    EXPECT_EQ(e.repeatLength, 40u);
    EXPECT_EQ(e.repeatStart, early - e.offset);
}

TEST_F(ScanTest, GarbageBehindAPackHeader) {
    StreamBuilder b = test::typicalStream(3);
    const size_t pack = 5;
    b.insert(b.blocks()[pack].offset + 12, 30, 0x55);
    scan(b.bytes());
    const BlockRecord& e = state.table[pack];
    EXPECT_EQ(e.code, 0x1BAu);
    EXPECT_EQ(e.realSize, 42);
    EXPECT_EQ(e.repeatByte, 0x55);
    EXPECT_EQ(e.repeatLength, 30u);
    EXPECT_EQ(e.repeatStart, 12u);
}

TEST_F(ScanTest, UnlistedStreamIdBreaksThePrecedingBlock) {
    StreamBuilder b;
    b.pack().systemHeader({0xE0, 0xC0}).pack().packet(0xE1, 100).pack().packet(0xE1, 100).endCode();
    scan(b.bytes());
    ASSERT_EQ(state.table.size(), 5u);
    EXPECT_EQ(state.codes.first(), 0x1E0u);
    EXPECT_EQ(state.codes.second(), 0x1C0u);
    EXPECT_EQ(state.table[2].broken, kBrokenListed);
    EXPECT_EQ(state.table[2].realSize, 12 + 106);
    EXPECT_EQ(state.table[3].broken, kBrokenListed);
    EXPECT_EQ(state.table[4].code, 0x1B9u);
}

TEST_F(ScanTest, OneStreamSystemHeadersKeepTheOtherCode) {
    // As on a video CD: each system header lists only its own stream, video
    // first; the second code keeps the value it had.
    StreamBuilder b;
    b.pack().systemHeader({0xE0}).pack().packet(0xE0, 300).pack().systemHeader({0xC0});
    b.packet(0xC0, 300).pack().packet(0xE0, 300).endCode();
    scan(b.bytes());
    EXPECT_EQ(state.table.size(), b.blocks().size());
    EXPECT_TRUE(errors().empty());
}

TEST_F(ScanTest, ProgressTextAndPercentage) {
    const StreamBuilder b = test::typicalStream(2000);
    scan(b.bytes());
    const auto progress = sink.of(Notify::Progress);
    ASSERT_FALSE(progress.empty());
    const uint32_t size = static_cast<uint32_t>(b.size());
    EXPECT_EQ(progress[0].progressText, "12 >> " + groupDigits(std::to_string(size)));
    EXPECT_EQ(progress[0].payload, static_cast<int32_t>(12 / (size / 100)));
    EXPECT_EQ(progress.back().payload, static_cast<int32_t>((size - 4) / (size / 100)));
    // One report per step but the last, which reaches the end of the stream.
    EXPECT_EQ(progress.size(), b.blocks().size() - 1);
}

// A sink that shows progress rarely lets the scan take quiet steps in bulk:
// the table and the error notifications must be exactly those of a scan that
// reports every step.
TEST_F(ScanTest, DecliningSinkGetsTheSameResults) {
    struct Declining : RecordingSink {
        bool refreshProgress() override {
            countdown_ = 997;
            return false;
        }
    } declining;
    StreamBuilder b = test::typicalStream(40);
    b.insert(b.blocks()[6].offset + 20, 5000, 0x00);
    b.insert(b.blocks()[30].offset + 1000, 64, 0x00);
    b.insert(b.blocks()[30].offset + 1100, 65, 0xFF);
    b.insert(b.blocks()[60].offset + 10, 3, 0x00);
    b.erase(b.blocks()[90].offset + 10, 30);
    scan(b.bytes());
    const auto full = state.table.entries();
    const auto errorsOfFull = errors();

    ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
    EXPECT_FALSE(scanStream(state, declining));
    EXPECT_EQ(state.table.entries(), full);
    EXPECT_TRUE(declining.of(Notify::Progress).empty());
    EXPECT_EQ(declining.of(Notify::Broken).size() + declining.of(Notify::Resolved).size(),
              errorsOfFull.size());
    EXPECT_EQ(errorsOfFull.size(), 8u);
}

// Runs of one byte inserted anywhere (inside packets, right before a start
// code, so that a run of zeros runs into 00 00 01), bytes cut: the scan that
// takes its quiet steps in bulk finds the blocks, sizes and runs of the scan
// asked for progress at every step.
TEST_F(ScanTest, RunsSteppedOverInBulkAsByteByByte) {
    struct Declining : RecordingSink {
        bool refreshProgress() override {
            countdown_ = 1 << 30;
            return false;
        }
    };
    std::mt19937 rng(31);
    for (int round = 0; round < 25; ++round) {
        StreamBuilder b = test::typicalStream(6);
        for (int damage = int(rng() % 6); damage >= 0; --damage) {
            const size_t at = rng() % 2 ? b.blocks()[rng() % b.blocks().size()].offset
                                        : 1 + rng() % (b.size() - 1);
            const uint8_t byte = std::vector<uint8_t>{0x00, 0x00, 0xFF, 0x01}[rng() % 4];
            if (rng() % 5 == 0) {
                b.erase(at, std::min<size_t>(1 + rng() % 40, b.size() - at));
            } else {
                b.insert(at, 1 + rng() % (rng() % 2 ? 9 : 3000), byte);
            }
        }
        SCOPED_TRACE(round);
        scan(b.bytes());
        const auto stepwise = state.table.entries();
        const auto rows = sink.rows();
        Declining declining;
        ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
        EXPECT_FALSE(scanStream(state, declining));
        state.view.closeFile();
        EXPECT_EQ(state.table.entries(), stepwise);
        EXPECT_EQ(declining.rows(), rows);
    }
}

// The quiet steps of a search go byte by byte: a start code prefix that
// begins no block (00 00 01 00) right in front of a pack header must not
// carry the search over the header's first bytes.
TEST_F(ScanTest, QuietSearchStopsAtAPackHeaderRightBehindAPrefix) {
    struct Quiet : RecordingSink {
        bool refreshProgress() override {
            countdown_ = 1 << 30;
            return false;
        }
    };
    StreamBuilder b = test::typicalStream(6);
    const size_t pack = 5;  // pack, header, then pack, video, audio per pack
    ASSERT_EQ(b.blocks()[pack].code, kPackStartCode);
    b.insertBytes(b.blocks()[pack].offset, {0x00, 0x00, 0x01});
    path = dir.write("s.mpg", b.bytes());
    Quiet quiet;
    ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
    EXPECT_FALSE(scanStream(state, quiet));
    state.view.closeFile();
    ASSERT_EQ(state.table.size(), b.blocks().size());
    EXPECT_EQ(state.table[pack - 1].broken, kBrokenListed);
    EXPECT_EQ(state.table[pack - 1].delta(), 3);
    EXPECT_EQ(state.table[pack], (BlockRecord{b.blocks()[pack].offset + 3, kPackStartCode, 12}));
}

TEST_F(ScanTest, MissingSignatureLeavesTableAlone) {
    state.table.assign({BlockRecord{0, 0x1BA, 12}});
    scan(StreamBuilder().systemHeader({0xE0}).endCode().bytes());
    EXPECT_EQ(sink.checks, std::vector<CheckResult>{CheckResult::NoSignature});
    EXPECT_EQ(state.table.size(), 1u);
    EXPECT_EQ(sink.clears, 0);
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(ScanTest, NoFileOpenDoesNothing) {
    EXPECT_FALSE(scanStream(state, sink));
    EXPECT_TRUE(sink.checks.empty());
    EXPECT_EQ(sink.clears, 0);
}

// A search that reaches the end of the file ends there: the block holds the
// rest of the file, and its row is complete. (The strict walk's: under the
// sound rules bytes behind a whole block that hold no start code are junk.)
TEST_F(ScanTest, StreamEndingWhileSearching) {
    state.rules = StreamRules::Literal;
    StreamBuilder b;
    b.pack().systemHeader({0xE0}).pack().packet(0xE0, 200).raw(StreamBuilder::pattern(50));
    scan(b.bytes());
    ASSERT_EQ(state.table.size(), 4u);
    const BlockRecord& e = state.table[3];
    EXPECT_EQ(e.broken, kBrokenListed);
    EXPECT_EQ(e.realSize, 206 + 50);
    EXPECT_EQ(e.repeatLength, 1u);  // the pattern repeats no byte
    ASSERT_EQ(errors().size(), 2u);
    EXPECT_EQ(errors()[0].kind, Notify::Broken);
    EXPECT_EQ(errors()[1].kind, Notify::Resolved);
    EXPECT_EQ(errors()[1].payload, 3);
}

// A stream cut inside its last packet: the block is listed with the bytes the
// file holds as its real size, never taken as whole (the writer would make
// up the rest as zeros).
TEST_F(ScanTest, BlockCutShortByTheEndIsListed) {
    const StreamBuilder whole = test::typicalStream(2);
    const size_t lastPacket = whole.size() - whole.blocks()[whole.blocks().size() - 2].offset;
    // The last cut leaves 5 bytes of the packet: the end falls inside its
    // length field, where no search begins and no run is found.
    for (size_t cut : {size_t{5}, size_t{300}, size_t{400}, size_t{402}, lastPacket - 5}) {
        SCOPED_TRACE(cut);
        StreamBuilder b = whole;
        b.erase(b.size() - cut, cut);  // the end code and bytes of the last audio packet
        scan(b.bytes());
        const size_t last = b.blocks().size() - 2;
        ASSERT_EQ(state.table.size(), last + 1);
        const BlockRecord& e = state.table[last];
        EXPECT_EQ(e.broken, kBrokenListed);
        EXPECT_EQ(e.offset, b.blocks()[last].offset);
        EXPECT_EQ(uint64_t{e.offset} + static_cast<uint64_t>(e.realSize), b.size());
        EXPECT_LT(e.delta(), 0);
        // Its longest run lies inside it, if it has one.
        EXPECT_TRUE(e.repeatLength == 0 ||
                    uint64_t{e.repeatStart} + e.repeatLength <= uint64_t(e.realSize));
        ASSERT_EQ(errors().size(), 2u);
        EXPECT_EQ(errors()[1].payload, static_cast<int32_t>(last));
    }
}

TEST_F(ScanTest, StopEndsAfterTheCurrentStep) {
    struct Stopping : RecordingSink {
        explicit Stopping(AppState& s) : st(s) {}
        void notify(const Notice& n) override {
            RecordingSink::notify(n);
            if (n.kind == Notify::Progress) st.job.stopRequested = true;
        }
        AppState& st;
    } stopping(state);
    path = dir.write("s.mpg", test::typicalStream(5).bytes());
    ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
    EXPECT_FALSE(scanStream(state, stopping));
    EXPECT_EQ(stopping.of(Notify::Progress).size(), 1u);
    ASSERT_EQ(state.table.size(), 1u);
    EXPECT_EQ(state.table[0].code, 0x1BAu);
}

TEST_F(ScanTest, ResumeAtTheEndRecordsNothing) {
    scan(test::typicalStream(3).bytes());
    const auto before = state.table.entries();
    state.resumeScan = 'y';
    rescan();
    EXPECT_EQ(state.table.entries(), before);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(sink.clears, 1);  // only the first, fresh scan cleared the list
}

// Stops the scan once, at its k-th progress report, drops the entry whose
// search the stop cut short (as the window does after a stop), and resumes to
// the end: the table must equal that of one uninterrupted scan, whether the
// stop fell between blocks or inside a resynchronisation.
TEST_F(ScanTest, StoppedAndResumedScanMatchesAFullScan) {
    StreamBuilder b = test::typicalStream(6);
    b.insert(b.blocks()[6].offset + 40, 300, 0x00);
    b.insert(b.blocks()[12].offset + 40, 20, 0x00);
    scan(b.bytes());
    const auto full = state.table.entries();
    const size_t reports = sink.of(Notify::Progress).size();

    for (size_t k = 1; k < reports; k += 3) {
        SCOPED_TRACE(k);
        StopAt stopping(state, k);
        state.resumeScan = '0';
        ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
        EXPECT_FALSE(scanStream(state, stopping));
        ASSERT_TRUE(state.job.stopRequested);
        const BlockRecord& last = state.table[state.table.size() - 1];
        if (last.broken == kBrokenListed && last.realSize == 0) state.table.dropLast();
        state.job.stopRequested = false;
        state.resumeScan = 'y';
        EXPECT_FALSE(scanStream(state, stopping));
        state.view.closeFile();
        EXPECT_EQ(state.table.entries(), full);
    }
}

// A recording that is still being written: the first scan's search reaches
// the end of the file; once the file has grown, continuing withdraws that
// block's row and examines the block afresh, so that the table and the rows
// are those of one scan of the grown file and no block is listed twice.
TEST_F(ScanTest, ResumeExaminesALastBlockCutShortAgain) {
    StreamBuilder b = test::typicalStream(4);
    b.insert(b.blocks()[6].offset + 40, 100, 0x00);
    const size_t behind = b.blocks()[7].offset + 100;  // the block behind the damage
    // behind + 6: its header alone, so that its search records no run
    for (size_t cut :
         {b.blocks()[7].offset + 50, behind + 6, behind + 20, behind + 2010, behind + 2100}) {
        SCOPED_TRACE(cut);
        state.resumeScan = '0';
        scan(b.bytes());
        const auto full = state.table.entries();
        const auto fullRows = sink.rows();
        scan(std::vector<uint8_t>(b.bytes().begin(),
                                  b.bytes().begin() + static_cast<ptrdiff_t>(cut)));
        const auto partial = state.table.entries();
        const auto partialRows = sink.rows();
        // A cut inside the bytes the broken block gained leaves its declared
        // end inside the file with no start code behind it: the block is
        // whole and the rest junk, until the file grows.
        const bool junk = !partial.back().isBroken();
        ASSERT_EQ(junk, !state.findings.empty());

        // Unchanged, the file gives the same table and rows again.
        state.resumeScan = 'y';
        rescan();
        EXPECT_EQ(state.table.entries(), partial);
        EXPECT_EQ(sink.rows(), partialRows);
        EXPECT_EQ(sink.of(Notify::Withdrawn).size(), junk ? 0u : 1u);

        dir.write("s.mpg", b.bytes());
        rescan();
        EXPECT_EQ(state.table.entries(), full);
        EXPECT_EQ(sink.rows(), fullRows);
        EXPECT_TRUE(state.findings.empty());
    }
}

// The stream codes of one file never reach the scan of the next: a video CD
// stream's first system header lists one stream, so the second code must be
// the initial one, not the audio code an ordinary file left. Checked and
// scanned in one state, the second file gives the rows of a fresh start,
// and so does a scan started after a join or check left other codes.
TEST(ScanCodes, EveryFileStartsFromTheInitialCodes) {
    const std::string av = test::fixture("av.mpg"), vcd = test::fixture("vcd.mpg");
    AppState fresh;
    RecordingSink freshSink;
    ASSERT_EQ(openAndCheck(fresh, vcd).result, CheckResult::Ok);
    ASSERT_FALSE(scanFileAfresh(fresh, vcd, freshSink));

    AppState state;
    RecordingSink sink;
    for (const std::string& path : {av, vcd}) {
        ASSERT_EQ(openAndCheck(state, path).result, CheckResult::Ok);
        ASSERT_FALSE(scanFileAfresh(state, path, sink));
    }
    EXPECT_EQ(state.table.entries(), fresh.table.entries());
    EXPECT_EQ(sink.rows(), freshSink.rows());

    state.codes = {0x1C5, 0x1E5};
    ASSERT_FALSE(scanFileAfresh(state, vcd, sink));
    EXPECT_EQ(state.table.entries(), fresh.table.entries());
    EXPECT_EQ(sink.rows(), freshSink.rows());
}

// Two broken blocks back to back: the search for the first ends at the second,
// which is itself broken. Stopped at any report and resumed as the window does
// (the unfinished row and its entry dropped), the table and the rows are
// those of one scan; a resume that took the first block up again would list
// it twice.
TEST_F(ScanTest, StopAndResumeBetweenAdjacentBrokenBlocks) {
    StreamBuilder b = test::typicalStream(5);
    b.insert(b.blocks()[7].offset + 30, 200, 0x00);  // audio, then the pack behind it
    b.insert(b.blocks()[8].offset + 200 + 12, 40, 0xFF);
    b.insert(b.blocks()[9].offset + 240 + 500, 3, 0x00);
    scan(b.bytes());
    const auto full = state.table.entries();
    const auto fullRows = sink.rows();
    ASSERT_EQ(fullRows.size(), 4u);
    const size_t reports = sink.of(Notify::Progress).size();

    for (size_t k = 1; k < reports; ++k) {
        SCOPED_TRACE(k);
        StopAt stopping(state, k);
        state.resumeScan = '0';
        ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
        EXPECT_FALSE(scanStream(state, stopping));
        ASSERT_TRUE(state.job.stopRequested);
        dropUnfinishedBlock(state.table, stopping.grid);
        state.job.stopRequested = false;
        state.resumeScan = 'y';
        EXPECT_FALSE(scanStream(state, stopping));
        state.view.closeFile();
        EXPECT_EQ(state.table.entries(), full);
        EXPECT_EQ(stopping.rows(), fullRows);
    }
}

// A stream longer than one read window, so that the scan refills it.
std::vector<uint8_t> severalWindows() {
    StreamBuilder b = test::typicalStream(2000);
    b.insert(b.blocks()[40].offset + 100, 50, 0x00);
    return b.bytes();
}

// A read the system refuses stops the scan where it failed; nothing of it is
// taken for stream bytes. The descriptor is swapped for a folder's, whose
// reads fail (EISDIR) as a failing disk's would (EIO).
TEST_F(ScanTest, ReadFailureStopsTheScanWithPositionAndReason) {
    path = dir.write("s.mpg", severalWindows());
    struct Failing : RecordingSink {
        Failing(AppState& s, const std::string& folder) : st(s), folder(folder) {}
        void notify(const Notice& n) override {
            RecordingSink::notify(n);
            if (n.kind != Notify::Progress || swapped) return;
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            ASSERT_GE(fd, 0);
            ASSERT_GE(::dup2(fd, st.view.fileHandle()), 0);
            ::close(fd);
            swapped = true;
        }
        AppState& st;
        std::string folder;
        bool swapped = false;
    } failing(state, dir.path());
    ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
    const Failure f = scanStream(state, failing);
    state.view.closeFile();
    EXPECT_EQ(f.kind, FailureKind::ReadFailed);
    EXPECT_EQ(f.systemError, EISDIR);
    EXPECT_EQ(f.path, path);
    // The first window ends at 2,048,000: the scan stopped where it needed more.
    EXPECT_GT(f.position, StreamView::kCacheSize - 6);
    const BlockRecord& last = state.table[state.table.size() - 1];
    EXPECT_LE(uint64_t{last.offset} + static_cast<uint64_t>(last.declaredSize), f.position + 6);
    EXPECT_EQ(failureText(f), "ошибка чтения файла: " + path + ": позиция " +
                                  groupDigits(std::to_string(f.position)) + ": Is a directory");
}

// The input changed while it is scanned: cut, grown or overwritten in place.
// A change is found at the next read window or, at the latest, when the scan
// ends; the scan fails with it.
TEST_F(ScanTest, InputChangedDuringTheScanFails) {
    const auto big = severalWindows();
    const auto small = test::typicalStream(20).bytes();
    enum Change { Cut, Grow, Overwrite };
    for (const auto& bytes : {big, small}) {
        for (Change change : {Cut, Grow, Overwrite}) {
            SCOPED_TRACE(std::to_string(bytes.size()) + " " + std::to_string(int(change)));
            path = dir.write("s.mpg", bytes);
            // An old time, so that a change within the clock's tick still shows.
            const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
            struct Changing : RecordingSink {
                Changing(std::string p, Change c) : p(p), c(c) {}
                void notify(const Notice& n) override {
                    RecordingSink::notify(n);
                    if (n.kind != Notify::Progress || done) return;
                    done = true;
                    const int fd = ::open(p.c_str(), O_WRONLY);
                    const bool changed = c == Cut    ? ::ftruncate(fd, 1'000'000) == 0
                                         : c == Grow ? ::pwrite(fd, "\0\0\1\xB9", 4, 9'000'000) == 4
                                                     : ::pwrite(fd, "\0\0\0\0", 4, 0) == 4;
                    EXPECT_TRUE(changed);
                    ::close(fd);
                }
                std::string p;
                Change c;
                bool done = false;
            } changing(path, change);
            ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
            const Failure f = scanStream(state, changing);
            state.view.closeFile();
            EXPECT_EQ(f.kind, FailureKind::InputChanged);
            EXPECT_EQ(failureText(f), "входной файл изменился во время работы: " + path);
            if (bytes.size() > StreamView::kCacheSize) {
                // Stopped at the next window: no block of the rest was taken.
                const BlockRecord& last = state.table[state.table.size() - 1];
                EXPECT_LT(last.offset, 2 * StreamView::kCacheSize);
            }
        }
    }
}

}  // namespace
}  // namespace mpg
