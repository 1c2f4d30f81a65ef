#include "analysis/error_list.h"
#include "text/messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <random>

namespace mpg {
namespace {

BlockTable tableOf(std::vector<BlockRecord> entries) {
    BlockTable t;
    t.assign(std::move(entries));
    return t;
}

TEST(ErrorGrid, CellFormats) {
    const BlockTable t = tableOf({
        {0, 0x1BA, 12},
        {3000000000u, 0x1E0, 1012, 1000, 4096, 8, kBrokenListed, 0x0A},
    });
    ErrorGrid g;
    EXPECT_EQ(g.onBroken(1, t[1]), 1);
    EXPECT_EQ(g.row(1), (ErrorRow{"1", "1", "000001E0", "3000000000", "1012", "", "", ""}));
    EXPECT_EQ(g.onResolved(1, t[1]), 1);
    EXPECT_EQ(g.row(1), (ErrorRow{"1", "1", "000001E0", "3000000000", "1012", "1000", "-12",
                                  "4096(0A) at 8"}));
    EXPECT_EQ(errorListHeader(3), "offset в файле");
}

TEST(ErrorGrid, RowsAreTakenBelowTheLastUsedOne) {
    const BlockTable t = tableOf(
        {{0, 0x1BA, 12, 112, 100, 7, kBrokenListed}, {112, 0x1BB, 18, 30, 0, 0, kBrokenListed}});
    ErrorGrid g;
    EXPECT_EQ(g.rowCount(), 2);
    g.onBroken(0, t[0]);
    g.onResolved(0, t[0]);
    EXPECT_EQ(g.onBroken(1, t[1]), 2);
    EXPECT_EQ(g.rowCount(), 3);
    EXPECT_EQ(g.cell(1, 7), "100(00) at 7");
    g.clear();
    EXPECT_EQ(g.rowCount(), 2);
    EXPECT_EQ(g.row(1), ErrorRow{});
}

TEST(ErrorGrid, RebuildListsOnlyListedEntries) {
    ErrorGrid g;
    g.rebuildFromTable(tableOf({}));
    EXPECT_EQ(g.rowCount(), 2);
    EXPECT_TRUE(g.cell(1, 0).empty());
    g.rebuildFromTable(tableOf({{0, 0x1BA, 12, 20, 0, 0, kBrokenAccepted},
                                {20, 0x1C0, 100, 90, 0, 0, kBrokenListed},
                                {110, 0x1BA, 12},
                                {122, 0x1E0, 100, 150, 50, 9, kBrokenListed, 0xFF}}));
    ASSERT_EQ(g.rowCount(), 3);
    EXPECT_EQ(g.cell(1, 1), "1");
    EXPECT_EQ(g.cell(1, 6), "-10");
    EXPECT_EQ(g.cell(2, 0), "2");
    EXPECT_EQ(g.cell(2, 1), "3");
    EXPECT_EQ(g.cell(2, 6), "50");
    EXPECT_EQ(g.cell(2, 7), "50(FF) at 9");
}

// The list an automatic repair leaves: the entries it was given, sound or
// not, in the order given; names past the table's end give no row.
TEST(ErrorGrid, RebuildFromEntriesListsSoundEntriesToo) {
    const BlockTable t = tableOf({{0, 0x1BA, 12},
                                  {12, 0x1E0, 100, 90, 0, 0, kBrokenListed},
                                  {102, 0x1C0, 40, 40, 0, 0, kSound}});
    ErrorGrid g;
    g.rebuildFromEntries(t, {2, 7, 1});
    ASSERT_EQ(g.rowCount(), 3);
    EXPECT_EQ(g.rowIndex(1), 2);
    EXPECT_EQ(g.cell(1, 6), "0");
    EXPECT_EQ(g.rowIndex(2), 1);
    EXPECT_EQ(g.cell(2, 0), "2");
    EXPECT_EQ(g.listedEntries(t), (std::vector<size_t>{2, 1}));
    g.rebuildFromEntries(t, {});
    EXPECT_EQ(g.rowCount(), 2);
    EXPECT_EQ(g.rowIndex(1), -1);
}

TEST(ErrorGrid, RowsNameTheirEntriesByValue) {
    const BlockTable t = tableOf({{0, 0x1BA, 12}, {12, 0x1E0, 100, 90, 0, 0, kBrokenListed}});
    ErrorGrid g;
    EXPECT_FALSE(g.rowUsed(0));
    EXPECT_FALSE(g.rowUsed(1));
    EXPECT_EQ(g.rowEntry(1, t), std::nullopt);  // the empty row names none
    g.onBroken(1, t[1]);
    EXPECT_TRUE(g.rowUsed(1));
    EXPECT_EQ(g.rowEntry(1, t), 1u);
    // Rows whose index lies outside the table name none and are skipped.
    g.onBroken(2, t[1]);
    g.onResolved(2, t[1]);
    g.onBroken(-1, t[1]);
    EXPECT_EQ(g.rowEntry(2, t), std::nullopt);
    EXPECT_EQ(g.rowEntry(3, t), std::nullopt);
    EXPECT_EQ(g.cell(3, 1), "-1");
    EXPECT_EQ(g.listedEntries(t), std::vector<size_t>{1});
    EXPECT_EQ(g.row(0), ErrorRow{});
}

// The list against a plain one that keeps every row as its texts: random
// reports (found, resolved, withdrawn, a stop, a rebuild) of records with
// values of any width give the same rows, cells and entries.
struct TextList {
    std::vector<ErrorRow> rows{ErrorRow{}, ErrorRow{}};

