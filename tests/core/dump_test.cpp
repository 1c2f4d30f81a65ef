#include "analysis/dump.h"

#include <gtest/gtest.h>

#include <random>

#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

using test::StreamBuilder;

TEST(DumpLines, TheTwoKindsOfLine) {
    const std::vector<uint8_t> full = {0x41, 0x42, 0x43, 0x44, 0x00, 0x09, 0x0A, 0x0D,
                                       0x30, 0x31, 0x32, 0x33, 0x20, 0x7A, 0x7E, 0x2E};
    EXPECT_EQ(
        dumpLines(full, 0x1E0, 16),
        std::vector<std::string>{
            "000001E0 41 42 43 44 | 00 09 0A 0D | 30 31 32 33 | 20 7A 7E 2E | ABCD....0123 z~."});
    const std::vector<uint8_t> five = {0x41, 0x42, 0x43, 0x44, 0x45};
    const auto lines = dumpLines(five, 0x2A, 16);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "0000002A 41 42 43 44 | 45" + std::string(40, ' ') + "ABCDE");
    EXPECT_EQ(lines[0].size(), 65u + 5u);
}

TEST(DumpLines, LineBreaksAndWidths) {
    const auto bytes = StreamBuilder::pattern(48, 0x41);
    EXPECT_EQ(dumpLines(ByteSpan(bytes).first(16), 0, 16).size(), 1u);
    const auto seventeen = dumpLines(ByteSpan(bytes).first(17), 0, 16);
    ASSERT_EQ(seventeen.size(), 2u);
    EXPECT_EQ(seventeen[1].substr(0, 12), "00000010 B1 ");
    const auto wide = dumpLines(bytes, 0x100, 24);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[1].substr(0, 9), "00000118 ");
    EXPECT_EQ(std::count(wide[0].begin(), wide[0].end(), '|'), 6);
    // The characters start at the same column on every line.
    const auto charsOf = [&](size_t from, size_t count) {
        std::string out;
        for (size_t i = from; i < from + count; ++i) out += dumpChar(bytes[i]);
        return out;
    };
    EXPECT_EQ(wide[0].substr(93), charsOf(0, 24));
    EXPECT_EQ(wide[1].substr(93), charsOf(24, 24));
    EXPECT_EQ(dumpLines(bytes, 0, 32)[1].substr(121), charsOf(32, 16));
    // Past 4 GiB the offset takes the digits it needs, never wrapping to
    // another block's offset, and the characters move behind it.
    const auto far = dumpLines(ByteSpan(bytes).first(16), 0x1'2345'6780, 16);
    ASSERT_EQ(far.size(), 1u);
    EXPECT_EQ(far[0].substr(0, 13), "123456780 41 ");
    EXPECT_EQ(far[0].substr(66), charsOf(0, 16));
}

TEST(DumpLines, Characters) {
    EXPECT_EQ(dumpChar(0x00), ".");
    EXPECT_EQ(dumpChar(0x0D), ".");
    EXPECT_NE(dumpChar(0x0B), ".");  // only 00, 09, 0A and 0D are dots
    EXPECT_NE(dumpChar(0x0C), ".");
    EXPECT_EQ(dumpChar(0x1B), "\u241B");  // never a raw escape
    EXPECT_EQ(dumpChar(0xC0), "А");
    EXPECT_EQ(dumpChar(0xFF), "я");
    EXPECT_EQ(dumpChar(0xA8), "Ё");
    EXPECT_EQ(dumpChar(0xB9), "№");
    // Without the code page every byte from 0x80 up is a dot, and only those.
    for (int b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        EXPECT_EQ(dumpChar(byte, DumpCharset::Ascii), b < 0x80 ? dumpChar(byte) : ".") << b;
    }
}

