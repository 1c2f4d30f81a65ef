// Video CD rips (.dat) through mpgmend-cli: the sector rows scripts read,
// the plain stream a repair writes, the dump and the index of a rip.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::cli;
using test::CliRun;
using test::readFile;

std::map<std::string, std::string> sidecar() {
    return test::fixtureValues("vcd-dat.txt");
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
        out.push_back(line.substr(from, tab - from));
    }
    out.push_back(line.substr(from));
    return out;
}

TEST(DatCli, ScanListsEachDamagedSectorAfterTheBlockRows) {
    test::TempDir dir;
    const CliRun clean = cli({"scan", test::fixture("vcd-mplex.dat")}, dir);
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, "");

    const auto values = sidecar();
    const std::map<std::string, std::string> faults = {{"flip", "bad_checksum"},
                                                       {"zero", "unreadable"},
                                                       {"missing", "missing"},
                                                       {"duplicate", "duplicate"},
                                                       {"sync", "damaged_header"}};
    for (const auto& [key, fault] : faults) {
        SCOPED_TRACE(key);
        const std::string file = test::fixture(values.at(key + "_file"));
        const CliRun r = cli({"scan", file}, dir);
        EXPECT_EQ(r.status, 3) << r.err;  // a faulty sector is damage
        const std::vector<std::string> rows = test::lines(r.out);
        ASSERT_FALSE(rows.empty());
        // Block rows (if any) come first; the sector row is marked.
        const std::vector<std::string> row = fields(rows.back());
        ASSERT_EQ(row.size(), 6u) << rows.back();
        EXPECT_EQ(row[0], "sector");
        EXPECT_EQ(row[1], values.at(key + "_sector"));
        EXPECT_EQ(row[2], values.at(key + "_address"));
        for (size_t k = 0; k + 1 < rows.size(); ++k) EXPECT_NE(rows[k].rfind("sector\t", 0), 0u);

        const CliRun json = cli({"scan", "--json", file}, dir);
        const auto doc = nlohmann::json::parse(json.out);
        ASSERT_EQ(doc["sectors"].size(), 1u);
        const auto& sector = doc["sectors"][0];
        EXPECT_EQ(sector["fault"], fault);
        EXPECT_EQ(std::to_string(sector["sector"].get<uint64_t>()), values.at(key + "_sector"));
        EXPECT_EQ(sector["address"], values.at(key + "_address"));
        EXPECT_EQ(sector["stream_start"].get<uint64_t>(), std::stoull(row[4]));
        EXPECT_EQ(sector["stream_end"].get<uint64_t>(), std::stoull(row[5]));
    }
    // With several files, the file's name comes first.
    const std::string flip = test::fixture(values.at("flip_file"));
    const CliRun both = cli({"scan", test::fixture("vcd-mplex.dat"), flip}, dir);
    EXPECT_EQ(both.status, 3);
    EXPECT_EQ(both.out.rfind(flip + "\tsector\t" + values.at("flip_sector") + "\t", 0), 0u)
        << both.out;
}

TEST(DatCli, RepairWritesThePlainStreamAndLeavesTheRipAlone) {
    test::TempDir dir;
    const std::vector<uint8_t> rip = readFile(test::fixture("vcd-mplex.dat"));
    const std::vector<uint8_t> mpg = readFile(test::fixture("vcd-mplex.mpg"));
    const std::string input = dir.write("AVSEQ01.DAT", rip);
    const CliRun r = cli({"repair", input}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir.file("avseq01.001.mpg") + "\n");
    EXPECT_TRUE(readFile(dir.file("avseq01.001.mpg")) == mpg);
    EXPECT_TRUE(readFile(input) == rip);

    // A doubled sector is left out; the index of the scan loads back and
    // repairs the same.
    const std::vector<uint8_t> doubled = readFile(test::fixture(sidecar().at("duplicate_file")));
    const std::string twice = dir.write("twice.dat", doubled);
    EXPECT_EQ(cli({"scan", "--save-index", twice}, dir).status, 3);
    const CliRun loaded = cli({"repair", "--from-index", twice, "-o", dir.file("again.mpg")}, dir);
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_TRUE(readFile(dir.file("again.mpg")) == mpg);
    EXPECT_TRUE(readFile(twice) == doubled);
}

