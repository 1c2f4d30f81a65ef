#include "analysis/error_list.h"
#include "text/messages.h"

#include <gtest/gtest.h>

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
    EXPECT_STREQ(errorListHeader(3), "offset в файле");
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

TEST(ErrorGrid, ColumnWidthRule) {
    const ColumnWidths w = columnWidthsFor(597, kInitialColumnWidths);
    EXPECT_EQ(w, (ColumnWidths{31, 47, 84, 87, 87, 87, 87, 79}));
    const ColumnWidths narrow = columnWidthsFor(150, kInitialColumnWidths);
    EXPECT_EQ(narrow[3], -2);  // (150 - 162) / 5, truncated toward zero
    EXPECT_EQ(narrow[7], 150 - (162 - 8) - 8);
}

}  // namespace
}  // namespace mpg
