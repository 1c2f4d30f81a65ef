// The automatic repair through mpgmend-cli: its report, its summary, the
// plan of a dry run and the check of the written file, as scripts see them.
// Every assertion but those of the test that needs the real repair holds
// whatever the repair decides for a block: the report is checked against
// the scan and the written file, the texts against the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "analysis/error_list.h"
#include "cli_run.h"
#include "support/temp_dir.h"
#include "text/messages.h"
#include "text/numbers.h"

namespace mpg {
namespace {

using Json = nlohmann::json;
using test::cli;
using test::CliRun;
using test::readFile;

// In av.mpg: the video packets at 61452 (index 43) and at 28672 (index
// 17), and the pack header at 63488 (index 44).
constexpr size_t kVideoPayload = 62'000;
constexpr size_t kOtherVideoPayload = 29'500;
constexpr size_t kBehindPackHeader = 63'500;

using test::lines;
using test::withRun;

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) out.push_back(field);
    return out;
}

std::string lastLine(const std::string& text) {
    const std::vector<std::string> all = lines(text);
    return all.empty() ? std::string() : all.back();
}

std::string grouped(uint64_t n) {
    return groupDigits(std::to_string(n));
}

// The summary line a run must end with, made from the report's counts.
std::string summaryLine(const Json& report) {
    const Json& s = report["summary"];
    RepairSummary summary;
    summary.blocks = s["blocks"];
    summary.exact = s["exact"];
    summary.decodable = s["decodable"];
    summary.unresolved = s["unresolved"];
    return repairSummaryText(summary, Language::Russian) + " (" +
           repairSummaryText(summary, Language::English) + ")";
}

class AutoCli : public ::testing::Test {
  protected:
    // A damaged copy of av.mpg, checked to be unchanged at the end.
    std::string input(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.write(name, bytes);
        inputs.emplace_back(path, bytes);
        return path;
    }
    void TearDown() override {
        for (const auto& [path, bytes] : inputs) EXPECT_EQ(readFile(path), bytes) << path;
    }
    // What the runs left in the folder, their standard error aside.
    std::vector<std::string> names() const {
        std::vector<std::string> all = test::listFolder(dir.path());
        std::erase(all, "stderr.txt");
        return all;
    }
    Json json(const std::string& path) const {
        const auto bytes = readFile(path);
        return Json::parse(bytes.begin(), bytes.end());
    }
    // The indices the scan lists, in order.
    std::vector<size_t> listed(const std::string& path) const {
        std::vector<size_t> out;
        for (const std::string& row : lines(cli({"scan", path}, dir).out)) {
            out.push_back(std::stoul(fields(row).at(1)));
        }
        return out;
    }

    const std::vector<uint8_t> original = readFile(test::fixture("av.mpg"));
    test::TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
};

TEST_F(AutoCli, ReportAccountsForEveryListedBlock) {
    const std::string in = input("in.mpg", withRun(withRun(original, kVideoPayload, 300, 0xFF),
                                                   kOtherVideoPayload, 80, 0xFF));
    const std::vector<size_t> scanned = listed(in);
    ASSERT_EQ(scanned.size(), 2u);
    const std::string out = dir.file("out.mpg"), reportPath = dir.file("r.json");
    const CliRun r =
        cli({"repair", "-q", in, "--apply", "auto", "--report", reportPath, "-o", out}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out + "\n");

    const Json report = json(reportPath);
    EXPECT_EQ(report["input"], in);
    EXPECT_EQ(report["output"], out);
    const Json& summary = report["summary"];
    const Json& blocks = report["blocks"];
    ASSERT_EQ(summary["blocks"], blocks.size());
    EXPECT_EQ(summary["exact"].get<size_t>() + summary["decodable"].get<size_t>() +
                  summary["unresolved"].get<size_t>(),
              blocks.size());
    // With -q too, standard error ends with the summary of the report.
    EXPECT_EQ(lastLine(r.err), summaryLine(report));

    const std::set<std::string> actions = {"left_alone", "cut_runs",         "cut_at_break",
                                           "padded",     "length_from_file", "dropped"};
    const std::set<std::string> certainties = {"exact", "probable", "unresolved"};
    const Json table = Json::parse(cli({"scan", "--json", in}, dir).out)["blocks"];
    const auto written = readFile(out);
    std::vector<size_t> indices;
    for (const Json& b : blocks) {
        indices.push_back(b["index"]);
        for (const char* key : {"file_offset", "code", "declared_size", "real_size", "padded"}) {
            EXPECT_TRUE(b[key].is_number()) << key;
        }
        EXPECT_EQ(actions.count(b["action"].get<std::string>()), 1u) << b["action"];
        EXPECT_EQ(certainties.count(b["certainty"].get<std::string>()), 1u) << b["certainty"];
        for (const Json& cut : b["cuts"]) {
            EXPECT_TRUE(cut["file_offset"].is_number());
            EXPECT_TRUE(cut["length"].is_number());
            EXPECT_TRUE(cut["byte"].is_null() || cut["byte"].is_number());
        }
        if (b["action"] == "dropped") {
            EXPECT_TRUE(b["output_offset"].is_null());
            continue;
        }
        // Where the report says the block stands in the output, its start
        // code is.
        const size_t at = b["output_offset"];
        const uint32_t code = table[b["index"].get<size_t>()]["code"];
        ASSERT_LE(at + 4, written.size());
        EXPECT_EQ(uint32_t{written[at]} << 24 | uint32_t{written[at + 1]} << 16 |
                      uint32_t{written[at + 2]} << 8 | uint32_t{written[at + 3]},
                  code);
    }
    EXPECT_EQ(indices, scanned);
}

