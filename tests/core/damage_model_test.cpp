// Randomly damaged streams checked against a model of what the scan must find
// in them: the block table, the rows of the error list, and the repaired
// file after the strategy "eq" and the save.
#include <gtest/gtest.h>

#include <random>

#include "repair/strategies.h"
#include "repair/writer.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::StreamBuilder;

// The longest run of equal bytes in [from, to), as the scan's search counts
// it: the search starts as if inside a run of zero bytes of length 0, and of
// two equally long runs the earlier one wins.
void longestRun(const std::vector<uint8_t>& bytes, size_t from, size_t to, BlockRecord& r) {
    uint8_t byte = 0, bestByte = 0;
    size_t length = 0, start = from, best = 0, bestStart = from;
    for (size_t i = from; i <= to; ++i) {
        if (i < to && bytes[i] == byte) {
            ++length;
            continue;
        }
        if (length > best) best = length, bestByte = byte, bestStart = start;
        if (i < to) byte = bytes[i], length = 1, start = i;
    }
    r.repeatByte = bestByte;
    r.repeatLength = static_cast<uint32_t>(best);
    r.repeatStart = static_cast<uint32_t>(bestStart - r.offset);
}

// One damaged stream: its bytes, the table a scan must give, and the file a
// repair by "eq" must save.
struct Model {
    std::vector<uint8_t> bytes;
    std::vector<BlockRecord> table;
    std::vector<uint8_t> repaired;
};

Model damagedStream(std::mt19937& rng) {
    const auto pick = [&](size_t lo, size_t hi) { return lo + rng() % (hi - lo + 1); };
    StreamBuilder clean;
    clean.pack().systemHeader({0xE0, 0xC0});
    const size_t packs = pick(3, 25);
    for (size_t i = 0; i < packs; ++i) {
        clean.pack().packet(0xE0, pick(100, 3000)).packet(0xC0, pick(50, 800));
        if (rng() % 5 == 0) clean.padding(pick(10, 300));
    }
    const bool cut = rng() % 2 == 0;
    if (!cut) clean.endCode();

    Model m;
    const size_t count = clean.blocks().size();
    for (size_t n = 0; n < count; ++n) {
        const test::BuiltBlock& c = clean.blocks()[n];
        const auto first = clean.bytes().begin() + static_cast<ptrdiff_t>(c.offset);
        std::vector<uint8_t> block(first, first + static_cast<ptrdiff_t>(c.size));
        BlockRecord r{m.bytes.size(), c.code, static_cast<int32_t>(c.size)};
        const bool packet = c.code == 0x1E0 || c.code == 0x1C0;
        bool excisable = false;
        // Not in front of the end code: losing its 4 bytes would make the
        // packet end where the file does.
        const bool lossAllowed = n + 2 < count;
        if (packet && rng() % 3 == 0) {
            switch (rng() % (lossAllowed ? 3 : 2)) {
                case 0:
                case 1: {  // a run inserted where it touches no equal byte
                    const uint8_t v = rng() % 2 ? 0x00 : static_cast<uint8_t>(pick(1, 255));
                    size_t at = pick(10, c.size - 1);
                    while (block[at - 1] == v || block[at] == v) --at;
                    block.insert(block.begin() + static_cast<ptrdiff_t>(at), pick(2, 3000), v);
                    excisable = v == 0;
                    break;
                }
                default: {  // bytes lost: fewer than a pack header, else
                    // the declared end could land on the block behind it
                    const size_t lost = pick(1, 11);
                    const size_t at = pick(6, c.size - lost);
                    block.erase(block.begin() + static_cast<ptrdiff_t>(at),
                                block.begin() + static_cast<ptrdiff_t>(at + lost));
                }
            }
        }
        // The stream cut inside its last packet, 7 bytes of it or more left.
        if (cut && n + 1 == count) {
            block.resize(pick(7, block.size() - 1));
            excisable = false;
        }
        if (block.size() != c.size) {
            r.broken = kBrokenListed;
            r.realSize = static_cast<int32_t>(block.size());
        }
        m.bytes.insert(m.bytes.end(), block.begin(), block.end());
        if (r.isBroken()) longestRun(m.bytes, r.offset + 6, m.bytes.size(), r);
        m.table.push_back(r);

        // "eq" excises an inserted run of zeros; every other broken packet
        // is saved with its length field set to its real size.
        if (excisable) {
            block.assign(first, first + static_cast<ptrdiff_t>(c.size));
        } else if (r.isBroken()) {
            block[4] = static_cast<uint8_t>((block.size() - 6) >> 8);
            block[5] = static_cast<uint8_t>(block.size() - 6);
        }
        m.repaired.insert(m.repaired.end(), block.begin(), block.end());
    }
    // One end code closes the stream, unless it ends with one.
    if (m.table.empty() || m.table.back().code != kEndCode || m.table.back().isBroken()) {
        m.repaired.insert(m.repaired.end(), {0x00, 0x00, 0x01, 0xB9});
    }
    return m;
}

TEST(DamageModel, ScanRowsAndRepairFollowTheModel) {
    test::TempDir dir;
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const Model m = damagedStream(rng);
        test::Scanned s;
        ASSERT_TRUE(s.scan(dir.write("in.mpg", m.bytes)));
        for (size_t i = 0; i < std::min(m.table.size(), s.state.table.size()); ++i)
            ASSERT_EQ(s.state.table[i], m.table[i]) << i;
        ASSERT_EQ(s.state.table.size(), m.table.size());
        BlockTable modelTable;
        modelTable.assign(m.table);
        ErrorGrid modelRows;
        modelRows.rebuildFromTable(modelTable);
        ASSERT_EQ(s.grid.rowCount(), modelRows.rowCount());
        for (int r = 0; r < s.grid.rowCount(); ++r) ASSERT_EQ(s.grid.row(r), modelRows.row(r));

        QuietRepairProgress progress;
        applyStrategy(s.state, s.grid, Strategy::RemoveRunsEqualToDelta, RepairOptions{}, s.path,
                      progress);
        s.state.view.resetCache();
        test::GridSink sink(s.grid);
        ASSERT_FALSE(saveRepairedStream(s.state, {s.path, dir.file("out.mpg")}, sink));
        s.state.view.closeFile();
        EXPECT_EQ(test::readFile(dir.file("out.mpg")), m.repaired);
        EXPECT_EQ(test::readFile(s.path), m.bytes);
    }
}

}  // namespace
}  // namespace mpg
