// The clock rewrite of a continuous join: stamps near the 33-bit wrap, the
// two pack header forms, and the offset chosen at a seam, on built blocks.
#include "join/clock.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "analysis/app_state.h"
#include "join/join.h"
#include "model/elementary.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

constexpr uint64_t kMask = kClockWrap - 1;

// A 5-byte stamp written bit by bit as the standard lays it out.
void putStamp(std::vector<uint8_t>& out, uint8_t prefix, uint64_t v) {
    out.push_back(static_cast<uint8_t>(prefix << 4 | ((v >> 30) & 7) << 1 | 1));
    out.push_back(static_cast<uint8_t>(v >> 22));
    out.push_back(static_cast<uint8_t>(((v >> 15) & 0x7F) << 1 | 1));
    out.push_back(static_cast<uint8_t>(v >> 7));
    out.push_back(static_cast<uint8_t>((v & 0x7F) << 1 | 1));
}

std::vector<uint8_t> mpeg1Pack(uint64_t scr) {
    std::vector<uint8_t> b = {0, 0, 1, 0xBA};
    putStamp(b, 2, scr);
    b.insert(b.end(), {0x80, 0x1B, 0x83});
    return b;
}

std::vector<uint8_t> mpeg2Pack(uint64_t scr, uint16_t ext) {
    std::vector<uint8_t> b = {0, 0, 1, 0xBA};
    b.push_back(static_cast<uint8_t>(0x40 | ((scr >> 30) & 7) << 3 | 4 | ((scr >> 28) & 3)));
    b.push_back(static_cast<uint8_t>(scr >> 20));
    b.push_back(static_cast<uint8_t>(((scr >> 15) & 0x1F) << 3 | 4 | ((scr >> 13) & 3)));
    b.push_back(static_cast<uint8_t>(scr >> 5));
    b.push_back(static_cast<uint8_t>((scr & 0x1F) << 3 | 4 | ((ext >> 7) & 3)));
    b.push_back(static_cast<uint8_t>((ext & 0x7F) << 1 | 1));
    b.insert(b.end(), {0x01, 0x89, 0xC3, 0xF8});
    return b;
}

// Sets a packet's length field to what follows it.
void closePacket(std::vector<uint8_t>& b) {
    b[4] = static_cast<uint8_t>((b.size() - 6) >> 8);
    b[5] = static_cast<uint8_t>(b.size() - 6);
}

// A video packet with PTS and DTS, in the MPEG-1 or the MPEG-2 form, whose
// payload may start with a sequence header of frame rate code 3 (25 fps).
std::vector<uint8_t> videoPacket(bool mpeg2, uint64_t pts, uint64_t dts, bool sequence = false,
                                 size_t fill = 40) {
    std::vector<uint8_t> b = {0, 0, 1, 0xE0, 0, 0};
    if (mpeg2) b.insert(b.end(), {0x81, 0xC0, 10});
    putStamp(b, 3, pts);
    putStamp(b, 1, dts);
    if (sequence) b.insert(b.end(), {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13});
    b.resize(b.size() + fill, 0x55);
    closePacket(b);
    return b;
}

uint64_t stampAt(const std::vector<uint8_t>& b, size_t at) {
    return readTimeStamp(b.data() + at);
}

TEST(ClockTest, StampsShiftModuloTheWrapAndKeepTheirMarkers) {
    std::mt19937_64 random(19);
    std::vector<uint64_t> values = {0, 1, kMask, kMask - 3599, kClockWrap / 2};
    std::vector<uint64_t> offsets = {0, 1, 3600, kMask, kClockWrap - 3600};
    for (int i = 0; i < 20; ++i) {
        values.push_back(random() & kMask);
        offsets.push_back(random() & kMask);
    }
    for (const uint64_t v : values) {
        for (const uint64_t o : offsets) {
            SCOPED_TRACE(testing::Message() << "value " << v << " offset " << o);
            for (const bool mpeg2 : {false, true}) {
                std::vector<uint8_t> p = videoPacket(mpeg2, v, (v - 3600) & kMask);
                const std::vector<uint8_t> before = p;
                ASSERT_TRUE(shiftPacketStamps(p.data(), static_cast<uint32_t>(p.size()), o));
                const auto layout = parsePacketHeader(p.data(), static_cast<uint32_t>(p.size()));
                ASSERT_TRUE(layout) << "markers and prefixes stay valid";
                EXPECT_EQ(stampAt(p, layout->ptsAt), (v + o) & kMask);
                EXPECT_EQ(stampAt(p, layout->dtsAt), (v - 3600 + o) & kMask);
                std::vector<uint8_t> expected = before;
                std::vector<uint8_t> stamps;
                putStamp(stamps, 3, (v + o) & kMask);
                putStamp(stamps, 1, (v - 3600 + o) & kMask);
                std::copy(stamps.begin(), stamps.end(), expected.begin() + layout->ptsAt);
                EXPECT_EQ(p, expected) << "nothing but the stamps changes";
            }
            std::vector<uint8_t> one = mpeg1Pack(v);
            ASSERT_TRUE(shiftPackScr(one.data(), o));
            EXPECT_EQ(one, mpeg1Pack((v + o) & kMask));
            std::vector<uint8_t> two = mpeg2Pack(v, 299);
            ASSERT_TRUE(shiftPackScr(two.data(), o));
            EXPECT_EQ(two, mpeg2Pack((v + o) & kMask, 299)) << "the extension stays";
            EXPECT_EQ(packScr(two.data()), (v + o) & kMask);
        }
    }
}