    static std::string hex(const char* format, unsigned v) {
        char text[16];
        std::snprintf(text, sizeof text, format, v);
        return text;
    }
    void head(size_t r, int64_t index, const BlockRecord& e) {
        rows[r][0] = std::to_string(r);
        rows[r][1] = std::to_string(index);
        rows[r][2] = hex("%08X", e.code);
        rows[r][3] = std::to_string(e.offset);
        rows[r][4] = std::to_string(e.declaredSize);
    }
    void tail(size_t r, const BlockRecord& e) {
        rows[r][5] = std::to_string(e.realSize);
        rows[r][6] = std::to_string(int32_t(uint32_t(e.realSize) - uint32_t(e.declaredSize)));
        rows[r][7] = std::to_string(e.repeatLength) + "(" + hex("%02X", e.repeatByte) + ") at " +
                     std::to_string(e.repeatStart);
    }
    void dropLast() {
        if (rows.size() > 2) {
            rows.pop_back();
        } else {
            rows.back() = ErrorRow{};
        }
    }
    int broken(int64_t index, const BlockRecord& e) {
        if (!rows.back()[0].empty()) rows.emplace_back();
        head(rows.size() - 1, index, e);
        return int(rows.size()) - 1;
    }
    int resolved(int64_t index, const BlockRecord& e) {
        head(rows.size() - 1, index, e);
        tail(rows.size() - 1, e);
        return int(rows.size()) - 1;
    }
    bool withdrawn(int64_t index) {
        if (rows.back()[1] != std::to_string(index)) return false;
        dropLast();
        return true;
    }
    bool dropUnfinished() {
        if (!rows.back()[5].empty()) return false;
        dropLast();
        return true;
    }
    void rebuild(const BlockTable& table) {
        rows = {ErrorRow{}, ErrorRow{}};
        for (size_t i = 0; i < table.size(); ++i) {
            if (table[i].broken != kBrokenListed) continue;
            broken(int64_t(i), table[i]);
            resolved(int64_t(i), table[i]);
        }
    }
    std::optional<size_t> entry(size_t r, size_t tableSize) const {
        const std::string& t = rows[r][1];
        if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos) return {};
        const unsigned long long i = std::stoull(t);
        return i < tableSize ? std::optional<size_t>(i) : std::nullopt;
    }
};

// A record whose every field is drawn from `next`, a source of 32-bit values.
template <class Next>
BlockRecord recordDrawnFrom(Next&& next) {
    BlockRecord r;
    r.code = next();
    r.offset = next();
    r.declaredSize = int32_t(next());
    r.broken = uint8_t(next());
    r.realSize = int32_t(next());
    r.repeatByte = uint8_t(next());
    r.repeatLength = next();
    r.repeatStart = next();
    return r;
}

TEST(ErrorGrid, KeepsTheRowsATextListKeeps) {
    std::mt19937 rng(77);
    const auto any32 = [&]() -> uint32_t {
        switch (rng() % 4) {
            case 0:
                return rng() % 10;
            case 1:
                return std::numeric_limits<uint32_t>::max() - rng() % 3;
            case 2:
                return uint32_t{1} << 31 | (rng() % 2);
            default:
                return uint32_t(rng());
        }
    };
    const auto record = [&] { return recordDrawnFrom(any32); };
    for (int round = 0; round < 40; ++round) {
        std::vector<BlockRecord> entries(rng() % 12);
        for (BlockRecord& e : entries) {
            e = record();
            e.broken = rng() % 2 ? kBrokenListed : kSound;
        }
        const BlockTable table = tableOf(entries);
        ErrorGrid grid;
        TextList texts;
        for (int step = 0; step < 60; ++step) {
            const int64_t index = rng() % 5 == 0 ? -int64_t(rng() % 3) - 1 : int64_t(rng() % 16);
            const BlockRecord e = record();
            switch (rng() % 8) {
                case 0:
                case 1:
                    ASSERT_EQ(grid.onBroken(index, e), texts.broken(index, e));
                    break;
                case 2:
                case 3:
                    ASSERT_EQ(grid.onResolved(index, e), texts.resolved(index, e));
                    break;
                case 4: {
                    // Mostly the last row's own index, as a resumed scan sends it.
                    const int64_t last = rng() % 3 && texts.rows.back()[1].size()
                                             ? std::stoll(texts.rows.back()[1])
                                             : index;
                    ASSERT_EQ(grid.onWithdrawn(last), texts.withdrawn(last));
                    break;
                }
                case 5:
                    ASSERT_EQ(grid.dropUnfinishedRow(), texts.dropUnfinished());
                    break;
                case 6:
                    if (rng() % 4 == 0) {
                        grid.rebuildFromTable(table);
                        texts.rebuild(table);
                    }
                    break;
                default:
                    grid.clear();
                    texts.rows = {ErrorRow{}, ErrorRow{}};
                    break;
            }
            ASSERT_EQ(grid.rowCount(), int(texts.rows.size()));
            for (int r = 0; r < grid.rowCount(); ++r) {
                ASSERT_EQ(grid.row(r), texts.rows[size_t(r)]) << "row " << r;
                ASSERT_EQ(grid.rowUsed(r), r > 0 && !texts.rows[size_t(r)][0].empty());
                ASSERT_EQ(grid.cell(r, 7), texts.rows[size_t(r)][7]);
                ASSERT_EQ(grid.rowEntry(r, table), texts.entry(size_t(r), table.size()));
            }
        }
    }
}

// Two lists are equal exactly when they show the same texts: fields no cell
// shows (the entry's mark, the tail of a row not yet resolved) do not count.
// The rows of findings stand behind the blocks' rows and name no entry: a
// repair that walks the rows' entries takes the blocks alone, and a resumed
// scan's withdrawal or a stop's cleanup never touches a finding's row.
TEST(ErrorGrid, FindingRowsNameNoEntry) {
    const BlockTable t = tableOf({{0, 0x1BA, 12, 20, 0, 0, kBrokenListed},
                                  {20, 0x1C0, 100},
                                  {120, 0x1E0, 100, 150, 50, 9, kBrokenListed, 0xFF}});
    ErrorGrid g;
    g.rebuildFromTable(t);
    const std::vector<size_t> blocks = g.listedEntries(t);
    Finding hole{300, 2348, 1800, 3600, 2, FindingKind::Hole, FindingCause::ZeroRun, 0xE0, 0};
    Finding junk{0, 0, kNoTime, kNoTime, 0, FindingKind::Junk, FindingCause::LeadingJunk, 0, 0};
    g.showFindings({hole, junk});
    ASSERT_EQ(g.rowCount(), 5);
    EXPECT_EQ(g.listedEntries(t), blocks);
    EXPECT_EQ(g.row(3), (ErrorRow{"3", "", "E0", "300", "", "2048", "", ""}));
    EXPECT_EQ(*g.rowFinding(3), hole);
    EXPECT_EQ(g.rowFinding(1), nullptr);
    EXPECT_FALSE(g.rowEntry(3, t));
    EXPECT_EQ(g.rowIndex(4), -1);
    EXPECT_FALSE(g.dropUnfinishedRow());
    EXPECT_FALSE(g.onWithdrawn(0));
    EXPECT_EQ(g.rowCount(), 5);
    // Shown anew, the findings replace those before; none leaves the blocks.
    g.showFindings({junk});
    EXPECT_EQ(g.rowCount(), 4);
    EXPECT_EQ(*g.rowFinding(3), junk);
    g.showFindings({});
    EXPECT_EQ(g.rowCount(), 3);
    EXPECT_EQ(g.listedEntries(t), blocks);
    EXPECT_TRUE(g.onWithdrawn(2));
}

TEST(ErrorGrid, EqualWhenEveryCellIs) {
    std::mt19937 rng(5);
    const auto bit = [&] { return uint32_t(rng() % 2); };
    const auto fill = [&](ErrorGrid& g) {
        g.clear();
        for (int steps = int(rng() % 4); steps > 0; --steps) {
            BlockRecord e = recordDrawnFrom(bit);
            e.code += 0x1E0;
            const int64_t index = bit();
            if (rng() % 3 == 0) {
                g.onResolved(index, e);
            } else {
                g.onBroken(index, e);
            }
        }
    };
    int equal = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        ErrorGrid a, b;
        fill(a);
        fill(b);
        bool sameTexts = a.rowCount() == b.rowCount();
        for (int r = 0; sameTexts && r < a.rowCount(); ++r) sameTexts = a.row(r) == b.row(r);
        ASSERT_EQ(a == b, sameTexts) << trial;
        equal += sameTexts;
    }
    EXPECT_GT(equal, 100);  // the pairs alike in every cell were many
}

}  // namespace
}  // namespace mpg
