// The header parsers against headers written field by field from the
// standards' syntax tables, with random field values; and the block walker
// over a built stream, as an observer sees it.
#include "model/headers.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "model/block_walk.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

// Writes fields most significant bit first, as the syntax tables list them.
class Bits {
  public:
    Bits& put(uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            byte_ = static_cast<uint8_t>(byte_ << 1 | ((value >> i) & 1));
            if (++filled_ == 8) {
                bytes.push_back(byte_);
                filled_ = 0;
            }
        }
        return *this;
    }
    // A 33-bit value in parts of 3, 15 and 15 bits, each closed by a marker.
    Bits& clock(uint64_t value) {
        return put(value >> 30, 3)
            .put(1, 1)
            .put(value >> 15, 15)
            .put(1, 1)
            .put(value, 15)
            .put(1, 1);
    }
    std::vector<uint8_t> bytes;

  private:
    uint8_t byte_ = 0;
    int filled_ = 0;
};

TEST(Headers, PackHeadersReadAsWritten) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 200; ++round) {
        const bool mpeg2 = round % 2 == 1;
        const uint64_t scr = rng() & ((uint64_t{1} << 33) - 1), moved = rng() >> 31;
        const uint32_t mux = static_cast<uint32_t>(rng() & 0x3FFFFF);
        const uint16_t ext = static_cast<uint16_t>(rng() % 300);
        const uint8_t stuffing = static_cast<uint8_t>(rng() % 8);
        Bits b;
        b.put(kPackStartCode, 32);
        if (mpeg2) {
            b.put(1, 2).clock(scr).put(ext, 9).put(1, 1).put(mux, 22).put(3, 2).put(0x1F, 5);
            b.put(stuffing, 3);
        } else {
            b.put(2, 4).clock(scr).put(1, 1).put(mux, 22).put(1, 1);
        }
        SCOPED_TRACE(round);
        std::optional<PackHeader> h = parsePackHeader(b.bytes);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->mpeg2, mpeg2);
        EXPECT_EQ(h->scr, scr);
        EXPECT_EQ(h->muxRate, mux);
        EXPECT_EQ(h->scrExtension, mpeg2 ? ext : 0);
        EXPECT_EQ(h->size(), mpeg2 ? 14 + stuffing : 12);
        EXPECT_EQ(packHeaderSize(b.bytes), h->size());
        EXPECT_TRUE(h->markersSet);
        // The SCR rewritten in place: every other field stays.
        writePackScr(b.bytes.data(), moved);
        EXPECT_EQ(packScr(b.bytes.data()), moved);
        const PackHeader before = *h;
        h = parsePackHeader(b.bytes);
        EXPECT_TRUE(h->markersSet);
        EXPECT_EQ(h->muxRate, before.muxRate);
        EXPECT_EQ(h->scrExtension, before.scrExtension);
        // Any marker bit cleared is seen.
        b.bytes[mpeg2 ? 12 : 11] ^= 1;
        EXPECT_FALSE(parsePackHeader(b.bytes)->markersSet);
    }
}

TEST(Headers, SystemHeaderListsTheEntriesItsLengthHolds) {
    std::mt19937 rng(8);
    for (int round = 0; round < 50; ++round) {
        const size_t written = 1 + rng() % 5, declared = 1 + rng() % written;
        const uint32_t rate = rng() & 0x3FFFFF;
        Bits b;
        b.put(kSystemHeaderStartCode, 32).put(6 + 3 * declared, 16);
        b.put(1, 1).put(rate, 22).put(1, 1).put(rng(), 6).put(rng(), 4).put(1, 1).put(rng(), 5);
        b.put(0xFF, 8);
        std::vector<uint8_t> ids;
        for (size_t k = 0; k < written; ++k) {
            ids.push_back(static_cast<uint8_t>(0xB8 + rng() % 0x48));
            b.put(ids.back(), 8).put(3, 2).put(rng(), 14);
        }
        const SystemHeader h(b.bytes);
        EXPECT_EQ(h.size(), static_cast<int32_t>(12 + 3 * declared));
        EXPECT_EQ(h.rateBound(), rate);
        EXPECT_TRUE(h.markersSet());
        for (size_t k = 0; k < written; ++k) {
            EXPECT_EQ(h.hasEntry(k), k < declared) << k;
            EXPECT_EQ(h.streamId(k), ids[k]);
            EXPECT_TRUE(h.entryFormed(k));
        }
    }
}

