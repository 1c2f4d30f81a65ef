#include "stream/stream_view.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::TempDir;

CutList cutsAfter(const CutList& before, uint32_t start, uint32_t length) {
    StreamView v;
    for (const CutRegion& r : before) v.addCut(r.start, r.length);
    EXPECT_EQ(v.cuts(), before) << "setting up the list must not merge";
    v.addCut(start, length);
    return v.cuts();
}

// The list as a plain vector of "excised" flags, to check the four cases and
// the merge pass against the naive meaning of a region.
bool sameCoverage(const CutList& a, const CutList& b) {
    auto covered = [](const CutList& l) {
        std::vector<bool> f(400);
        for (const CutRegion& r : l)
            for (uint64_t i = r.start; i < r.end(); ++i) f[i] = true;
        return f;
    };
    return covered(a) == covered(b);
}

TEST(CutList, AddCutCases) {
    // Reaches into the next region: case 3.
    EXPECT_EQ(cutsAfter({{110, 5}}, 100, 10), (CutList{{100, 15}}));
    // Begins where a region ends: case 4.
    EXPECT_EQ(cutsAfter({{100, 15}}, 115, 5), (CutList{{100, 20}}));
    // Inside a region: case 1, nothing changes.
    EXPECT_EQ(cutsAfter({{100, 10}}, 102, 3), (CutList{{100, 10}}));
    // Covers the first region and the merge pass swallows the second.
    EXPECT_EQ(cutsAfter({{100, 10}, {120, 5}}, 95, 30), (CutList{{95, 30}}));
    // Before every region: inserted in order.
    EXPECT_EQ(cutsAfter({{100, 10}}, 50, 5), (CutList{{50, 5}, {100, 10}}));
    // Behind every region: appended.
    EXPECT_EQ(cutsAfter({{100, 10}}, 200, 5), (CutList{{100, 10}, {200, 5}}));
    // Bridges two regions: case 4 on the first, then the merge pass.
    EXPECT_EQ(cutsAfter({{100, 10}, {120, 5}}, 108, 12), (CutList{{100, 25}}));
    // Touches nothing: a gap of one byte stays.
    EXPECT_EQ(cutsAfter({{100, 10}}, 111, 4), (CutList{{100, 10}, {111, 4}}));
}

TEST(CutList, RandomAdditionsKeepInvariantsAndCoverage) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        StreamView v;
        CutList naive;
        for (int k = 0; k < 8; ++k) {
            const uint32_t start = rng() % 300, length = 1 + rng() % 30;
            v.addCut(start, length);
            naive.push_back({start, length});
            const CutList& l = v.cuts();
            for (size_t i = 0; i + 1 < l.size(); ++i) ASSERT_LT(l[i].end(), l[i + 1].start);
            ASSERT_TRUE(sameCoverage(l, naive));
        }
    }
}

TEST(CutList, PositionMapping) {
    StreamView v;
    EXPECT_EQ(v.streamToFile(12345), 12345u);
    EXPECT_EQ(v.fileSpan(10, 50), 50u);
    v.addCut(100, 10);
    EXPECT_EQ(v.streamToFile(0), 0u);
    EXPECT_EQ(v.streamToFile(99), 99u);
    EXPECT_EQ(v.streamToFile(100), 110u);
    // A region starting exactly at f0 is not taken in; one at f0 + n is.
    EXPECT_EQ(v.fileSpan(100, 5), 5u);
    EXPECT_EQ(v.fileSpan(90, 10), 20u);
    EXPECT_EQ(v.fileSpan(89, 10), 10u);
}

TEST(CutList, SpanAndMappingAgree) {
    std::mt19937 rng(11);
    for (int round = 0; round < 100; ++round) {
        StreamView view;
        for (int k = 0; k < 6; ++k) view.addCut(rng() % 500, 1 + rng() % 40);
        for (uint64_t v = 0; v < 300; v += 7) {
            for (uint64_t k = 0; k < 120; k += 5) {
                const uint64_t f = view.streamToFile(v);
                ASSERT_EQ(f + view.fileSpan(f, k), view.streamToFile(v + k)) << v << " " << k;
            }
        }
    }
}

// File positions back to stream positions against the naive meaning: the
// file bytes before f that no region took. Regions are added in random order
// and places, so that the gap the list keeps for additions lies anywhere.
TEST(CutList, FileToStreamAgainstAModel) {
    std::mt19937 rng(13);
    for (int round = 0; round < 100; ++round) {
        StreamView view;
        for (int k = 0; k < 1 + round % 9; ++k) view.addCut(rng() % 500, 1 + rng() % 40);
        std::vector<bool> cut(600);
        for (const CutRegion& r : view.cuts())
            for (Position i = r.start; i < r.end(); ++i) cut[i] = true;
        Position kept = 0;  // the stream bytes before f
        for (Position f = 0; f < cut.size(); ++f) {
            // A byte cut out maps to the stream byte behind its region.
            ASSERT_EQ(view.fileToStream(f), kept) << round << " at " << f;
            if (!cut[f]) {
                ASSERT_EQ(view.streamToFile(kept), f);
                ++kept;
            }
        }
    }
}

