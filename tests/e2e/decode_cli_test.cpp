// scan --decode through mpgmend-cli: a clean stream exits 0 and prints no
// row; a copy with one picture's bytes destroyed, every block whole, exits 3
// with a decode row over those bytes, and neither input changes.
#include <gtest/gtest.h>

#include "cli_run.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::cli;
using test::CliRun;

TEST(DecodeCli, ScanDecodeListsTheDamagedFrameAndChangesNothing) {
    test::TempDir dir;
    const std::string clean = dir.write("clean.mpg", test::readFile(test::fixture("av.mpg")));
    const CliRun plain = cli({"scan", "--decode", clean}, dir);
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "");

    // A video packet's payload in the middle of av.mpg (the packet behind
    // the pack header at 81,920), scrambled well inside, away from its header.
    std::vector<uint8_t> bytes = test::readFile(clean);
    const size_t packet = 81920 + 12, from = packet + 600, to = from + 300;
    ASSERT_EQ(bytes[packet + 3], 0xE0);
    for (size_t k = from; k < to; ++k) bytes[k] = static_cast<uint8_t>(0x5A ^ (k * 7));
    const std::string damaged = dir.write("damaged.mpg", bytes);

    const CliRun r = cli({"scan", "--decode", damaged}, dir);
    EXPECT_EQ(r.status, 3) << r.err;
    const std::vector<std::string> rows = test::lines(r.out);
    ASSERT_FALSE(rows.empty());
    bool covered = false;
    for (const std::string& row : rows) {
        if (row.rfind("decode\t", 0) != 0) continue;  // the other checks' rows
        size_t b = 0, e = 0;
        char stream[8] = {};
        ASSERT_EQ(std::sscanf(row.c_str(), "decode\t%7s\t%zu\t%zu", stream, &b, &e), 3) << row;
        EXPECT_STREQ(stream, "E0");
        covered = covered || (b <= from && to <= e);
    }
    EXPECT_TRUE(covered) << r.out;
    EXPECT_EQ(test::readFile(damaged), bytes);
    EXPECT_EQ(test::readFile(clean), test::readFile(test::fixture("av.mpg")));
}

}  // namespace
}  // namespace mpg