TEST(DatCli, WrapDatWritesARipAgain) {
    test::TempDir dir;
    const std::vector<uint8_t> rip = readFile(test::fixture("vcd-mplex.dat"));
    const std::string input = dir.write("AVSEQ01.DAT", rip);
    const CliRun clean = cli({"repair", "--wrap-dat", input}, dir);
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, dir.file("avseq01.001.dat") + "\n");
    EXPECT_TRUE(readFile(dir.file("avseq01.001.dat")) == rip);
    EXPECT_TRUE(readFile(input) == rip);

    // A zeroed sector repaired and wrapped: the new rip scans clean.
    const std::vector<uint8_t> zeroed = readFile(test::fixture(sidecar().at("zero_file")));
    const std::string damaged = dir.write("zero.dat", zeroed);
    const CliRun fixed =
        cli({"repair", damaged, "--wrap-dat", "-o", dir.file("fixed.dat"), "--apply", "auto"}, dir);
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    const CliRun rescan = cli({"scan", dir.file("fixed.dat")}, dir);
    EXPECT_EQ(rescan.status, 0) << rescan.out << rescan.err;
    EXPECT_EQ(rescan.out, "");
    EXPECT_TRUE(readFile(damaged) == zeroed);

    // No rip, or standard output: a usage error, and nothing written.
    const std::string plain = dir.write("plain.mpg", readFile(test::fixture("vcd-mplex.mpg")));
    const CliRun notRip = cli({"repair", "--wrap-dat", plain, "-o", dir.file("no.dat")}, dir);
    EXPECT_EQ(notRip.status, 2);
    EXPECT_NE(notRip.err.find("no .dat rip"), std::string::npos) << notRip.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("no.dat")));
    EXPECT_EQ(cli({"repair", "--wrap-dat", input, "-o", "-"}, dir).status, 2);
    EXPECT_NE(cli({"repair", "--help"}, dir).out.find("--wrap-dat"), std::string::npos);
}

TEST(DatCli, DumpShowsStreamBytesOnly) {
    test::TempDir dir;
    const auto table =
        nlohmann::json::parse(cli({"scan", "--json", test::fixture("vcd-mplex.dat")}, dir).out);
    // A large block behind the first sector: read at a raw offset, or
    // across a sector's header, it would differ from the stream's.
    size_t block = 0;
    for (; block < table["blocks"].size(); ++block) {
        const uint64_t at = table["blocks"][block]["offset"];
        const uint64_t size = table["blocks"][block]["declaredSize"];
        if (at >= 2 * 2324 && size >= 2000) break;
    }
    ASSERT_LT(block, table["blocks"].size());
    // The rip's dump is the plain stream's: no sector header inside.
    const CliRun fromRip =
        cli({"dump", "--block", std::to_string(block), test::fixture("vcd-mplex.dat")}, dir);
    const CliRun fromStream =
        cli({"dump", "--block", std::to_string(block), test::fixture("vcd-mplex.mpg")}, dir);
    EXPECT_EQ(fromRip.status, 0) << fromRip.err;
    EXPECT_EQ(fromRip.out, fromStream.out);
    EXPECT_FALSE(fromRip.out.empty());
}

TEST(DatCli, JoinTakesRipsAsTheirStreams) {
    test::TempDir dir;
    const std::string rip = test::fixture("vcd-mplex.dat");
    const std::string doubled = test::fixture(sidecar().at("duplicate_file"));
    const std::vector<uint8_t> doubledBytes = readFile(doubled);
    const std::string mpg = test::fixture("vcd-mplex.mpg");
    for (const std::string mode : {"--continuous", "--glue"}) {
        SCOPED_TRACE(mode);
        const CliRun fromRips =
            cli({"join", mode, "--force", "-o", dir.file("rips.mpg"), rip, doubled}, dir);
        const CliRun fromStreams =
            cli({"join", mode, "--force", "-o", dir.file("plain.mpg"), mpg, mpg}, dir);
        EXPECT_EQ(fromRips.status, 0) << fromRips.err;
        EXPECT_EQ(fromStreams.status, 0) << fromStreams.err;
        EXPECT_FALSE(readFile(dir.file("rips.mpg")).empty());
        EXPECT_TRUE(readFile(dir.file("rips.mpg")) == readFile(dir.file("plain.mpg")));
        EXPECT_TRUE(readFile(doubled) == doubledBytes);
    }
}

}  // namespace
}  // namespace mpg
