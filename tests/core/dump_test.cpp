#include "analysis/dump.h"

#include <gtest/gtest.h>

#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

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
}

TEST(DumpBlock, BrokenBlockShowsItsRealBytesThroughTheCuts) {
    test::TempDir dir;
    StreamBuilder b = test::typicalStream(3);
    b.insert(b.blocks()[6].offset + 100, 3'000'000, 0x00);
    test::Scanned s;
    ASSERT_TRUE(s.scan(dir.write("in.mpg", b.bytes())));
    std::vector<uint8_t> out;
    ASSERT_TRUE(readBlockForDump(s.state, s.path, 6, out));
    const size_t at = b.blocks()[6].offset;
    EXPECT_EQ(out, std::vector<uint8_t>(b.bytes().begin() + at,
                                        b.bytes().begin() + at + 2006 + 3'000'000));
    EXPECT_EQ(s.state.view.fileHandle(), -1);

    // With the run cut out, the dump shows the block as it will be written.
    s.state.view.addCut(static_cast<uint32_t>(at + 100), 3'000'000);
    s.state.view.resetCache();
    s.state.table[6].realSize = 2006;
    ASSERT_TRUE(readBlockForDump(s.state, s.path, 6, out));
    const auto clean = test::typicalStream(3).bytes();
    EXPECT_EQ(out, std::vector<uint8_t>(clean.begin() + at, clean.begin() + at + 2006));

    EXPECT_FALSE(readBlockForDump(s.state, s.path, s.state.table.size(), out));
    s.state.table[2].declaredSize = 2'000'000'000;  // as a foreign index file may say
    ASSERT_TRUE(readBlockForDump(s.state, s.path, 2, out));
    EXPECT_LT(out.size(), b.size() + 70'000);
}

}  // namespace
}  // namespace mpg
