// Streams made by a real encoder (see tests/data/make-fixtures.sh).
#include <gtest/gtest.h>

#include "analysis/scan.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

struct Scanned {
    AppState state;
    test::RecordingSink sink;
};

void scanFixture(Scanned& s, const std::string& name) {
    ASSERT_EQ(s.state.view.openStream(test::fixture(name)), OpenStatus::Opened);
    EXPECT_FALSE(scanStream(s.state, s.sink));
    s.state.view.closeFile();
    ASSERT_GT(s.state.table.size(), 10u);
}

TEST(Fixtures, ProgramStreamsHaveNoBrokenBlock) {
    for (const char* name : {"av.mpg", "video-only.mpg"}) {
        SCOPED_TRACE(name);
        Scanned s;
        scanFixture(s, name);
        const BlockTable& t = s.state.table;
        for (size_t i = 0; i < t.size(); ++i) {
            EXPECT_FALSE(t[i].isBroken()) << i;
            if (i + 1 < t.size()) {
                EXPECT_EQ(t[i].offset + t[i].declaredSize, t[i + 1].offset);
            }
        }
        EXPECT_TRUE(s.sink.of(Notify::Broken).empty());
    }
}

// Video CD sectors end in zero bytes behind their last packet, and ffmpeg
// writes whole sectors of zeros: under the sound rules each such stretch is
// an entry of fill that ends on the sector grid, and no block is broken.
// The strict walk lists the blocks in front of them, each 20 bytes or more
// longer than declared.
TEST(Fixtures, VideoCdFillIsNoDamage) {
    for (const auto& [name, sector] :
         {std::pair{"vcd.mpg", 2048u}, std::pair{"vcd-2324.mpg", 2324u},
          std::pair{"vcd-mplex.mpg", 2324u}}) {
        SCOPED_TRACE(name);
        Scanned s;
        scanFixture(s, name);
        const BlockTable& t = s.state.table;
        size_t fills = 0;
        Position lastPack = 0;
        for (size_t i = 0; i < t.size(); ++i) {
            EXPECT_FALSE(t[i].isBroken()) << i;
            if (t[i].code == kPackStartCode) lastPack = t[i].offset;
            if (t[i].code != kFillCode) continue;
            ++fills;
            const Position end = t[i].offset + Position(t[i].declaredSize);
            EXPECT_EQ((end - lastPack) % sector, 0u) << i;
            if (i + 1 < t.size()) {
                EXPECT_EQ(t[i + 1].code, kPackStartCode) << i;
            }
        }
        EXPECT_GE(fills, 26u);
        EXPECT_TRUE(s.sink.of(Notify::Broken).empty());

        Scanned literal;
        literal.state.rules = StreamRules::Literal;
        scanFixture(literal, name);
        const BlockTable& l = literal.state.table;
        size_t listed = 0;
        for (size_t i = 0; i < l.size(); ++i) {
            EXPECT_NE(l[i].code, kFillCode);
            if (!l[i].isBroken()) continue;
            ++listed;
            EXPECT_GE(l[i].delta(), 20) << i;
        }
        EXPECT_GE(listed, fills);
    }
}

}  // namespace
}  // namespace mpg
