// Several streams in one run of mpgmend-cli: files named and folders walked,
// outputs gathered in a folder, clean streams skipped, the exit status over
// all of them, and the stream alone on standard output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include "cli_run.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/translate.h"

namespace mpg {
namespace {

namespace fs = std::filesystem;
using test::cli;
using test::CliRun;
using test::readFile;
using test::withRun;

// In av.mpg: places inside the payload of the video packets at 28672 and
// 61452, where a run of zeros is what eq cuts out again.
constexpr size_t kRunPlaces[] = {29'500, 62'000};
// Behind the pack header at 63488: a run there leaves the written file
// broken after `--apply sizes`, which --verify finds.
constexpr size_t kBehindPackHeader = 63'500;

const std::vector<uint8_t>& original() {
    static const std::vector<uint8_t> bytes = readFile(test::fixture("av.mpg"));
    return bytes;
}

// What eq makes of a damaged copy: the original and the end code the save
// closes it with.
std::vector<uint8_t> repairedOriginal() {
    std::vector<uint8_t> bytes = original();
    bytes.insert(bytes.end(), {0x00, 0x00, 0x01, 0xB9});
    return bytes;
}

std::vector<uint8_t> zeroRun(size_t at = kRunPlaces[1], size_t length = 300) {
    return withRun(original(), at, length, 0x00);
}

// Every regular file below a folder (links not followed) with its bytes:
// what a run must leave as it was.
std::map<std::string, std::vector<uint8_t>> snapshot(const std::string& root) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[entry.path().string()] = readFile(entry.path().string());
        }
    }
    return files;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return text;
}

// A text as the program says it in Russian, the English behind it.
std::string glossed(const char* source) {
    return translateTo(Language::Russian, "Cli", source) + " (" +
           translateTo(Language::English, "Cli", source) + ")";
}

// The characters a line takes on a terminal: its UTF-8 lead bytes.
size_t shownWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The output of a shell command line.
std::string shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buf{};
    while (size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
    ::pclose(pipe);
    return out;
}

// A stream planted in a random tree, and whether it was damaged.
struct Planted {
    std::string path;
    std::string name;  // its file name
    bool damaged = false;
};

// Random trees of clean and damaged streams (and files that are no
// streams, a link back up the tree, a second name for a stream), repaired
// with --recursive --output-dir --skip-clean and scanned, against a model
// of which files are found in which order and what each gives.
TEST(BatchCli, RandomTreesAgainstAModel) {
    const std::vector<std::string> folders = {"", "a/", "a/b/", "c/"};
    const std::vector<std::string> extensions = {".mpg", ".MPG", ".mpeg", ".Vob",
                                                 ".DAT", ".txt", ".mpg~"};
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
        test::TempDir dir;
        const std::string root = dir.file("tree"), out = dir.file("out");
        for (const std::string& folder : folders) fs::create_directories(root + "/" + folder);
        fs::create_directory(out);

        std::vector<Planted> streams;
        const size_t files = 3 + pick(6);
        for (size_t i = 0; i < files; ++i) {
            // Few stems, so that outputs of one name meet in the folder.
            const std::string folder = folders[pick(folders.size())];
            const std::string name = "f" + std::to_string(pick(3)) +
                                     (i == 0 ? ".mpg" : extensions[pick(extensions.size())]);
            const std::string path = root + "/" + folder + name;
            if (fs::exists(path)) continue;
            const bool damaged = pick(2) == 1;
            dir.write(
                "tree/" + folder + name,
                damaged ? zeroRun(kRunPlaces[pick(2)] + pick(200), 50 + pick(3000)) : original());
            const std::string extension = lower(fs::path(name).extension().string());
            if (extension == ".mpg" || extension == ".mpeg" || extension == ".vob" ||
                extension == ".dat") {
                streams.push_back({path, name, damaged});
            }
        }
        ASSERT_EQ(::symlink("..", (root + "/a/b/up").c_str()), 0);
        // A second name, sorting after the first: the file is taken once.
        ASSERT_EQ(::symlink(streams[0].path.c_str(), (root + "/zz.mpg").c_str()), 0);
        std::sort(streams.begin(), streams.end(),
                  [](const Planted& a, const Planted& b) { return a.path < b.path; });
        const auto before = snapshot(root);

        const CliRun scan = cli({"scan", "-r", root}, dir);
        const bool anyDamaged =
            std::any_of(streams.begin(), streams.end(), [](const Planted& p) { return p.damaged; });
        EXPECT_EQ(scan.status, anyDamaged ? 3 : 0) << scan.err;
        std::string rowsOf;
        for (const std::string& row : test::lines(scan.out)) {
            rowsOf += row.substr(0, row.find('\t')) + "\n";
        }
        std::string damagedNames;
        for (const Planted& p : streams) damagedNames += p.damaged ? p.path + "\n" : "";
        EXPECT_EQ(rowsOf, damagedNames);

        const CliRun repair = cli({"repair", "-r", "--output-dir", out, "--skip-clean", root}, dir);
        EXPECT_EQ(repair.status, 0) << repair.err;
        // Outputs of one name are numbered on in the folder, in the order
        // the streams are taken.
        std::map<std::string, int> taken;
        std::string written;
        std::vector<std::string> outputs;
        for (const Planted& p : streams) {
            if (!p.damaged) continue;
            const fs::path name(lower(p.name));
            // A .dat input is saved as a plain stream, named .mpg.
            const std::string extension =
                name.extension() == ".dat" ? std::string(".mpg") : name.extension().string();
            const std::string number = std::to_string(++taken[name.stem().string() + extension]);
            outputs.push_back(out + "/" + name.stem().string() + ".00" + number + extension);
            written += outputs.back() + "\n";
        }
        EXPECT_EQ(repair.out, written);
        EXPECT_EQ(test::listFolder(out).size(), outputs.size());
        for (const std::string& output : outputs) {
            EXPECT_TRUE(readFile(output) == repairedOriginal()) << output;
        }
        EXPECT_TRUE(snapshot(root) == before);

        // The table: a header and a row per stream, in order, the counts'
        // columns ending where the header's do.
        if (streams.size() < 2) continue;
        const std::vector<std::string> err = test::lines(repair.err);
        ASSERT_GE(err.size(), streams.size() + 1);
        const std::vector<std::string> table(err.end() - std::ptrdiff_t(streams.size() + 1),
                                             err.end());
        const auto endOfCounts = [](const std::string& line) {
            const size_t last = line.rfind("  ");
            return shownWidth(line.substr(0, last));
        };
        for (size_t i = 0; i < streams.size(); ++i) {
            const std::string& row = table[i + 1];
            EXPECT_EQ(row.substr(0, streams[i].path.size()), streams[i].path);
            EXPECT_EQ(endOfCounts(row), endOfCounts(table[0])) << row;
        }
    }
}

