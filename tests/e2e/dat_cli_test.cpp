// Video CD rips (.dat) through mpgmend-cli: the sector rows scripts read,
// the plain stream a repair writes, the dump and the index of a rip.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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

// The cells of a summary table's line: runs of text between two or more spaces.
std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out;
    size_t from = line.find_first_not_of(' ');
    while (from != std::string::npos) {
        const size_t gap = line.find("  ", from);
        out.push_back(line.substr(from, gap == std::string::npos ? gap : gap - from));
        from = gap == std::string::npos ? gap : line.find_first_not_of(' ', gap);
    }
    return out;
}

// The characters a line takes on a terminal: its UTF-8 lead bytes.
size_t shownWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The last `count` lines of standard error: the table behind a batch.
std::vector<std::string> lastLines(const std::string& text, size_t count) {
    const std::vector<std::string> all = test::lines(text);
    if (all.size() < count) return all;
    return {all.end() - std::ptrdiff_t(count), all.end()};
}

TEST(DatCli, BatchTableCountsFaultySectors) {
    test::TempDir dir;
    const auto values = sidecar();
    const std::string clean = test::fixture("vcd-mplex.dat");
    const std::string flip = test::fixture(values.at("flip_file"));
    const std::string missing = test::fixture(values.at("missing_file"));
    const std::string plain = test::fixture("vcd-mplex.mpg");
    const std::vector<uint8_t> flipBytes = readFile(flip);

    const CliRun scan = cli({"scan", clean, flip, missing, plain}, dir);
    EXPECT_EQ(scan.status, 3) << scan.err;
    const std::vector<std::string> table = lastLines(scan.err, 5);
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(cells(table[0]),
              (std::vector<std::string>{"файл (file)", "блоков (blocks)", "испорченных (broken)",
                                        "сбойных секторов (faulty sectors)"}));
    // Each count under its title; a plain stream has no sectors to count.
    const std::vector<std::string> sectors = {"0", "1", "1", "-"};
    for (size_t r = 0; r < sectors.size(); ++r) {
        const std::vector<std::string> row = cells(table[r + 1]);
        ASSERT_EQ(row.size(), 4u) << table[r + 1];
        EXPECT_EQ(row[3], sectors[r]) << table[r + 1];
        EXPECT_EQ(shownWidth(table[r + 1]), shownWidth(table[0]))
            << "right-aligned under the title";
    }

    // The repair's table keeps the column behind the broken blocks, its
    // outputs left-aligned last.
    const std::string out = dir.file("out");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    const CliRun repair = cli({"repair", "--output-dir", out, flip, plain}, dir);
    EXPECT_EQ(repair.status, 0) << repair.err;
    const std::vector<std::string> repaired = lastLines(repair.err, 3);
    ASSERT_EQ(repaired.size(), 3u);
    EXPECT_EQ(cells(repaired[0]).at(3), "сбойных секторов (faulty sectors)");
    EXPECT_EQ(cells(repaired[1]).at(3), "1");
    EXPECT_EQ(cells(repaired[2]).at(3), "-");
    EXPECT_EQ(cells(repaired[1]).back(),
              out + "/" + values.at("flip_file").substr(0, values.at("flip_file").size() - 4) +
                  ".001.mpg");
    EXPECT_TRUE(readFile(flip) == flipBytes);

    // Without a rip the table is as it always was: no sector column.
    const CliRun plainOnly = cli({"scan", plain, test::fixture("vcd.mpg")}, dir);
    const std::vector<std::string> head = lastLines(plainOnly.err, 3);
    ASSERT_EQ(head.size(), 3u);
    EXPECT_EQ(cells(head[0]).size(), 3u) << head[0];
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

    // A zeroed sector repaired and wrapped: the new rip has no broken
    // block; the frames the zeros took stay lost, a hole the scan names.
    const std::vector<uint8_t> zeroed = readFile(test::fixture(sidecar().at("zero_file")));
    const std::string damaged = dir.write("zero.dat", zeroed);
    const CliRun fixed =
        cli({"repair", damaged, "--wrap-dat", "-o", dir.file("fixed.dat"), "--apply", "auto"}, dir);
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    const CliRun rescan = cli({"scan", dir.file("fixed.dat")}, dir);
    EXPECT_EQ(rescan.status, 3) << rescan.out << rescan.err;
    for (const std::string& row : test::lines(rescan.out)) EXPECT_EQ(row.rfind("hole\t", 0), 0u);
    // --verify names what is left: the hole, beside the input's findings.
    const CliRun verified = cli({"--lang", "en", "repair", damaged, "-o", dir.file("checked.mpg"),
                                 "--apply", "auto", "--verify"},
                                dir);
    EXPECT_EQ(verified.status, 3) << verified.err;
    EXPECT_NE(verified.err.find("left in the written file: hole 1 (in the input: "),
              std::string::npos)
        << verified.err;
    EXPECT_TRUE(readFile(damaged) == zeroed);

    // No rip, or standard output: a usage error, and nothing written.
    const std::string plain = dir.write("plain.mpg", readFile(test::fixture("vcd-mplex.mpg")));
    const CliRun notRip = cli({"repair", "--wrap-dat", plain, "-o", dir.file("no.dat")}, dir);
    EXPECT_EQ(notRip.status, 2);
    EXPECT_NE(notRip.err.find("no .dat rip"), std::string::npos) << notRip.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("no.dat")));
    EXPECT_EQ(cli({"repair", "--wrap-dat", input, "-o", "-"}, dir).status, 2);
    // A pipe cannot go back to the header's sizes: refused before a byte.
    const CliRun pipe = cli({"repair", "--wrap-dat", input, "-o", "/dev/stdout"}, dir);
    EXPECT_EQ(pipe.status, 1);
    EXPECT_EQ(pipe.out, "");
    EXPECT_NE(pipe.err.find("/dev/stdout: сюда .dat не записать"), std::string::npos) << pipe.err;
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