// The repairs --apply names run in order on one session (whose accounts
// the session's own tests check): a strategy before the automatic repair
// leaves it only what it did not fix.
TEST_F(AutoCli, LatestAccountOfABlockWins) {
    const std::string in = input("in.mpg", withRun(withRun(original, kVideoPayload, 300, 0xFF),
                                                   kOtherVideoPayload, 80, 0x00));
    const std::vector<size_t> scanned = listed(in);
    ASSERT_EQ(scanned.size(), 2u);
    const auto reported = [&](const std::vector<std::string>& apply) {
        std::vector<std::string> args = {"repair",           in,       "--dry-run", "--report",
                                         dir.file("r.json"), "--force"};
        for (const std::string& a : apply) args.insert(args.end(), {"--apply", a});
        EXPECT_EQ(cli(args, dir).status, 0);
        std::vector<size_t> indices;
        const Json report = json(dir.file("r.json"));
        for (const Json& b : report["blocks"]) indices.push_back(b["index"]);
        return indices;
    };
    EXPECT_EQ(reported({"auto", "auto"}), scanned);
    // eq cuts the run of zeros, which is as long as its block's surplus.
    EXPECT_EQ(reported({"eq", "auto"}), std::vector<size_t>{scanned[1]});
}

TEST_F(AutoCli, DryRunPrintsThePlanAndWritesNoStream) {
    const std::string in = input("in.mpg", withRun(original, kVideoPayload, 300, 0xFF));
    const CliRun plan =
        cli({"repair", in, "--apply", "auto", "--dry-run", "--report", dir.file("plan.json")}, dir);
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(names(), (std::vector<std::string>{"in.mpg", "plan.json"}));
    const Json report = json(dir.file("plan.json"));
    EXPECT_TRUE(report["output"].is_null());
    EXPECT_EQ(lastLine(plan.err), summaryLine(report));
    EXPECT_EQ(plan.err.find("файл сохранён"), std::string::npos);

    const std::vector<std::string> rows = lines(plan.out);
    const Json& blocks = report["blocks"];
    ASSERT_EQ(rows.size(), blocks.size());
    for (size_t k = 0; k < rows.size(); ++k) {
        const Json& b = blocks[k];
        EXPECT_TRUE(b["output_offset"].is_null());
        const std::vector<std::string> f = fields(rows[k]);
        ASSERT_EQ(f.size(), 5u) << rows[k];
        EXPECT_EQ(f[0], std::to_string(b["index"].get<size_t>()));
        EXPECT_EQ(f[1], std::to_string(b["file_offset"].get<uint64_t>()));
        EXPECT_EQ(f[2], formatCode(b["code"]));
        EXPECT_FALSE(f[3].empty());
        EXPECT_FALSE(f[4].empty());
    }

    // Without the automatic repair the plan is the rows still listed: eq
    // cuts no run of 0xFF.
    const CliRun rows2 = cli({"repair", in, "--dry-run"}, dir);
    EXPECT_EQ(rows2.status, 0);
    EXPECT_EQ(rows2.out, cli({"scan", in}, dir).out);
    EXPECT_EQ(rows2.err.find("блоков:"), std::string::npos);
    const std::string zeros = input("zeros.mpg", withRun(original, kVideoPayload, 300, 0x00));
    EXPECT_EQ(cli({"repair", zeros, "--dry-run"}, dir).out, "");
    EXPECT_EQ(names(), (std::vector<std::string>{"in.mpg", "plan.json", "zeros.mpg"}));
}