TEST(DumpBlock, BrokenBlockShowsItsRealBytesThroughTheCuts) {
    test::TempDir dir;
    StreamBuilder b = test::typicalStream(3);
    b.insert(b.blocks()[6].offset + 100, 3'000'000, 0x00);
    test::Scanned s;
    ASSERT_TRUE(s.scan(dir.write("in.mpg", b.bytes())));
    BlockDump out;
    ASSERT_TRUE(readBlockForDump(s.state, s.path, 6, out));
    // Longer than two edges: its first and last 64 KiB, the rest left out.
    const size_t at = b.blocks()[6].offset, length = 2006 + 3'000'000;
    const auto bytesAt = [&](const std::vector<uint8_t>& from, size_t pos, size_t count) {
        return std::vector<uint8_t>(from.begin() + static_cast<ptrdiff_t>(pos),
                                    from.begin() + static_cast<ptrdiff_t>(pos + count));
    };
    EXPECT_EQ(out.offset, at);
    EXPECT_EQ(out.length, length);
    EXPECT_EQ(out.head, bytesAt(b.bytes(), at, kDumpEdge));
    EXPECT_EQ(out.tail, bytesAt(b.bytes(), at + length - kDumpEdge, kDumpEdge));
    EXPECT_EQ(out.skipped(), length - 2 * kDumpEdge);
    EXPECT_EQ(s.state.view.fileHandle(), -1);

    // With the run cut out, the dump shows the block whole, as it will be written.
    s.state.view.addCut(static_cast<uint32_t>(at + 100), 3'000'000);
    s.state.view.resetCache();
    s.state.table[6].realSize = 2006;
    ASSERT_TRUE(readBlockForDump(s.state, s.path, 6, out));
    EXPECT_EQ(out.head, bytesAt(test::typicalStream(3).bytes(), at, 2006));
    EXPECT_TRUE(out.tail.empty());

    EXPECT_FALSE(readBlockForDump(s.state, s.path, s.state.table.size(), out));
    s.state.table[2].declaredSize = 2'000'000'000;  // as a foreign index file may say
    ASSERT_TRUE(readBlockForDump(s.state, s.path, 2, out));
    EXPECT_LT(out.length, b.size() + 70'000);
}

// A block of exactly two edges is shown whole; one byte more brings the gap
// line, between the head's last line and the tail's first, whose offsets
// count on from the block's.
TEST(DumpBlock, GapLineBetweenTheEdges) {
    BlockDump d;
    d.offset = 0x1000;
    d.length = kDumpWhole;
    d.head = StreamBuilder::pattern(kDumpWhole);
    EXPECT_EQ(dumpLines(d, 16).size(), kDumpWhole / 16);

    d.length = kDumpWhole + 40'000 + 5;
    d.head.resize(kDumpEdge);
    d.tail = StreamBuilder::pattern(kDumpEdge, 0x33);
    for (int perLine : {16, 24, 32}) {
        const auto lines = dumpLines(d, perLine);
        const size_t headLines = (kDumpEdge + perLine - 1) / perLine;
        ASSERT_EQ(lines.size(), 2 * headLines + 1);
        EXPECT_EQ(lines[headLines], "-------- пропущено 40'005 байт");
        EXPECT_EQ(lines[headLines - 1], dumpLines(d.head, 0x1000, perLine).back());
        char first[16];
        std::snprintf(first, sizeof first, "%08X 33 ", 0x1000 + kDumpEdge + 40'005);
        EXPECT_EQ(lines[headLines + 1].substr(0, 12), first);
    }
}

// A block declared 2006 bytes long that holds 2306, with a run of 300 zeros
// from byte 100: the run and the 300 bytes past the declared size are
// marked, the run last; a sound block, nothing.
// Random tables of blocks: every position finds the last block starting at
// or before it, as a walk over all of them does.
TEST(DumpBlock, BlockHoldingAPositionAgainstAWalk) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        BlockTable table;
        std::vector<BlockRecord> entries;
        Position at = random() % 3 == 0 ? 0 : random() % 100;
        const size_t count = random() % 40;
        for (size_t i = 0; i < count; ++i) {
            entries.push_back({at, 0x1E0, 10});
            at += 1 + random() % 50;
        }
        table.assign(entries);
        for (Position pos = 0; pos <= at + 2; ++pos) {
            std::optional<size_t> walked;
            for (size_t i = 0; i < count && entries[i].offset <= pos; ++i) walked = i;
            ASSERT_EQ(blockHolding(table, pos), walked) << "round " << round << " at " << pos;
        }
    }
    // Past 4 GiB the halving keeps the full position.
    BlockTable big;
    big.assign({{0, 0x1BA, 12}, {5'000'000'000, 0x1E0, 100}});
    EXPECT_EQ(blockHolding(big, 4'999'999'999), std::optional<size_t>(0));
    EXPECT_EQ(blockHolding(big, 5'000'000'000), std::optional<size_t>(1));
}

TEST(DumpHighlights, RunAndBytesPastTheDeclaredSize) {
    BlockRecord r;
    r.declaredSize = 2006;
    r.realSize = 2306;
    r.repeatStart = 100;
    r.repeatLength = 300;
    r.broken = kBrokenListed;
    using H = DumpHighlight;
    EXPECT_EQ(dumpHighlights(r, 2306), (std::vector<H>{{DumpMark::PastDeclaredSize, 2006, 2306},
                                                       {DumpMark::LongestRun, 100, 400}}));
    // Clipped to what is shown (a foreign index may claim more).
    EXPECT_EQ(dumpHighlights(r, 300), (std::vector<H>{{DumpMark::LongestRun, 100, 300}}));
    // A block shorter than declared has nothing past its size; no run, no mark.
    r.realSize = 1900;
    r.repeatLength = 0;
    EXPECT_TRUE(dumpHighlights(r, 2006).empty());
    r.realSize = 2306;
    r.broken = kSound;
    EXPECT_TRUE(dumpHighlights(r, 2306).empty());
}

// UTF-8 text as code points: the character column counts one per byte.
std::u32string codePoints(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<uint8_t>(s[i]);
        const int more = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t c = more == 0 ? b : b & (0x3F >> more);
        for (int k = 1; k <= more; ++k) c = (c << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
        out += c;
        i += 1 + more;
    }
    return out;
}

// Random dumps, whole or with a gap, at offsets on both sides of 4 GiB:
// every byte's cell holds its hex digits and its character in the lines
// dumpLines makes, and a byte left out points at the gap line.
TEST(DumpCell, EveryByteWhereTheLinesShowIt) {
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        BlockDump d;
        d.offset = (round % 3 == 0 ? 0xFFFF'F000ull : 0x1000) + rng() % 5000;
        const bool gap = round % 2 == 1;
        d.length = gap ? kDumpWhole + 1 + rng() % 100'000 : 1 + rng() % 3000;
        d.head.resize(gap ? kDumpEdge : d.length);
        for (uint8_t& b : d.head) b = static_cast<uint8_t>(rng());
        if (gap) d.tail = StreamBuilder::pattern(kDumpEdge, static_cast<uint8_t>(rng()));
        const Position tailAt = d.length - d.tail.size();
        for (int perLine : {16, 24, 32}) {
            const auto lines = dumpLines(d, perLine);
            for (int probe = 0; probe < 400; ++probe) {
                const Position at = rng() % d.length;
                const DumpCell cell = dumpCellOf(d, perLine, at);
                ASSERT_LT(cell.line, lines.size());
                const std::u32string line = codePoints(lines[cell.line]);
                if (gap && at >= d.head.size() && at < tailAt) {
                    EXPECT_FALSE(cell.shown);
                    EXPECT_EQ(lines[cell.line], dumpGapLine(d.skipped()));
                    continue;
                }
                ASSERT_TRUE(cell.shown);
                const uint8_t byte = at < d.head.size() ? d.head[at] : d.tail[at - tailAt];
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", byte);
                EXPECT_EQ(line.substr(cell.hexColumn, 2), codePoints(hex)) << at;
                EXPECT_EQ(line.substr(cell.charColumn, 1), codePoints(dumpChar(byte))) << at;
            }
        }
    }
}

}  // namespace
}  // namespace mpg
