#include "model/block_table.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace mpg {
namespace {

TEST(BlockRecord, TwentySixByteLittleEndianLayout) {
    BlockRecord r;
    r.code = 0x000001BA;
    r.offset = 0x11223344;
    r.declaredSize = -2;
    r.broken = kBrokenListed;
    r.realSize = 0x01020304;
    r.repeatByte = 0xAB;
    r.repeatLength = 0x0A0B0C0D;
    r.repeatStart = 0xFFFFFFFE;
    std::array<uint8_t, kBlockRecordSize> bytes{};
    ASSERT_TRUE(encodeBlockRecord(r, bytes.data()));
    const std::array<uint8_t, kBlockRecordSize> want = {
        0xBA, 0x01, 0x00, 0x00,  // code
        0x44, 0x33, 0x22, 0x11,  // offset
        0xFE, 0xFF, 0xFF, 0xFF,  // declaredSize
        0x79,                    // broken 'y'
        0x04, 0x03, 0x02, 0x01,  // realSize
        0xAB,                    // repeatByte
        0x0D, 0x0C, 0x0B, 0x0A,  // repeatLength
        0xFE, 0xFF, 0xFF, 0xFF,  // repeatStart
    };
    EXPECT_EQ(bytes, want);
    EXPECT_EQ(decodeBlockRecord(bytes.data()), r);
}

TEST(BlockRecord, DeltaWrapsLikeThirtyTwoBits) {
    BlockRecord r;
    r.declaredSize = 1012;
    r.realSize = 1000;
    EXPECT_EQ(r.delta(), -12);
    r.realSize = INT32_MIN;
    r.declaredSize = 1;
    EXPECT_EQ(r.delta(), INT32_MAX);
}

TEST(BlockTable, GrowsByThousand) {
    BlockTable t;
    t.startFresh();
    EXPECT_EQ(t.size(), 1000u);
    for (int i = 0; i < 1000; ++i) t.appendBlock();
    EXPECT_EQ(t.size(), 1000u);
    EXPECT_EQ(t.appendBlock(), 1000);
    EXPECT_EQ(t.size(), 2000u);
    t.trimToLast();
    EXPECT_EQ(t.size(), 1001u);
    t.dropLast();
    EXPECT_EQ(t.size(), 1000u);
    EXPECT_EQ(t.lastIndex(), 999);
}

// The chunks grow from 1,024 entries to 65,536: every entry keeps its own
// place while the table grows past each chunk's end, and an entry dropped at
// a chunk's edge reads as empty when the table grows over it again.
TEST(BlockTable, EntriesStayPutAcrossChunks) {
    BlockTable t;
    t.startFresh();
    std::vector<const BlockRecord*> places;
    constexpr size_t kCount = 200'000;
    for (size_t i = 0; i < kCount; ++i) {
        const int64_t index = t.appendBlock();
        ASSERT_EQ(index, static_cast<int64_t>(i));
        t[i].offset = static_cast<uint32_t>(i);
        t[i].code = static_cast<uint32_t>(i * 7);
        places.push_back(&t[i]);
    }
    t.trimToLast();
    ASSERT_EQ(t.size(), kCount);
    for (size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(places[i], &t[i]) << i;
        ASSERT_EQ(t[i].offset, i);
        ASSERT_EQ(t[i].code, i * 7);
    }
    // The edges between chunks (1,024, then 2,048 more, and so on).
    for (size_t edge : {size_t{1024}, size_t{3072}, size_t{64'512}, size_t{130'048}}) {
        BlockTable u;
        u.startFresh();
        for (size_t i = 0; i <= edge; ++i) u[u.appendBlock()].offset = 1;
        u.trimToLast();
        u.dropLast();  // the first entry of a chunk: the chunk goes
        u.dropLast();  // the last entry of the chunk before: cleared in place
        ASSERT_EQ(u.size(), edge - 1);
        EXPECT_EQ(u[u.appendBlock()], BlockRecord{}) << edge;
        EXPECT_EQ(u[u.appendBlock()], BlockRecord{}) << edge;
        EXPECT_EQ(u[edge - 2].offset, 1u);
    }
}

// A fresh scan reuses the chunks the last one filled: no entry of the old
// table shows through, whether the new scan reads its empty entries or
// writes its own, and the places stay those of the first scan.
TEST(BlockTable, AFreshScanReusesTheChunksAndShowsNoOldEntry) {
    BlockTable t;
    t.startFresh();
    constexpr size_t kCount = 70'000;  // past the first full chunk
    for (size_t i = 0; i < kCount; ++i) t.appendBlock({i, 0x1E0, 2006, 2100, 50, 9, kBrokenListed});
    t.trimToLast();
    const BlockRecord* first = &t[0];
    const BlockRecord* late = &t[kCount - 1];
    t.startFresh();
    EXPECT_EQ(t.size(), 1000u);
    for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(t[i], BlockRecord{}) << i;
    for (size_t i = 0; i < kCount; ++i) {
        if (i % 2) {
            t.appendBlock({i * 3, 0x1C0, 400});
        } else {
            ASSERT_EQ(t[t.appendBlock()], BlockRecord{}) << i;
        }
    }
    t.trimToLast();
    ASSERT_EQ(t.size(), kCount);
    EXPECT_EQ(&t[0], first);
    EXPECT_EQ(&t[kCount - 1], late);
    for (size_t i = 1; i < kCount; i += 2) ASSERT_EQ(t[i], (BlockRecord{i * 3, 0x1C0, 400})) << i;
}

// A table that keeps only its newest entries hands every other one on, in
// order and once, whatever its last entry became before the next was taken;
// a fresh scan after it starts over.
TEST(BlockTable, KeepingTheNewestOnlyHandsOnEveryEntryOnce) {
    BlockTable t;
    std::vector<Position> seen;
    t.keepNewestOnly([&seen](const BlockRecord& r) { seen.push_back(r.offset + r.realSize); });
    for (int round = 0; round < 2; ++round) {
        seen.clear();
        t.startFresh();
        constexpr size_t kCount = 300'000;
        for (size_t i = 0; i < kCount; ++i) {
            t.appendBlock({i, 0x1E0, 10});
            t.last().realSize = 1;  // changed after it was taken, as a search does
        }
        t.trimToLast();
        ASSERT_EQ(t.size(), kCount);
        ASSERT_LT(kCount - t.firstKept(), size_t{140'000});
        for (size_t i = t.firstKept(); i < t.size(); ++i)
            seen.push_back(t[i].offset + t[i].realSize);
        ASSERT_EQ(seen.size(), kCount);
        for (size_t i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], i + 1) << i;
    }
}

TEST(BlockTable, ZerpackClearsOnlyTheErrorFields) {
    BlockTable t;
    t.startFresh();
    const int64_t i = t.appendBlock();
    t[0] = {500, 0x1E0, 2006, 2106, 100, 7, kBrokenListed};
    t.clearErrorFields(i + (int64_t{1} << 32));  // only the low 32 bits address the entry
    EXPECT_EQ(t[0], (BlockRecord{500, 0x1E0, 2006}));
}

TEST(BlockTable, DropLastOnEmptyTableIsHarmless) {
    BlockTable t;
    t.dropLast();
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(t.lastIndex(), -1);
}

TEST(StartCodes, DeclaredSizes) {
    const std::vector<uint8_t> sys12 = {0, 0, 1, 0xBB, 0x00, 0x0C};
    const std::vector<uint8_t> len0 = {0, 0, 1, 0xE0, 0x00, 0x00};
    const std::vector<uint8_t> lenMax = {0, 0, 1, 0xE0, 0xFF, 0xFF};
    EXPECT_EQ(blockSize(BlockKind::SystemHeader, sys12), 18);
    EXPECT_EQ(blockSize(BlockKind::Packet, len0), 6);
    EXPECT_EQ(blockSize(BlockKind::Packet, lenMax), 65541);
    EXPECT_EQ(blockSize(BlockKind::Pack, {}), 12);
    EXPECT_EQ(blockSize(BlockKind::End, {}), 4);
    EXPECT_EQ(blockSize(BlockKind::None, lenMax), 0);
}

TEST(StartCodes, ValidSetFollowsTheSystemHeader) {
    StreamCodes codes;
    EXPECT_TRUE(codes.isValidStartCode(0x1C0));
    EXPECT_TRUE(codes.isValidStartCode(0x1E0));
    // Header listing E0 then C0 (header_length 12: two entries).
    const std::vector<uint8_t> header = {0,    0,    1,    0xBB, 0x00, 0x0C, 0x80, 0x1B, 0x83,
                                         0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0x2E, 0xC0, 0xC0, 0x20};
    takeStreamCodes(codes, header);
    EXPECT_EQ(codes.first(), 0x1E0u);
    EXPECT_EQ(codes.second(), 0x1C0u);
    for (uint32_t c : {0x1BAu, 0x1BBu, 0x1BEu, 0x1E0u, 0x1C0u, 0x1B9u}) {
        EXPECT_TRUE(codes.isValidStartCode(c)) << std::hex << c;
    }
    for (uint32_t c : {0x1E1u, 0x1BDu, 0x1C1u, 0x1B3u, 0x2E0u}) {
        EXPECT_FALSE(codes.isValidStartCode(c)) << std::hex << c;
    }
    // A stream code that shadows the end code is taken as a packet first.
    codes = StreamCodes{0x1E0, 0x1B9};
    EXPECT_EQ(codes.classify(0x1B9), BlockKind::Packet);
}

TEST(StartCodes, EntriesBehindTheHeaderAreNotTaken) {
    StreamCodes codes{0x1C0, 0x1E0};
    // header_length 9: one entry (bytes 12-14); bytes 15.. belong to the next block.
    const std::vector<uint8_t> oneStream = {0,    0,    1,    0xBB, 0x00, 0x09, 0x80,
                                            0x1C, 0x61, 0x01, 0xE1, 0xFF, 0xE0, 0xE0,
                                            0x2E, 0x00, 0x00, 0x01, 0xBE, 0x07};
    takeStreamCodes(codes, oneStream);
    EXPECT_EQ(codes.first(), 0x1E0u);
    EXPECT_EQ(codes.second(), 0x1E0u);
    // header_length 6: no entry at all.
    const std::vector<uint8_t> none = {0,    0,    1,    0xBB, 0x00, 0x06, 0x80, 0x1C,
                                       0x61, 0x01, 0xE1, 0xFF, 0x00, 0x00, 0x01, 0xBA};
    codes = {0x1C5, 0x1E5};
    takeStreamCodes(codes, none);
    EXPECT_EQ(codes.first(), 0x1C5u);
    EXPECT_EQ(codes.second(), 0x1E5u);
    // Fewer bytes than the header declares: only what was read is taken.
    takeStreamCodes(codes, std::vector<uint8_t>(oneStream.begin(), oneStream.begin() + 12));
    EXPECT_EQ(codes.first(), 0x1C5u);
}

// Random system headers, some with entries past their declared length or
// cut short, read one after another by the sound rules, against a model: the
// first header that lists a stream replaces the initial codes, later ones add
// to them; entries count inside the declared length up to the first byte
// that is no stream_id; 0xB8 and 0xB9 stand for all audio and all video.
TEST(StartCodes, SoundRulesTakeEveryListedStream) {
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245 + 12345, seed >> 8; };
    for (int file = 0; file < 300; ++file) {
        StreamCodes codes;
        std::array<bool, 256> model{};
        model[0xBE] = model[0xC0] = model[0xE0] = true;
        bool listed = false;
        for (int h = 0, headers = 1 + int(next() % 4); h < headers; ++h) {
            const size_t entries = next() % 6;
            std::vector<uint8_t> header = {0, 0, 1, 0xBB, 0, 0, 0x80, 0x1B, 0x83, 0x04, 0xE1, 0xFF};
            static constexpr uint8_t kIds[] = {0xB8, 0xB9, 0xBD, 0xBF, 0xC0, 0xC1, 0xC7,
                                               0xE0, 0xE2, 0xBC, 0xBA, 0x47, 0xFF};
            for (size_t k = 0; k < entries + 2; ++k) {
                header.push_back(kIds[next() % std::size(kIds)]);
                header.push_back(0xE0);
                header.push_back(0x2E);
            }
            // Declared: the entries, or a few bytes fewer or more.
            const size_t declared = 6 + 3 * entries + next() % 5 - 2;
            header[4] = uint8_t(declared >> 8);
            header[5] = uint8_t(declared);
            const size_t read = next() % 4 == 0 ? next() % header.size() : header.size();
            header.resize(read);
            const size_t length = declared + 6;
            std::array<bool, 256> found{};
            bool any = false;
            for (size_t at = 12; at + 2 < length && at < header.size(); at += 3) {
                const uint8_t id = header[at];
                if (id < 0x80) break;
                any = true;
                if (id == 0xB8) std::fill(found.begin() + 0xC0, found.begin() + 0xE0, true);
                if (id == 0xB9) std::fill(found.begin() + 0xE0, found.begin() + 0xF0, true);
                if (id >= 0xBC) found[id] = true;
            }
            if (any && !listed) {
                model = {};
                model[0xBE] = true;
                listed = true;
            }
            for (size_t id = 0; id < 256; ++id) model[id] = model[id] || found[id];
            takeStreamCodes(codes, header);
            for (uint32_t id = 0; id < 256; ++id) {
                const BlockKind expect = id == 0xBA   ? BlockKind::Pack
                                         : id == 0xBB ? BlockKind::SystemHeader
                                         : model[id]  ? BlockKind::Packet
                                         : id == 0xB9 ? BlockKind::End
                                                      : BlockKind::None;
                ASSERT_EQ(codes.classify(kStartCodePrefix | id), expect)
                    << "file " << file << " header " << h << " id " << std::hex << id;
                EXPECT_EQ(codes.classify(0x200 | id), BlockKind::None);
            }
        }
    }
}

}  // namespace
}  // namespace mpg