class ReadAtTest : public ::testing::Test {
  protected:
    // A file whose byte i is (i * 31 + 7) mod 251 + 1: never zero, so a zero
    // in a delivered byte can only come from the end of the file.
    std::vector<uint8_t> makeFile(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + 7) % 251 + 1);
        path = dir.write("f.bin", bytes);
        EXPECT_EQ(view.openStream(path), OpenStatus::Opened);
        return bytes;
    }

    TempDir dir;
    std::string path;
    StreamView view;
    std::vector<uint8_t> out;
};

TEST_F(ReadAtTest, RefillSkipsCutRegions) {
    const auto file = makeFile(30);
    view.addCut(10, 5);
    ASSERT_TRUE(view.readAt(8, 4, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{file[8], file[9], file[15], file[16]}));
    EXPECT_EQ(view.windowStart(), 8u);
    EXPECT_EQ(view.windowLength(), 17u);
}

TEST_F(ReadAtTest, WindowShorterNearTheEndAndZerosPastIt) {
    const auto file = makeFile(1000);
    ASSERT_TRUE(view.readAt(0, 6, out));
    EXPECT_EQ(view.windowLength(), 1000u);
    ASSERT_TRUE(view.readAt(998, 6, out));  // not inside the window: refilled at 998
    EXPECT_EQ(view.windowStart(), 998u);
    EXPECT_EQ(view.windowLength(), 2u);
    EXPECT_EQ(out, (std::vector<uint8_t>{file[998], file[999], 0, 0, 0, 0}));
}

TEST_F(ReadAtTest, NoLeftoversOfAnEarlierWindow) {
    const size_t size = StreamView::kCacheSize + 5000;
    const auto file = makeFile(size);
    ASSERT_TRUE(view.readAt(0, 100, out));  // a full window of non-zero bytes
    ASSERT_TRUE(view.readAt(static_cast<uint32_t>(size - 3), 20, out));
    EXPECT_EQ(std::count(out.begin() + 3, out.end(), 0), 17);
    EXPECT_EQ(out[0], file[size - 3]);
    // Read through a region near the end: the bytes past the end stay zero.
    view.addCut(static_cast<uint32_t>(size - 10), 4);
    view.invalidateWindow();
    ASSERT_TRUE(view.readAt(static_cast<uint32_t>(size - 12), 12, out));
    EXPECT_EQ(out[1], file[size - 11]);
    EXPECT_EQ(out[2], file[size - 6]);
    EXPECT_EQ(std::count(out.begin() + 8, out.end(), 0), 4);
    // A region past the end cuts the piece before it short: zeros again.
    view.addCut(static_cast<uint32_t>(size + 10), 4);
    view.invalidateWindow();
    ASSERT_TRUE(view.readAt(static_cast<uint32_t>(size - 8), 30, out));
    EXPECT_EQ(out[3], file[size - 1]);
    EXPECT_EQ(std::count(out.begin() + 4, out.end(), 0), 26);
}

TEST_F(ReadAtTest, WindowBoundaryIsAMiss) {
    makeFile(StreamView::kCacheSize + 100);
    ASSERT_TRUE(view.readAt(0, 6, out));
    EXPECT_EQ(view.windowLength(), StreamView::kCacheSize);
    ASSERT_TRUE(view.readAt(2'047'994, 6, out));  // ends on the window's last byte: a hit
    EXPECT_EQ(view.windowStart(), 0u);
    ASSERT_TRUE(view.readAt(2'047'996, 6, out));
    EXPECT_EQ(view.windowStart(), 2'047'996u);
}