// Options that do not go together are refused before anything is read or
// written; a report that would replace the input or a file unasked costs
// no stream either.
TEST_F(AutoCli, RefusedCombinations) {
    const std::string in = input("in.mpg", withRun(original, kVideoPayload, 300, 0xFF));
    const std::string out = dir.file("out.mpg");
    const std::vector<std::vector<std::string>> usage = {
        {"--report", dir.file("r.json")},
        {"--apply", "auto", "--verify", "-o", "-"},
        {"--apply", "auto", "--verify", "-o", "/dev/null"},
        {"--apply", "auto", "--dry-run", "--verify"},
        {"--apply", "auto", "--dry-run", "--json"},
        {"--apply", "auto", "--report", "-"},
        {"--apply", "auto", "--report", out, "-o", out},
        {"--apply", "auto", "--report", dir.path() + "/./out.mpg", "-o", out},
    };
    for (std::vector<std::string> args : usage) {
        args.insert(args.begin(), {"repair", in});
        const CliRun r = cli(args, dir);
        EXPECT_EQ(r.status, 2) << args[3] << r.err;
        EXPECT_NE(r.err.find("--"), std::string::npos) << r.err;
    }
    EXPECT_EQ(names(), std::vector<std::string>{"in.mpg"});

    const CliRun intoInput =
        cli({"repair", in, "--apply", "auto", "--report", in, "--force", "-o", out}, dir);
    EXPECT_EQ(intoInput.status, 1);
    EXPECT_NE(intoInput.err.find("выходной файл совпадает с входным: " + in), std::string::npos)
        << intoInput.err;
    const std::string kept = input("kept.json", {'{', '}'});
    EXPECT_EQ(cli({"repair", in, "--apply", "auto", "--report", kept, "-o", out}, dir).status, 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"in.mpg", "kept.json"}));
}

// A report that cannot be written once the stream is saved: the stream
// stays, and the message says both; one device may take both outputs.
TEST_F(AutoCli, AReportLostAfterTheSaveKeepsTheStream) {
    const std::string in = input("in.mpg", withRun(original, kVideoPayload, 300, 0xFF));
    const std::string out = dir.file("out.mpg");
    const CliRun full =
        cli({"repair", in, "--apply", "auto", "--report", "/dev/full", "-o", out}, dir);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, out + "\n");
    EXPECT_NE(full.err.find("отчёт не записан, исправленный поток сохранён (the report was not "
                            "written, the repaired stream was saved): /dev/full: No space"),
              std::string::npos)
        << full.err;
    EXPECT_FALSE(readFile(out).empty());
    const CliRun null =
        cli({"repair", in, "--apply", "auto", "--report", "/dev/null", "-o", "/dev/null"}, dir);
    EXPECT_EQ(null.status, 0) << null.err;
}

TEST_F(AutoCli, VerifyCountsTheWrittenBlocks) {
    // eq restores the stream: a clean file, nothing it cannot judge.
    const std::string zeros = input("zeros.mpg", withRun(original, kVideoPayload, 300, 0x00));
    const CliRun clean = cli({"repair", zeros, "--verify", "-o", dir.file("clean.mpg")}, dir);
    EXPECT_EQ(clean.status, 0) << clean.err;
    const size_t blocks =
        Json::parse(cli({"scan", "--json", dir.file("clean.mpg")}, dir).out)["blocks"].size();
    EXPECT_EQ(lastLine(clean.err), "записанный файл проверен: блоков " + grouped(blocks) +
                                       ", испорченных 0 (the written file scanned: " +
                                       grouped(blocks) + " blocks, 0 broken)");

    // A pack header has no length field: accepted at its real size it is
    // written as it stands, and the written file still holds it broken.
    const std::string pack = input("pack.mpg", withRun(original, kBehindPackHeader, 300, 0xFF));
    const std::string out = dir.file("pack.001.mpg");
    const CliRun broken = cli({"repair", pack, "--apply", "sizes", "--verify", "-o", out}, dir);
    EXPECT_EQ(broken.status, 3) << broken.err;
    const Json table = Json::parse(cli({"scan", "--json", out}, dir).out)["blocks"];
    std::vector<std::string> brokenAt;
    for (const Json& b : table) {
        if (b["broken"] != "") brokenAt.push_back(grouped(b["offset"]));
    }
    ASSERT_EQ(brokenAt.size(), 1u);
    EXPECT_NE(broken.err.find("блоков " + grouped(table.size()) + ", испорченных 1 ("),
              std::string::npos)
        << broken.err;
    EXPECT_NE(broken.err.find("испорченные блоки с позиций: " + brokenAt[0] +
                              " (broken blocks in the written file at: " + brokenAt[0] + ")\n"),
              std::string::npos)
        << broken.err;
}

