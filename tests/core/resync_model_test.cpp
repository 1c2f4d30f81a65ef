// The scan steps over a broken block's bytes a window at a time: a search
// for the next start code, then the longest run over the bytes passed. Here
// it is checked against the plain walk it replaces, kept as a model: one
// block or one byte a step over the stream held in memory. Every table
// entry, every row and every progress report must be the same, on damaged
// copies of the fixtures and on long runs that cross the read windows,
// stopped and resumed inside them, and read through a cut list.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "analysis/scan.h"
#include "model/sector_grid.h"
#include "support/damage.h"
#include "support/recording_sink.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::Event;
using test::RecordingSink;
using test::StreamBuilder;

// The longest run of equal bytes, taken one byte at a time.
struct ByteWalk {
    uint8_t byte = 0;
    uint64_t length = 0, start = 0;
    uint8_t bestByte = 0;
    uint64_t best = 0, bestStart = 0;

    void restart(uint64_t at) { *this = ByteWalk{0, 0, at, 0, 0, at}; }
    void keep() {
        if (length > best) best = length, bestByte = byte, bestStart = start;
    }
    void take(uint8_t b, uint64_t at) {
        if (b == byte) {
            ++length;
            return;
        }
        keep();
        byte = b, length = 1, start = at;
    }
};

// A fresh scan under the sound rules as the model walk: what the table
// holds; rows and progress go to `sink`, and a stop asked through `job` is
// taken after the step, as the scan takes it.
std::vector<BlockRecord> modelScan(const std::vector<uint8_t>& file, JobSink& sink,
                                   const JobState& job) {
    const uint64_t size = file.size();
    std::vector<uint8_t> padded(file);  // bytes past the end read as zero
    padded.resize(size + kSystemHeaderReadSize);
    SectorSizeLearner learner;
    learner.take(file.data(), std::min<uint64_t>(size, SectorSizeLearner::kHeadBytes), 0);
    SectorGrid grid(learner.sectorSize());
    StreamCodes codes;
    std::vector<BlockRecord> table;
    ByteWalk run;
    uint64_t pos = 0;
    bool inResync = false;
    const auto notify = [&](Notify kind) {
        sink.notify({kind, static_cast<int32_t>(table.size() - 1), 0, 0, table.back()});
    };
    const auto startSearch = [&] {
        notify(Notify::Broken);
        inResync = true;
        pos = table.back().offset + kLengthFieldEnd;
        table.back().broken = kBrokenListed;
        run.restart(pos);
    };
    const auto endSearch = [&](bool mayEndFill) {
        BlockRecord& b = table.back();
        uint64_t fill = 0;
        if (mayEndFill || pos == size) {
            const uint64_t zeros = run.byte == 0 && run.start + run.length == pos ? run.length : 0;
            fill = fillBehindBrokenBlock(b.offset + uint64_t(std::max(b.declaredSize, 0)), pos,
                                         zeros, grid);
            run.length -= fill;
        }
        run.keep();
        b.realSize = static_cast<int32_t>(pos - fill - b.offset);
        grid.brokenBlock(b.delta());
        b.repeatByte = run.bestByte;
        b.repeatLength = static_cast<uint32_t>(run.best);
        b.repeatStart = static_cast<uint32_t>(run.bestStart - b.offset);
        notify(Notify::Resolved);
        inResync = false;
        if (fill > 0) table.push_back({pos - fill, kFillCode, static_cast<int32_t>(fill)});
    };
    sink.clearErrorList();
    while (pos < size) {
        const uint32_t code = loadBE32(&padded[pos]);
        bool record = true;
        if (inResync) {
            if (codes.isValidStartCode(code)) {
                endSearch(code == kPackStartCode || code == kEndCode);
            } else {
                run.take(file[pos], pos);
                ++pos;
                record = false;
            }
        }
        const BlockKind kind = codes.classify(code);
        if (record && kind == BlockKind::None) {
            if (table.empty()) break;
            uint64_t zerosEnd = pos;
            while (zerosEnd < size && file[zerosEnd] == 0) ++zerosEnd;
            const bool behindEndCode = table.back().code == kEndCode && !table.back().isBroken();
            const uint64_t fill =
                fillLength(pos, zerosEnd, size, size - zerosEnd >= 2 ? &file[zerosEnd] : nullptr,
                           grid, behindEndCode);
            if (fill > 0) {
                table.push_back({pos, kFillCode, static_cast<int32_t>(fill)});
                pos += fill;
            } else {
                startSearch();
            }
        } else if (record) {
            const ByteSpan head(&padded[pos], kind == BlockKind::SystemHeader
                                                  ? kSystemHeaderReadSize
                                              : kind == BlockKind::Pack ? kMpeg2PackHeaderSize
                                                                        : 6);
            if (kind == BlockKind::Pack) {
                codes.takePackHeader(head);
                grid.packAt(pos);
            }
            table.push_back({pos, code, codes.sizeOf(kind, head)});
            pos += static_cast<uint64_t>(table.back().declaredSize);
            if (kind == BlockKind::SystemHeader) takeStreamCodes(codes, head);
            if (pos > size) startSearch();
        }
        if (pos >= size) break;
        if (sink.progressDue()) {
            sink.notify({Notify::Progress,
                         static_cast<int32_t>(progressPercent(pos, size)),
                         pos,
                         size,
                         {}});
        }
        if (job.stopRequested) break;
    }
    if (inResync && pos >= size) {
        pos = size;
        endSearch(false);
    }
    return table;
}