// The buffer is sized to the file it reads and grows with the next file or a
// longer read; the windows are those a full-sized buffer gives, and bytes
// past the end of a file read as zero after a longer file filled the buffer.
TEST_F(ReadAtTest, BufferFollowsTheFile) {
    const auto small = makeFile(100);
    ASSERT_TRUE(view.readAt(90, 20, out));
    EXPECT_EQ(view.windowLength(), 10u);
    EXPECT_EQ(std::count(out.begin() + 10, out.end(), 0), 10);
    ASSERT_TRUE(view.readAt(0, 5000, out));  // more than the file holds
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 100), small);
    EXPECT_EQ(std::count(out.begin() + 100, out.end(), 0), 4900);

    const auto large = makeFile(StreamView::kCacheSize + 300);
    view.invalidateWindow();  // the window is the caller's to drop
    ASSERT_TRUE(view.readAt(0, 6, out));
    EXPECT_EQ(view.windowLength(), StreamView::kCacheSize);
    ASSERT_TRUE(view.readAt(StreamView::kCacheSize - 3, 6, out));
    EXPECT_EQ(out, std::vector<uint8_t>(large.end() - 303, large.end() - 297));

    const std::string name = dir.write("short.bin", small);
    ASSERT_EQ(view.openStream(name), OpenStatus::Opened);
    view.invalidateWindow();
    ASSERT_TRUE(view.readAt(95, 40, out));
    EXPECT_EQ(view.windowLength(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5),
              std::vector<uint8_t>(small.end() - 5, small.end()));
    EXPECT_EQ(std::count(out.begin() + 5, out.end(), 0), 35);
}

