// How real_damage reads ffmpeg's decode and the CLI's scan, and how it
// judges one decode beside another: the figures of its tables rest on these.
#include <gtest/gtest.h>

#include <filesystem>

#include "real_damage_tools.h"
#include "support/temp_dir.h"

namespace {

using namespace mpg::bench;

// Lines as ffmpeg 5 writes them at -loglevel level+verbose.
TEST(RealDamageTools, ReadsErrorLinesAndFramesOfADecode) {
    const std::string log =
        "[mpeg @ 0x1] [warning] start time for stream 0 is not set\n"
        "[mpeg2video @ 0x2] [error] ac-tex damaged at 5 13\n"
        "[mpeg2video @ 0x2] [info] concealing 110 DC, 110 AC, 110 MV errors in P frame\n"
        "[error] Error while decoding stream #0:2: Error number -16976906 occurred\n"
        "[verbose]   Input stream #0:1 (video): 50 packets read (132754 bytes); 48 frames "
        "decoded; \n"
        "[verbose]   Input stream #0:2 (audio): 63 packets read (48384 bytes); 61 frames decoded "
        "(96768 samples); \n"
        "[verbose]   Output stream #0:1 (video): 48 frames encoded; 48 packets muxed\n";
    const Decoded d = readDecode(log, 0);
    EXPECT_TRUE(d.ran);
    EXPECT_EQ(d.errors, 2);
    EXPECT_EQ(d.videoFrames, 48);
    EXPECT_EQ(d.audioFrames, 61);
    // A run that failed in silence counts one error, and one that never ran too.
    EXPECT_EQ(readDecode("", 1).errors, 1);
    EXPECT_FALSE(readDecode("", -1).ran);
}

TEST(RealDamageTools, ComparesDecodes) {
    const auto decoded = [](int errors, int video, int audio) {
        Decoded d;
        d.ran = true;
        d.errors = errors;
        d.videoFrames = video;
        d.audioFrames = audio;
        return d;
    };
    const Decoded source = decoded(2, 50, 60);
    struct Case {
        Decoded file;
        Compared expected;
    };
    const Case cases[] = {
        {decoded(2, 50, 60), Compared::Same},   {decoded(3, 50, 60), Compared::Worse},
        {decoded(0, 49, 60), Compared::Worse},  {decoded(0, 50, 59), Compared::Worse},
        {decoded(1, 50, 60), Compared::Better}, {decoded(2, 51, 60), Compared::Better},
        {decoded(3, 70, 70), Compared::Worse},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compareDecodes(c.file, source), c.expected)
            << c.file.errors << " errors, " << c.file.videoFrames << " / " << c.file.audioFrames;
    }
}

TEST(RealDamageTools, CountsScanRowsByKind) {
    const Scanned s = readScan(
        "1\t0\t0xE0\t2048\t2000\t2100\n2\t5\t0xC0\t6144\t400\t380\nsector\t57\t00:04:"
        "57\tEDC\t1\t2\n"
        "junk\t0\t10\n\n",
        3);
    EXPECT_EQ(s.status, 3);
    EXPECT_EQ(s.rowCount(), 4);
    EXPECT_EQ(s.rowsText(), "block:2 junk:1 sector:1");
    EXPECT_EQ(readScan("", 0).rowCount(), 0);
}

// The programs run as real_damage runs them: the exit status and both
// outputs come back, and ffmpeg's decode of a fixture counts its frames as
// tests/data/README.md lists them.
TEST(RealDamageTools, RunsProgramsAndDecodesAFixture) {
    mpg::test::TempDir dir;
    const std::string scratch = dir.path() + "/scratch";
    const Ran ran = runProgram({"sh", "-c", "echo out; echo err >&2; exit 3"}, scratch);
    EXPECT_EQ(ran.status, 3);
    EXPECT_EQ(ran.out, "out\n");
    EXPECT_EQ(ran.err, "err\n");
    EXPECT_EQ(runProgram({dir.path() + "/no-such-program"}, scratch).status, -1);
    if (runProgram({"ffmpeg", "-version"}, scratch).status != 0) GTEST_SKIP() << "no ffmpeg";
    const Decoded clean = decodeFile("ffmpeg", MPGMEND_TEST_DATA "/av.mpg", scratch);
    EXPECT_EQ(clean.errors, 0);
    EXPECT_EQ(clean.videoFrames, 75);
    EXPECT_EQ(clean.audioFrames, 115);
    const Decoded none = decodeFile("ffmpeg", dir.path() + "/missing.mpg", scratch);
    EXPECT_GE(none.errors, 1);
    EXPECT_EQ(none.frames(), 0);
    EXPECT_TRUE(remuxFile("ffmpeg", MPGMEND_TEST_DATA "/av.mpg", "mpeg", "", false, scratch));
    EXPECT_FALSE(std::filesystem::exists(scratch + ".out"));
}

}  // namespace