// Delivers every `stride`-th progress report and declines the others
// unseen, as the window's and the command line's sinks do; asks to stop at
// the `stopAt`-th report delivered (never when 0).
struct StridedSink : RecordingSink {
    StridedSink(int32_t stride, JobState& job, size_t stopAt = 0)
        : stride(stride), job(job), stopAt(stopAt) {}
    bool refreshProgress() override {
        countdown_ = stride;
        return true;
    }
    void notify(const Notice& n) override {
        RecordingSink::notify(n);
        if (n.kind == Notify::Progress && ++delivered == stopAt) job.stopRequested = true;
    }
    int32_t stride;
    JobState& job;
    size_t stopAt;
    size_t delivered = 0;
};

void expectSameEvents(const std::vector<Event>& scan, const std::vector<Event>& model) {
    ASSERT_EQ(scan.size(), model.size());
    for (size_t i = 0; i < scan.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(scan[i].kind, model[i].kind);
        EXPECT_EQ(scan[i].payload, model[i].payload);
        EXPECT_EQ(scan[i].progressText, model[i].progressText);
        EXPECT_EQ(scan[i].record, model[i].record);
    }
}

class ResyncModel : public ::testing::Test {
  protected:
    // Scans `file` (whose stream is `stream`) with `sink` and the model with
    // a sink alike: the same table, rows and reports.
    void expectAsModel(const std::string& file, const std::vector<uint8_t>& stream,
                       StridedSink& sink) {
        JobState modelJob;
        StridedSink modelSink(sink.stride, modelJob, sink.stopAt);
        const std::vector<BlockRecord> model = modelScan(stream, modelSink, modelJob);

        state.job.stopRequested = false;
        state.resumeScan = '0';
        ASSERT_EQ(state.view.openStream(file), OpenStatus::Opened);
        state.view.resetCache();
        EXPECT_FALSE(scanStream(state, sink));
        state.view.closeFile();
        EXPECT_EQ(state.table.entries(), model);
        EXPECT_EQ(sink.rows(), modelSink.rows());
        expectSameEvents(sink.events, modelSink.events);
    }
    void expectAsModel(const std::string& file, const std::vector<uint8_t>& stream,
                       int32_t stride) {
        StridedSink sink(stride, state.job);
        expectAsModel(file, stream, sink);
    }

    test::TempDir dir;
    AppState state;
};

// Every class of damage in every fixture, each scanned with progress at
// every step (each byte of a search a step of its own) and at strides
// that let the scan pass most of a search in bulk.
TEST_F(ResyncModel, DamagedFixturesScanAsTheWalk) {
    std::mt19937_64 rng(20);
    const int32_t strides[] = {1, 2, 61, 997, 1 << 30};
    size_t scanned = 0;
    for (const char* name : {"av.mpg", "dvd.mpg", "svcd-mplex.mpg", "two-audio.mpg", "vcd-2324.mpg",
                             "vcd.mpg", "video-only.mpg", "vob.mpg"}) {
        const std::optional<test::CleanStream> clean = test::loadCleanStream(test::fixture(name));
        ASSERT_TRUE(clean) << name;
        for (const test::DamageClass damage : test::kDamageClasses) {
            const std::optional<test::DamagedStream> d = test::damageStream(*clean, damage, rng);
            if (!d) continue;
            SCOPED_TRACE(std::string(name) + " " + test::damageClassName(damage));
            const std::string file = dir.write("d.mpg", d->bytes);
            expectAsModel(file, d->bytes, strides[scanned++ % std::size(strides)]);
        }
    }
    EXPECT_GT(scanned, 60u);
}