TEST_F(ReadAtTest, CountLimits) {
    makeFile(100);
    out = {1, 2, 3};
    EXPECT_FALSE(view.readAt(0, StreamView::kCacheSize + 1, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(view.readAt(0, StreamView::kCacheSize, out));
    EXPECT_EQ(out.size(), StreamView::kCacheSize);
    EXPECT_TRUE(view.readAt(50, 0, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(ReadAtTest, MatchesNaiveModelThroughCuts) {
    const auto file = makeFile(5000);
    std::mt19937 rng(3);
    for (int k = 0; k < 12; ++k) view.addCut(rng() % 5200, 1 + rng() % 200);
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < file.size(); ++i) {
        const bool cut =
            std::any_of(view.cuts().begin(), view.cuts().end(),
                        [&](const CutRegion& r) { return i >= r.start && i < r.end(); });
        if (!cut) stream.push_back(file[i]);
    }
    for (int k = 0; k < 500; ++k) {
        const uint32_t pos = rng() % 5200, count = rng() % 300;
        if (k % 3 == 0) view.invalidateWindow();
        ASSERT_TRUE(view.readAt(pos, count, out));
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t want = pos + i < stream.size() ? stream[pos + i] : 0;
            ASSERT_EQ(out[i], want) << "pos " << pos << " + " << i;
        }
    }
}

// Regions added between reads, as a repair pass adds them: mostly each a
// little behind the last (the list's gap follows them), now and then anywhere.
// The mapping, the span and reads of both fills agree with a plain list of
// the bytes that remain, and the list stays ordered and merged.
TEST_F(ReadAtTest, CutsAddedBetweenReadsMatchTheModel) {
    const auto file = makeFile(20000);
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        view.clearCuts();
        std::vector<bool> excised(file.size() + 400);
        uint32_t near = 0;
        for (int k = 0; k < 60; ++k) {
            const bool anywhere = rng() % 4 == 0;
            const uint32_t start = anywhere ? rng() % 20000 : (near += rng() % 400) % 20000;
            const uint32_t length = 1 + rng() % 60;
            view.addCut(start, length);
            for (uint32_t i = start; i < start + length; ++i) excised[i] = true;
            std::vector<uint32_t> kept;
            for (uint32_t i = 0; i < excised.size(); ++i) {
                if (!excised[i]) kept.push_back(i);
            }
            for (int q = 0; q < 8; ++q) {
                const uint32_t pos = rng() % 15000, count = rng() % 200;
                ASSERT_EQ(view.streamToFile(pos), kept[pos]) << round << " " << k;
                ASSERT_EQ(kept[pos] + view.fileSpan(kept[pos], count), kept[pos + count]);
                const auto fill = q % 2 ? StreamView::Fill::Exact : StreamView::Fill::Window;
                view.invalidateWindow();
                ASSERT_TRUE(view.readPieces(
                    pos, count,
                    [&](const uint8_t* bytes, uint32_t piece, uint64_t) {
                        for (uint32_t i = 0; i < piece; ++i) {
                            const uint32_t f = kept[pos + i];
                            EXPECT_EQ(bytes[i], f < file.size() ? file[f] : 0) << pos + i;
                        }
                        return true;
                    },
                    fill));
                if (fill == StreamView::Fill::Exact) {
                    EXPECT_EQ(view.windowLength(), count);
                }
            }
        }
        const CutList& l = view.cuts();
        for (size_t i = 0; i + 1 < l.size(); ++i) ASSERT_LT(l[i].end(), l[i + 1].start);
        for (size_t i = 0; i < excised.size(); ++i) {
            const bool inList = std::any_of(l.begin(), l.end(), [&](const CutRegion& r) {
                return i >= r.start && i < r.end();
            });
            ASSERT_EQ(inList, bool(excised[i])) << i;
        }
    }
}

TEST_F(ReadAtTest, CacheLifecycle) {
    makeFile(100);
    ASSERT_TRUE(view.readAt(10, 6, out));
    view.invalidateWindow();
    EXPECT_TRUE(view.hasBuffer());
    EXPECT_EQ(view.windowLength(), 0u);
    view.resetCache();
    EXPECT_FALSE(view.hasBuffer());
    view.closeFile();
    EXPECT_FALSE(view.readAt(10, 6, out));  // no file: the refill fails
    EXPECT_EQ(view.windowLength(), 0u);
}

TEST(OpenStream, RefusesWhatIsNoReadableFile) {
    TempDir dir;
    StreamView view;
    EXPECT_EQ(view.openStream(dir.file("missing.mpg")), OpenStatus::Failed);
    EXPECT_EQ(view.fileHandle(), -1);
    EXPECT_EQ(view.failure().kind, FailureKind::OpenFailed);
    EXPECT_EQ(view.failure().path, dir.file("missing.mpg"));
    EXPECT_EQ(view.failure().systemError, ENOENT);
    // Only regular files: a FIFO without a writer would block the open, and
    // a device's reads need never end. Refused at once.
    const std::string fifo = dir.file("fifo.mpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& path : {dir.path(), fifo, std::string("/dev/zero")}) {
        EXPECT_EQ(view.openStream(path), OpenStatus::Failed) << path;
        EXPECT_EQ(view.fileHandle(), -1);
        EXPECT_EQ(view.failure().kind, FailureKind::NotRegular) << path;
        EXPECT_FALSE(view.openFile(path));
    }
    // A regular file opens, and its reads block as usual.
    const std::string file = dir.write("f.mpg", {1, 2, 3});
    ASSERT_EQ(view.openStream(file), OpenStatus::Opened);
    EXPECT_FALSE(view.failure());
    EXPECT_EQ(::fcntl(view.fileHandle(), F_GETFL) & O_NONBLOCK, 0);
}

// A read the system refuses is reported with the file position where it
// failed and never delivered as bytes; the descriptor is swapped for a
// folder's, whose reads fail.
TEST_F(ReadAtTest, RefusedReadGivesItsPositionAndReason) {
    makeFile(5000);
    view.addCut(100, 50);
    ASSERT_TRUE(view.readAt(0, 6, out));
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(::dup2(folder, view.fileHandle()), 0);
    ::close(folder);
    view.invalidateWindow();
    EXPECT_FALSE(view.readAt(120, 6, out));
    EXPECT_EQ(view.windowLength(), 0u);
    const Failure& f = view.failure();
    EXPECT_EQ(f.kind, FailureKind::ReadFailed);
    EXPECT_EQ(f.position, 170u);  // stream position 120 is file position 170
    EXPECT_EQ(f.systemError, EISDIR);
    EXPECT_EQ(f.path, path);
}

// Size and time are taken at the open: a file that changed since is not read
// on, and verifyUnchanged says so at any time.
TEST_F(ReadAtTest, ChangedFileIsNotReadOn) {
    const size_t size = StreamView::kCacheSize + 5000;
    makeFile(size);
    EXPECT_FALSE(view.verifyUnchanged());
    ASSERT_TRUE(view.readAt(0, 6, out));
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size - 100)), 0);
    EXPECT_EQ(view.verifyUnchanged().kind, FailureKind::InputChanged);
    EXPECT_TRUE(view.readAt(10, 6, out));  // inside the window read before the change
    EXPECT_FALSE(view.readAt(static_cast<uint32_t>(size - 200), 6, out));
    EXPECT_EQ(view.failure().kind, FailureKind::InputChanged);
    EXPECT_EQ(view.failure().path, path);
    view.closeFile();
    EXPECT_FALSE(view.verifyUnchanged());
}

TEST(OpenStream, TakesSizesPastFourGibibytes) {
    TempDir dir;
    const std::string path = dir.file("sparse.mpg");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4294967295LL), 0);
    StreamView view;
    EXPECT_EQ(view.openStream(path), OpenStatus::Opened);
    EXPECT_EQ(view.streamSize(), 4294967295u);
    ASSERT_EQ(::ftruncate(fd, 6'000'000'000LL), 0);
    EXPECT_EQ(view.openStream(path), OpenStatus::Opened);
    EXPECT_EQ(view.streamSize(), 6'000'000'000u);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(view.readAt(5'999'999'990u, 10, bytes));
    EXPECT_EQ(bytes, std::vector<uint8_t>(10, 0));
    ::close(fd);
}

}  // namespace
}  // namespace mpg