TEST(Headers, SequenceHeaderAndPacketStampsReadAsWritten) {
    std::mt19937_64 rng(9);
    for (int round = 0; round < 50; ++round) {
        const uint32_t width = rng() & 0xFFF, height = rng() & 0xFFF, rate = 1 + rng() % 8;
        const uint32_t bitRate = rng() & 0x3FFFF;
        Bits s;
        s.put(kSequenceHeaderCode, 32).put(width, 12).put(height, 12).put(rng(), 4).put(rate, 4);
        s.put(bitRate, 18).put(1, 1).put(rng(), 10).put(0, 1);
        const std::optional<SequenceHeader> h = parseSequenceHeader(s.bytes.data(), 12);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->width, width);
        EXPECT_EQ(h->height, height);
        EXPECT_EQ(h->frameRateCode, rate);
        EXPECT_EQ(h->bitRate, bitRate);
        EXPECT_EQ(parseSequenceHeader(s.bytes.data(), 8)->bitRate, 0u);
        EXPECT_FALSE(parseSequenceHeader(s.bytes.data(), 7));
        EXPECT_NE(frameTicks(static_cast<uint8_t>(rate)), 0u);

        const uint64_t pts = rng() >> 31, dts = rng() >> 31;
        for (const bool mpeg2 : {false, true}) {
            Bits p;
            p.put(0x1E0, 32).put(mpeg2 ? 13 : 10, 16);
            if (mpeg2) p.put(2, 2).put(0, 6).put(3, 2).put(0, 6).put(10, 8);
            p.put(3, 4).clock(pts).put(1, 4).clock(dts);
            const std::optional<PacketHeaderLayout> l =
                parsePacketHeader(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()));
            ASSERT_TRUE(l);
            EXPECT_EQ(l->pts, pts);
            EXPECT_EQ(l->dts, dts);
        }
    }
}

// Records every block the walk meets.
struct Recorder : BlockObserver {
    void take(const WalkedBlock& block, ByteSource&) override {
        blocks.push_back({block.pos, block.code, block.declared});
    }
    std::vector<BlockRecord> blocks;
};

TEST(BlockWalk, AnObserverMeetsEveryBlockOfAWalk) {
    const test::StreamBuilder b = test::typicalStream(5);
    test::TempDir dir;
    StreamView view;
    ASSERT_EQ(view.openStream(dir.write("s.mpg", b.bytes())), OpenStatus::Opened);
    ViewSource source(view);
    StreamCodes codes;
    BlockWalker<> walker(source, codes);
    Recorder recorder;
    walker.observe(recorder);
    for (Position pos = 0; pos < source.size();) {
        const std::optional<WalkedBlock> block = walker.blockAt(pos);
        ASSERT_TRUE(block && block->kind != BlockKind::None) << pos;
        pos += static_cast<Position>(block->declared);
    }
    ASSERT_EQ(recorder.blocks.size(), b.blocks().size());
    for (size_t k = 0; k < b.blocks().size(); ++k) {
        EXPECT_EQ(recorder.blocks[k], (BlockRecord{b.blocks()[k].offset, b.blocks()[k].code,
                                                   static_cast<int32_t>(b.blocks()[k].size)}));
    }
    EXPECT_EQ(walker.grid().start(),
              static_cast<int64_t>(b.blocks()[b.blocks().size() - 4].offset));
}

}  // namespace
}  // namespace mpg
