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

TEST(Fixtures, VideoCdVideoPacketsAreSound) {
    Scanned s;
    scanFixture(s, "vcd.mpg");
    const BlockTable& t = s.state.table;
    size_t video = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].code != 0x1E0) continue;
        ++video;
        EXPECT_FALSE(t[i].isBroken()) << "video packet " << i << " at " << t[i].offset;
    }
    EXPECT_GT(video, 50u);
    // Sectors of a video CD end in 20 zero bytes behind their last packet:
    // those blocks are listed with a delta of 20, the last one too, whose
    // search ends at the end of the file.
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].isBroken()) {
            EXPECT_EQ(t[i].delta(), 20) << i;
        }
    }
    EXPECT_TRUE(t[t.size() - 1].isBroken());
}

}  // namespace
}  // namespace mpg