TEST(ClockTest, PacketsWithoutStampsAndOddPacksAreLeftAlone) {
    std::vector<uint8_t> bare = {0, 0, 1, 0xE0, 0, 4, 0x0F, 1, 2, 3};
    EXPECT_FALSE(shiftPacketStamps(bare.data(), static_cast<uint32_t>(bare.size()), 5));
    std::vector<uint8_t> padding = {0, 0, 1, 0xBE, 0, 2, 0x31, 0xFF};
    EXPECT_FALSE(shiftPacketStamps(padding.data(), static_cast<uint32_t>(padding.size()), 5));
    EXPECT_EQ(padding, (std::vector<uint8_t>{0, 0, 1, 0xBE, 0, 2, 0x31, 0xFF}));
    std::vector<uint8_t> odd = mpeg1Pack(7);
    odd[4] = 0xF1;
    EXPECT_FALSE(packScr(odd.data()));
    EXPECT_FALSE(shiftPackScr(odd.data(), 5));
}

TEST(ClockTest, SeamFollowsTheLastFrameAcrossTheWrap) {
    // The previous piece ends just before the wrap; its video runs at 25 fps
    // (3600 ticks a frame), its B-frames out of order.
    PieceClock previous;
    const uint64_t last = kMask - 1000;
    previous.takePack(mpeg1Pack(last - 20000).data());
    auto take = [](PieceClock& c, const std::vector<uint8_t>& p) {
        c.takePacket(p.data(), static_cast<uint32_t>(p.size()));
    };
    take(previous, videoPacket(false, last - 7200, last - 10800, true));
    take(previous, videoPacket(false, last, last - 7200));
    take(previous, videoPacket(false, last - 3600, last - 3600));
    EXPECT_EQ(previous.endPts(), (last + 3600) & kMask);

    PieceClock next;  // starts at 5000 with an earlier B-frame after its I-frame
    next.takePack(mpeg1Pack(1000).data());
    take(next, videoPacket(false, 12200, 8600));
    take(next, videoPacket(false, 5000, 5000));
    EXPECT_EQ(next.firstPts(), 5000u);
    const uint64_t offset = seamOffset(previous, next);
    EXPECT_EQ(clockAdd(5000, offset), (last + 3600) & kMask);
    EXPECT_GE(clockAfter(clockAdd(1000, offset), last - 20000), 0) << "SCR never goes back";

    // A piece whose muxer starts its SCR well ahead of its first PTS: the
    // PTS still run on, and the SCR is held at the previous piece's last.
    PieceClock late;
    late.takePack(mpeg1Pack(0).data());
    take(late, videoPacket(false, 900000, 900000));
    const uint64_t lateOffset = seamOffset(previous, late);
    EXPECT_EQ(clockAdd(900000, lateOffset), (last + 3600) & kMask);
    for (const bool mpeg2 : {false, true}) {
        std::vector<uint8_t> held = mpeg2 ? mpeg2Pack(0, 5) : mpeg1Pack(0);
        EXPECT_EQ(shiftPackScr(held.data(), lateOffset, last - 20000), last - 20000);
        EXPECT_EQ(held, mpeg2 ? mpeg2Pack(last - 20000, 5) : mpeg1Pack(last - 20000));
        std::vector<uint8_t> free = mpeg2 ? mpeg2Pack(900000, 5) : mpeg1Pack(900000);
        EXPECT_EQ(shiftPackScr(free.data(), lateOffset, last - 20000), (last + 3600) & kMask);
    }
    PieceClock noPts;
    noPts.takePack(mpeg1Pack(1000).data());
    EXPECT_EQ(clockAdd(1000, seamOffset(previous, noPts)), last - 20000);

    EXPECT_EQ(seamOffset(PieceClock{}, next), 0u) << "nothing known, nothing shifted";
}