// The blocks a scan of the written file cannot judge are named with where
// they stand in it, as the report says; the exit status is 3 exactly when
// blocks stay unresolved or the written file holds broken ones.
TEST_F(AutoCli, VerifyNamesWhatAScanCannotJudge) {
    const std::string in = input("in.mpg", withRun(withRun(original, kVideoPayload, 300, 0xFF),
                                                   kOtherVideoPayload, 80, 0xFF));
    for (const bool cutPad : {false, true}) {
        std::vector<std::string> args = {
            "repair",  in,   "--apply",           "auto",     "--verify",
            "--force", "-o", dir.file("out.mpg"), "--report", dir.file("r.json")};
        if (cutPad) args.push_back("--cut-pad");
        const CliRun r = cli(args, dir);
        const Json report = json(dir.file("r.json"));
        std::vector<std::string> expected;
        for (const Json& b : report["blocks"]) {
            std::string said;
            if (b["action"] == "length_from_file") {
                said = "длина переписана";
            } else if (b["action"] == "padded") {
                said = "дополнен нулями";
            } else if (b["certainty"] == "unresolved") {
                said = cutPad ? "обрезан или дополнен до заявленного размера" : "длина переписана";
            } else {
                continue;
            }
            expected.push_back(said + ": блок " + std::to_string(b["index"].get<size_t>()) +
                               ", позиция " + grouped(b["output_offset"]) + " (");
        }
        std::vector<std::string> named;
        for (const std::string& line : lines(r.err)) {
            if (line.find(": блок ") != std::string::npos) {
                named.push_back(line.substr(0, line.find('(') + 1));
            }
        }
        EXPECT_EQ(named, expected) << r.err;
        const bool brokenOutput = r.err.find(", испорченных 0 (") == std::string::npos;
        const bool unresolved = report["summary"]["unresolved"] > 0;
        EXPECT_EQ(r.status, unresolved || brokenOutput ? 3 : 0) << r.err;
        EXPECT_EQ(lastLine(r.err), summaryLine(report));
    }
}

TEST_F(AutoCli, RestoresARunOfFFInAVideoPacket) {
    const std::string in = input("in.mpg", withRun(original, kVideoPayload, 300, 0xFF));
    const std::string out = dir.file("out.mpg");
    const CliRun r = cli(
        {"repair", in, "--apply", "auto", "--verify", "--report", dir.file("r.json"), "-o", out},
        dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const Json report = json(dir.file("r.json"));
    EXPECT_EQ(report["summary"]["exact"], 1);
    EXPECT_EQ(lastLine(r.err),
              "блоков: 1; восстановлено точно: 1, стали декодируемыми: 0, не "
              "решено: 0 (1 block: 1 restored exactly, 0 made decodable, 0 "
              "unresolved)");
    const Json& b = report["blocks"][0];
    EXPECT_EQ(b["index"], 43);
    EXPECT_EQ(b["file_offset"], 61452);
    EXPECT_EQ(b["code"], 0x1E0);
    EXPECT_EQ(b["action"], "cut_runs");
    EXPECT_EQ(b["cuts"].size(), 1u);
    EXPECT_EQ(b["cuts"][0]["length"], 300);
    EXPECT_EQ(b["cuts"][0]["byte"], 0xFF);
    EXPECT_EQ(b["output_offset"], 61452);
    auto expect = original;
    expect.insert(expect.end(), {0x00, 0x00, 0x01, 0xB9});
    EXPECT_EQ(readFile(out), expect);
}

}  // namespace
}  // namespace mpg