// Exit status over several files: 1 when any failed, else 3 when any found
// broken blocks (scan) or leaves the written file broken (repair --verify),
// else 0. A failure does not stop the files after it.
TEST(BatchCli, ExitStatusOverSeveralFiles) {
    test::TempDir dir;
    fs::create_directory(dir.file("in"));
    const std::string clean = dir.write("in/clean.mpg", original());
    const std::string zeros = dir.write("in/zeros.mpg", zeroRun());
    const std::string pack =
        dir.write("in/pack.mpg", withRun(original(), kBehindPackHeader, 300, 0xFF));
    const std::string missing = dir.file("in/missing.mpg");
    const auto before = snapshot(dir.file("in"));

    EXPECT_EQ(cli({"scan", clean}, dir).status, 0);
    EXPECT_EQ(cli({"scan", zeros}, dir).status, 3);
    EXPECT_EQ(cli({"scan", clean, clean}, dir).status, 0);
    EXPECT_EQ(cli({"scan", clean, zeros}, dir).status, 3);
    const CliRun failed = cli({"scan", zeros, missing, clean}, dir);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find(clean + ":\n"), std::string::npos) << failed.err;
    EXPECT_EQ(failed.out.substr(0, zeros.size() + 1), zeros + "\t");

    fs::create_directory(dir.file("out"));
    const std::vector<std::string> verify = {"repair",   "--apply",      "sizes",
                                             "--verify", "--output-dir", dir.file("out")};
    auto with = [&](std::vector<std::string> args, std::initializer_list<std::string> files) {
        args.insert(args.end(), files);
        return cli(args, dir);
    };
    EXPECT_EQ(with(verify, {clean, zeros}).status, 0);
    EXPECT_EQ(with(verify, {clean, pack}).status, 3);
    EXPECT_EQ(with(verify, {pack, missing, clean}).status, 1);
    EXPECT_TRUE(snapshot(dir.file("in")) == before);
}

// What cannot work with several streams is refused before any is read.
TEST(BatchCli, RefusedBeforeAnyWork) {
    test::TempDir dir;
    fs::create_directories(dir.file("in/sub"));
    const std::string a = dir.write("in/a.mpg", zeroRun());
    const std::string b = dir.write("in/sub/b.mpg", zeroRun());
    const std::string folder = dir.file("in");
    const auto before = snapshot(folder);
    const std::vector<std::vector<std::string>> refused = {
        {"scan", folder},
        {"repair", folder},
        {"scan", "--json", a, b},
        {"scan", "--json", "-r", folder},
        {"repair", a, b, "-o", dir.file("x.mpg")},
        {"repair", a, b, "--json"},
        {"repair", a, b, "--apply", "auto", "--report", dir.file("r.json")},
        {"repair", a, "-o", dir.file("x.mpg"), "--output-dir", dir.path()},
        {"repair", a, "--output-dir", dir.file("nowhere")},
        {"dump", a, "--block", "3", "--charset", "koi8"},
    };
    for (const auto& args : refused) {
        const CliRun r = cli(args, dir);
        EXPECT_EQ(r.status, 2) << args[1] << " " << args.back() << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_NE(cli({"scan", folder}, dir).err.find("is a folder: give --recursive"),
              std::string::npos);
    EXPECT_TRUE(snapshot(folder) == before);
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"in", "stderr.txt"}));
}

