// bench/pairtime run as a process: what it runs, where the output goes, what
// it removes between runs, and which exit statuses stop it. No figure of
// time is judged here, only that the line holds its fields and agrees with
// itself.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using mpg::test::readFile;
using mpg::test::TempDir;

struct PairRun {
    int status = -1;
    std::map<std::string, double> fields;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

PairRun run(const std::string& program, const std::vector<std::string>& args) {
    std::string command = quoted(program);
    for (const std::string& a : args) command += " " + quoted(a);
    command += " 2>/dev/null";
    PairRun result;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return result;
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p) != nullptr) text += buffer;
    const int status = ::pclose(p);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(text);
    for (std::string field; in >> field;) {
        const size_t eq = field.find('=');
        if (eq != std::string::npos)
            result.fields[field.substr(0, eq)] = std::stod(field.substr(eq + 1));
    }
    return result;
}

PairRun pairtime(const std::vector<std::string>& args) {
    return run(PAIRTIME, args);
}

TEST(PairTime, TimesBothSidesAndWritesTheirOutputs) {
    TempDir dir;
    const std::vector<uint8_t> bytes{'m', 'p', 'g', 0, 1, 0xBA};
    const std::string input = dir.write("input.bin", bytes);
    const std::string ours = dir.file("ours.bin"), theirs = dir.file("theirs.bin");
    const PairRun run =
        pairtime({"--pairs", "7", "--sync", "--ours-out", ours, "--theirs-out", theirs, "--", "cat",
                  input, "--vs", "sh", "-c", "cat \"$1\" \"$1\"", "-", input});
    ASSERT_EQ(run.status, 0);
    for (const char* key : {"pairs", "ours", "theirs", "ratio", "min", "max", "q1", "q3", "ours_kb",
                            "theirs_kb", "load1", "steal"})
        EXPECT_EQ(run.fields.count(key), 1u) << key;
    EXPECT_EQ(run.fields.at("pairs"), 7);
    EXPECT_LE(run.fields.at("min"), run.fields.at("q1"));
    EXPECT_LE(run.fields.at("q1"), run.fields.at("ratio"));
    EXPECT_LE(run.fields.at("ratio"), run.fields.at("q3"));
    EXPECT_LE(run.fields.at("q3"), run.fields.at("max"));
    EXPECT_GT(run.fields.at("ours_kb"), 0);
    EXPECT_GT(run.fields.at("theirs_kb"), 0);
    // Each run makes its output anew, as "> FILE" does: one copy, not eight.
    EXPECT_EQ(readFile(ours), bytes);
    std::vector<uint8_t> twice = bytes;
    twice.insert(twice.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(readFile(theirs), twice);
    EXPECT_EQ(readFile(input), bytes);
}

TEST(PairTime, RemovesThePathsBeforeEveryRun) {
    TempDir dir;
    const std::string input = dir.write("input.bin", {1, 2, 3});
    const std::string made = dir.file("made.bin");
    // `ln` fails where its target exists: each
    // run passes only if the one before left nothing behind.
    const PairRun run =
        pairtime({"--pairs", "7", "--remove", made, "--", "ln", input, made, "--vs", "true"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.fields.at("pairs"), 7);
    EXPECT_FALSE(std::filesystem::exists(made));
    EXPECT_EQ(readFile(input), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_NE(pairtime({"--pairs", "7", "--", "ln", input, made, "--vs", "true"}).status, 0);
}

TEST(PairTime, StopsOnAnExitStatusNotAccepted) {
    EXPECT_EQ(pairtime({"--", "true", "--vs", "false"}).status, 1);
    EXPECT_EQ(pairtime({"--", "sh", "-c", "exit 3", "--vs", "true"}).status, 1);
    EXPECT_EQ(pairtime({"--ok", "0,3", "--", "sh", "-c", "exit 3", "--vs", "true"}).status, 0);
    EXPECT_EQ(pairtime({"--", "sh", "-c", "kill -9 $$", "--vs", "true"}).status, 1);
    EXPECT_EQ(pairtime({"--", "no-such-program-here", "--vs", "true"}).status, 1);
    EXPECT_EQ(pairtime({"--pairs", "0", "--", "true", "--vs", "true"}).status, 2);
    EXPECT_EQ(pairtime({"--", "true"}).status, 2);
}

}  // namespace

// The reading ceiling's tool reads every byte whatever its chunk and the
// buffer's shift, the last chunk short.
TEST(PreadSpeed, ReadsTheWholeFileAtAnyChunkAndShift) {
    TempDir dir;
    std::vector<uint8_t> bytes(10'000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    const std::string input = dir.write("input.bin", bytes);
    for (const char* shift : {"0", "16", "4095"}) {
        for (const char* chunk : {"64", "4096", "2048000"}) {
            const PairRun r = run(PREADSPEED, {input, "--chunk", chunk, "--shift", shift});
            EXPECT_EQ(r.status, 0) << chunk << " " << shift;
            EXPECT_EQ(r.fields.at("bytes"), 10'000) << chunk << " " << shift;
        }
    }
    EXPECT_EQ(readFile(input), bytes);
    EXPECT_EQ(run(PREADSPEED, {input, "--shift", "4096"}).status, 2);
    EXPECT_EQ(run(PREADSPEED, {dir.file("missing.bin")}).status, 1);
}