TEST(ClockTest, EndCountsTheFramesAMuxerLeftUnstamped) {
    // Only the first frame that begins in a packet has a PTS: a packet of
    // two pictures ends two frames after its stamp, one of three MPEG-1
    // layer II frames (48 kHz, 1,152 samples: 2,160 ticks each) three.
    std::vector<uint8_t> video = {0, 0, 1, 0xE0, 0, 0};
    putStamp(video, 2, 90000);
    video.insert(video.end(), {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0, 0, 1, 0, 0x11, 0x22});
    video.resize(video.size() + 300, 0x55);
    video.insert(video.end(), {0, 0, 1, 0, 0x33, 0x44});
    video.resize(video.size() + 300, 0x55);
    closePacket(video);
    PieceClock pictures;
    pictures.takePacket(video.data(), static_cast<uint32_t>(video.size()));
    EXPECT_EQ(pictures.endPts(), 90000u + 2 * 3600);

    std::vector<uint8_t> audio = {0, 0, 1, 0xC0, 0, 0};
    putStamp(audio, 2, 180000);
    for (int f = 0; f < 3; ++f) {
        audio.insert(audio.end(), {0xFF, 0xFD, 0x84, 0x04});
        audio.resize(audio.size() + 380, 0);
    }
    closePacket(audio);
    PieceClock sound;
    sound.takePacket(audio.data(), static_cast<uint32_t>(audio.size()));
    EXPECT_EQ(sound.endPts(), 180000u + 3 * 2160);
}

// Three pieces of `frames` frames each, one pack and one video packet of
// `fill` bytes a frame, their clocks starting near and past the wrap, joined
// plainly and with continuous time: the continuous join keeps every block's
// size and the first piece as it was, and its PTS run on one frame apart.
void expectContinuousJoin(int frames, size_t fill) {
    test::TempDir dir;
    std::vector<std::vector<uint8_t>> pieces;
    std::vector<std::string> paths;
    const uint64_t starts[] = {kMask - 9000, 100, kMask - 3600};
    for (size_t k = 0; k < 3; ++k) {
        std::vector<uint8_t> b;
        for (int f = 0; f < frames; ++f) {
            const uint64_t pts = (starts[k] + 3600 * uint64_t(f)) & kMask;
            const std::vector<uint8_t> pack = f % 2 ? mpeg2Pack(pts, 17) : mpeg1Pack(pts);
            b.insert(b.end(), pack.begin(), pack.end());
            const std::vector<uint8_t> p = videoPacket(k == 1, pts, pts, f == 0, fill);
            b.insert(b.end(), p.begin(), p.end());
        }
        pieces.push_back(b);
        paths.push_back(dir.write("in" + std::to_string(k) + ".mpg", b));
    }
    AppState state;
    test::RecordingSink sink;
    JoinParams params;
    params.inputs = paths;
    params.output = dir.file("plain.mpg");
    ASSERT_FALSE(joinStructured(state.job, params, sink));
    params.continuous = true;
    params.output = dir.file("continuous.mpg");
    ASSERT_FALSE(joinStructured(state.job, params, sink));
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(test::readFile(paths[k]), pieces[k]);
    const std::vector<uint8_t> plain = test::readFile(dir.file("plain.mpg"));
    const std::vector<uint8_t> joined = test::readFile(params.output);
    ASSERT_EQ(joined.size(), plain.size()) << "block sizes stay";
    // The first piece as it was; then every PTS one frame after the last.
    EXPECT_TRUE(std::equal(pieces[0].begin(), pieces[0].end(), joined.begin()));
    std::optional<uint64_t> lastPts;
    for (size_t pos = 0; pos + 4 < joined.size();) {
        const uint8_t id = joined[pos + 3];
        if (id == 0xBA) {
            pos += (joined[pos + 4] >> 6) == 1 ? 14 : 12;
            continue;
        }
        const uint32_t length = 6u + (joined[pos + 4] << 8 | joined[pos + 5]);
        const auto layout = parsePacketHeader(joined.data() + pos, length);
        ASSERT_TRUE(layout);
        const uint64_t pts = readTimeStamp(joined.data() + pos + layout->ptsAt);
        if (lastPts) {
            ASSERT_EQ(pts, (*lastPts + 3600) & kMask) << "at " << pos;
        }
        lastPts = pts;
        pos += length;
    }
    EXPECT_EQ(lastPts, (starts[0] + (3 * uint64_t(frames) - 1) * 3600) & kMask);
}

TEST(ClockTest, ContinuousJoinRewritesOnlyTheStampsOfLaterPieces) {
    expectContinuousJoin(4, 40);
    // Pieces of several read chunks, with packets across the chunks' ends:
    // a rewritten packet must go out rewritten wherever its chunk ends.
    expectContinuousJoin(60, 60000);
}

}  // namespace
}  // namespace mpg
