// What mpgmend-cli prints of damage that leaves the blocks whole: the rows
// of findings behind the block rows, their place in --json with every other
// finding, the counts by kind, and the exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "repair/index_file.h"
#include "support/scanned.h"
#include "support/stream_builder.h"

namespace mpg {
namespace {

using test::cli;
using test::CliRun;

// A stream with one broken block, scanned, and its index saved with
// findings that a check of the content could have made.
struct WithFindings {
    test::TempDir dir;
    std::vector<uint8_t> bytes = [] {
        test::StreamBuilder b = test::typicalStream(8);
        b.erase(b.blocks()[9].offset + 60, 10);  // no repair but by hand
        return b.bytes();
    }();
    std::string input = dir.write("f.mpg", bytes);
    std::vector<Finding> findings = {
        {9000, 11048, 2 * 90000 + 45 * 900, 3 * 90000, 3, FindingKind::Hole, FindingCause::ZeroRun,
         0xE0, 0},
        {0, 40, kNoTime, kNoTime, 0, FindingKind::Junk, FindingCause::LeadingJunk, 0, 0},
        {5000, 5100, 90000, 90000, 1, FindingKind::PayloadDamage, FindingCause::Ac3Crc, 0xBD,
         0x80}};

    WithFindings() {
        test::Scanned s;
        EXPECT_TRUE(s.scan(input));
        EXPECT_FALSE(saveIndexFile(s.state.table, indexFileName(input), {input}, 0, std::nullopt,
                                   false, nullptr, findings));
    }
};

TEST(FindingsCli, RowsFollowTheBlockRowsInStreamOrder) {
    WithFindings f;
    const CliRun r = cli({"repair", f.input, "--from-index", "--dry-run"}, f.dir);
    const std::vector<std::string> rows = test::lines(r.out);
    ASSERT_EQ(rows.size(), 4u) << r.out << r.err;
    // The block row keeps its columns: its number comes first.
    EXPECT_EQ(rows[0].rfind("1\t", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1], "junk\t-\t0\t40\t-\t-\tбайты перед первым заголовком пака");
    EXPECT_EQ(rows[2], "payload\tBD/80\t5000\t5100\t0:00:01.00\t1\tCRC кадра AC-3 не сходится");
    EXPECT_EQ(rows[3],
              "hole\tE0\t9000\t11048\t0:00:02.45\t3\t"
              "нулевые байты, через которые поток перескакивает");
    EXPECT_EQ(test::readFile(f.input), f.bytes);
}

// The JSON of a rip: its faulty sectors are findings of their kind beside
// the broken blocks, counted by kind; the literal walk's document has
// neither.
TEST(FindingsCli, JsonListsEveryFindingWithItsKind) {
    test::TempDir dir;
    const auto values = test::fixtureValues("vcd-dat.txt");
    const std::string rip = test::fixture(values.at("flip_file"));
    const CliRun r = cli({"scan", "--json", rip}, dir);
    EXPECT_EQ(r.status, 3);
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc["findings"].size(), doc["rows"].size() + doc["sectors"].size());
    size_t sectors = 0, blocks = 0;
    uint64_t last = 0;
    for (const auto& found : doc["findings"]) {
        EXPECT_GE(found["start"].get<uint64_t>(), last);
        last = found["start"].get<uint64_t>();
        sectors += found["kind"] == "sector";
        blocks += found["kind"] == "block";
    }
    EXPECT_EQ(sectors, doc["sectors"].size());
    EXPECT_EQ(doc["summary"]["sector"], sectors);
    EXPECT_EQ(doc["summary"]["block"], blocks);
    EXPECT_NE(r.err.find("находки: сбойный сектор 1 (findings: faulty sector 1)"),
              std::string::npos)
        << r.err;

    const CliRun literal = cli({"--literal", "scan", "--json", rip}, dir);
    const auto strict = nlohmann::json::parse(literal.out);
    EXPECT_FALSE(strict.contains("findings"));
    EXPECT_FALSE(strict.contains("summary"));
    EXPECT_EQ(literal.err.find("находки"), std::string::npos);
}

}  // namespace
}  // namespace mpg