// Streams of a few read windows with runs of megabytes: zeros, 01 bytes
// (each may end a start code's prefix), 00 00 01 followed by no valid code,
// 0xFF and random bytes, inserted anywhere (into packets, in front of a
// start code, at the end of the file), some of them read through cuts of
// bytes the file holds between the stream's.
TEST_F(ResyncModel, LongRunsAcrossWindowsScanAsTheWalk) {
    std::mt19937 rng(7);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        StreamBuilder b = test::typicalStream(300);
        for (int damage = 0; damage < 4; ++damage) {
            const size_t at = rng() % 3 == 0 ? b.blocks()[rng() % b.blocks().size()].offset
                                             : 1 + rng() % (b.size() - 1);
            const size_t length = rng() % 2 ? 1 + rng() % 3'000'000 : 1 + rng() % 70'000;
            std::vector<uint8_t> run;
            switch (rng() % 5) {
                case 0:
                    run.assign(length, 0x00);
                    break;
                case 1:
                    run.assign(length, 0x01);
                    break;
                case 2:
                    while (run.size() < length) run.insert(run.end(), {0x00, 0x00, 0x01, 0x00});
                    break;
                case 3:
                    run.assign(length, 0xFF);
                    break;
                default:
                    while (run.size() < length) run.push_back(uint8_t(rng() % 4 ? rng() : 0));
                    break;
            }
            b.insertBytes(at, run);
        }
        if (round % 2) b.insert(b.size(), 1 + rng() % 100'000, 0x00);
        const std::vector<uint8_t>& stream = b.bytes();
        std::vector<uint8_t> file;
        std::vector<CutRegion> cuts;
        if (round % 3 == 2) {
            // Foreign bytes between the stream's, which the cuts take out.
            std::vector<size_t> places;
            for (int k = 0; k < 5; ++k) places.push_back(rng() % (stream.size() + 1));
            std::sort(places.begin(), places.end());
            size_t from = 0;
            for (const size_t at : places) {
                file.insert(file.end(), stream.begin() + ptrdiff_t(from),
                            stream.begin() + ptrdiff_t(at));
                cuts.push_back({file.size(), 1 + rng() % 300'000});
                file.insert(file.end(), cuts.back().length, uint8_t(rng()));
                from = at;
            }
            file.insert(file.end(), stream.begin() + ptrdiff_t(from), stream.end());
        } else {
            file = stream;
        }
        // The scan reads as far as the file is long: past the stream's end
        // the view gives zeros.
        std::vector<uint8_t> seen = stream;
        seen.resize(file.size());
        const std::string path = dir.write("long.mpg", file);
        for (const int32_t stride : {997, 65'536, 1 << 30}) {
            SCOPED_TRACE(stride);
            state.view.clearCuts();
            for (const CutRegion& c : cuts) state.view.addCut(c.start, c.length);
            expectAsModel(path, seen, stride);
        }
    }
}

// A stop asked inside a search of megabytes, at reports a stride apart, stops
// where the walk stops; dropping the unfinished row and resuming gives the
// table and rows of one whole scan.
TEST_F(ResyncModel, StoppedInsideALongSearchAndResumed) {
    StreamBuilder b = test::typicalStream(40);
    b.insert(b.blocks()[20].offset + 100, 2'500'000, 0x00);
    b.insert(b.blocks()[50].offset + 100, 1'000'000, 0x01);
    const std::string path = dir.write("stop.mpg", b.bytes());
    constexpr int32_t kStride = 65'536;
    JobState modelJob;
    StridedSink whole(kStride, modelJob);
    const std::vector<BlockRecord> full = modelScan(b.bytes(), whole, modelJob);
    const size_t reports = whole.of(Notify::Progress).size();
    ASSERT_GT(reports, 50u);
    for (size_t stopAt = 1; stopAt <= reports; stopAt += 6) {
        SCOPED_TRACE(stopAt);
        StridedSink sink(kStride, state.job, stopAt);
        expectAsModel(path, b.bytes(), sink);
        ASSERT_TRUE(state.job.stopRequested);

        dropUnfinishedBlock(state.table, sink.grid);
        state.job.stopRequested = false;
        state.resumeScan = 'y';
        sink.stopAt = 0;
        ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
        EXPECT_FALSE(scanStream(state, sink));
        state.view.closeFile();
        EXPECT_EQ(state.table.entries(), full);
        EXPECT_EQ(sink.rows(), whole.rows());
    }
}

}  // namespace
}  // namespace mpg