// `repair f.mpg -o - | sha256sum`: the stream alone goes to standard
// output, byte for byte what -o writes into a file.
TEST(BatchCli, StandardOutputCarriesOnlyTheStream) {
    test::TempDir dir;
    const std::string input = dir.write("in.mpg", zeroRun());
    const std::string quoted = "'" + std::string(MPGMEND_CLI) + "' repair '" + input + "' ";
    const std::string piped =
        shell(quoted + "-o - 2>'" + dir.file("err.txt") + "' </dev/null | sha256sum");
    const std::string out = dir.file("out.mpg");
    EXPECT_EQ(cli({"repair", input, "-o", out}, dir).status, 0);
    const std::string written = shell("sha256sum <'" + out + "'");
    EXPECT_EQ(piped.size(), 64u + 4u);  // the digest and "  -\n"
    EXPECT_EQ(piped, written);
    const auto err = readFile(dir.file("err.txt"));
    EXPECT_EQ(std::string(err.begin(), err.end()),
              translate("Message", "файл сохранён") + " (file saved)\n");
    EXPECT_TRUE(readFile(out) == repairedOriginal());
    EXPECT_TRUE(readFile(input) == zeroRun());

    // A clean stream skipped: nothing at all on standard output.
    const std::string clean = dir.write("clean.mpg", original());
    const CliRun skipped = cli({"repair", clean, "--skip-clean", "-o", "-"}, dir);
    EXPECT_EQ(skipped.status, 0);
    EXPECT_EQ(skipped.out, "");
    EXPECT_EQ(skipped.err, glossed("испорченных блоков нет: файл не записан") + "\n");
    EXPECT_EQ(
        test::listFolder(dir.path()),
        (std::vector<std::string>{"clean.mpg", "err.txt", "in.mpg", "out.mpg", "stderr.txt"}));
}

// The dump's character column: bytes from 0x80 up as "." unless the
// Cyrillic code page is asked for; the bytes' columns are the same.
TEST(BatchCli, DumpCharacterColumn) {
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(3);
    std::vector<uint8_t> bytes = b.bytes();
    // The seventh line of block 6's dump.
    const size_t at = b.blocks()[6].offset + 6 * 16;
    const uint8_t line[16] = {'A', 'B', 0xC0, 0xFF, 0xA8, 0xB9, 0x80, 0xE0,
                              'x', 'x', 'x',  'x',  'x',  'x',  'x',  'x'};
    std::copy(std::begin(line), std::end(line), bytes.begin() + std::ptrdiff_t(at));
    const std::string input = dir.write("in.mpg", bytes);
    const CliRun plain = cli({"dump", input, "--block", "6"}, dir);
    const CliRun cyrillic = cli({"dump", input, "--block", "6", "--charset", "cp1251"}, dir);
    const CliRun ascii = cli({"dump", input, "--block", "6", "--charset", "ascii"}, dir);
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(cyrillic.status, 0) << cyrillic.err;
    EXPECT_EQ(ascii.out, plain.out);
    const auto plainLines = test::lines(plain.out), cyrillicLines = test::lines(cyrillic.out);
    ASSERT_EQ(plainLines.size(), cyrillicLines.size());
    ASSERT_GT(plainLines.size(), 6u);
    constexpr size_t kCharacters = 9 + 3 * 16 + 2 * 4;
    for (size_t i = 0; i < plainLines.size(); ++i) {
        EXPECT_EQ(plainLines[i].substr(0, kCharacters), cyrillicLines[i].substr(0, kCharacters));
    }
    EXPECT_EQ(plainLines[6].substr(kCharacters), "AB......xxxxxxxx");
    EXPECT_EQ(cyrillicLines[6].substr(kCharacters), "ABАяЁ№Ђаxxxxxxxx");
    EXPECT_TRUE(readFile(input) == bytes);
}

// --lang en: the texts of several files and the table in English alone.
TEST(BatchCli, EnglishWithLangEn) {
    test::TempDir dir;
    const std::string clean = dir.write("clean.mpg", original());
    const std::string zeros = dir.write("zeros.mpg", zeroRun());
    const CliRun r = cli({"--lang", "en", "repair", "--skip-clean", clean, zeros}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto english = [](const char* source) {
        return translateTo(Language::English, "Cli", source);
    };
    const std::vector<std::string> err = test::lines(r.err);
    ASSERT_EQ(err.size(), 7u) << r.err;
    EXPECT_EQ(err[1], english("испорченных блоков нет: файл не записан"));
    EXPECT_EQ(err[3], "file saved");
    EXPECT_EQ(err[4].substr(0, english("файл").size() + 2), english("файл") + "  ");
    EXPECT_EQ(err[5].substr(err[5].size() - english("не записан").size()), english("не записан"));
    EXPECT_TRUE(readFile(zeros) == zeroRun());
}

}  // namespace
}  // namespace mpg
