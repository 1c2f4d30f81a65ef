// mpgmend-cli run as a process on real streams: what scripts rely on.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/translate.h"

namespace mpg {
namespace {

using test::cli;
using test::CliRun;
using test::readFile;

std::vector<uint8_t> withZeroRun(const std::vector<uint8_t>& original, size_t at, size_t length) {
    return test::withRun(original, at, length, 0x00);
}

TEST(Cli, ScanPrintsTheListRows) {
    test::TempDir dir;
    // The strict walk lists the fill of a video CD's sectors; the sound
    // rules list nothing.
    EXPECT_EQ(cli({"scan", test::fixture("vcd.mpg")}, dir).out, "");
    const CliRun r = cli({"scan", "--literal", test::fixture("vcd.mpg")}, dir);
    EXPECT_EQ(r.status, 3);  // broken blocks found
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "1\t7\t000001BE\t4123\t2001\t2021\t20\t1994(FF) at 7");
    EXPECT_EQ(cli({"scan", test::fixture("av.mpg")}, dir).out, "");
}

TEST(Cli, RepairRestoresTheOriginal) {
    test::TempDir dir;
    const auto original = readFile(test::fixture("av.mpg"));
    const auto damaged = withZeroRun(original, 30'000, 1234);
    const std::string input = dir.write("clip.mpg", damaged);
    const CliRun r = cli({"repair", input}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("файл сохранён (file saved)"), std::string::npos);
    auto expect = original;
    expect.insert(expect.end(), {0x00, 0x00, 0x01, 0xB9});
    EXPECT_EQ(readFile(dir.file("clip.001.mpg")), expect);
    EXPECT_EQ(readFile(input), damaged);

    // The proposal moves on; an explicit existing output needs --force.
    EXPECT_EQ(cli({"repair", input}, dir).status, 0);
    EXPECT_EQ(readFile(dir.file("clip.002.mpg")), expect);
    EXPECT_EQ(cli({"repair", input, "-o", dir.file("clip.001.mpg")}, dir).status, 1);
    EXPECT_EQ(cli({"repair", input, "-o", dir.file("clip.001.mpg"), "--force"}, dir).status, 0);
}

// A dry run lists what stays broken where it stands in the file the user
// named, as the scan did; under --literal the offsets after the cuts stay.
TEST(Cli, DryRunRowsKeepTheirPlaceInTheInput) {
    test::TempDir dir;
    const auto original = readFile(test::fixture("av.mpg"));
    // The zeros, cut by eq, lie before the run of 0x55, which stays.
    const std::string input =
        dir.write("two.mpg", test::withRun(withZeroRun(original, 30'000, 1234), 91'234, 300, 0x55));
    // The row without its number, and its offset.
    const auto cells = [](const std::string& row) {
        std::vector<std::string> out;
        size_t at = row.find('\t');
        while (at != std::string::npos) {
            const size_t next = row.find('\t', at + 1);
            out.push_back(row.substr(at + 1, next == std::string::npos ? next : next - at - 1));
            at = next;
        }
        return out;
    };
    // The rows of a run, by the index of their block.
    const auto rows = [&](std::vector<std::string> args, bool literal) {
        if (literal) args.insert(args.begin(), "--literal");
        std::map<std::string, std::vector<std::string>> byIndex;
        for (const std::string& row : test::lines(cli(args, dir).out)) {
            const std::vector<std::string> c = cells(row);
            if (c.size() > 2) byIndex[c[0]] = c;
        }
        return byIndex;
    };
    std::string kept;  // the index of the 0x55 run's block
    for (const bool literal : {false, true}) {
        const auto scanned = rows({"scan", input}, literal);
        const auto left = rows({"repair", input, "--apply=eq", "--dry-run"}, literal);
        if (!literal) {
            ASSERT_EQ(scanned.size(), 2u);
            ASSERT_EQ(left.size(), 1u);
            kept = left.begin()->first;
        }
        ASSERT_TRUE(scanned.count(kept) && left.count(kept)) << literal;
        std::vector<std::string> expected = scanned.at(kept);
        if (literal) expected[2] = std::to_string(std::stoull(expected[2]) - 1234);
        EXPECT_EQ(left.at(kept), expected) << literal;
    }
}

// A bare input name means the current folder, and so does the proposed output.
TEST(Cli, BareNamesMeanTheCurrentFolder) {
    test::TempDir dir;
    const auto original = readFile(test::fixture("av.mpg"));
    const std::string input = dir.write("clip.mpg", original);
    const CliRun r = cli({"repair", "clip.mpg"}, dir, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("clip.001.mpg")).size(), original.size() + 4);
    EXPECT_EQ(readFile(input), original);
}

TEST(Cli, ExitStatusOfFailures) {
    test::TempDir dir;
    const std::string input = dir.write("in.mpg", test::typicalStream(3).bytes());
    EXPECT_EQ(cli({"scan", dir.file("missing.mpg")}, dir).status, 1);
    const CliRun noPack =
        cli({"scan", dir.write("np.mpg", test::StreamBuilder().systemHeader({0xE0}).bytes())}, dir);
    EXPECT_EQ(noPack.status, 1);
    EXPECT_NE(noPack.err.find("отсутствует сигнатура файла"), std::string::npos);
    // Every status text comes with its gloss, that of an empty name too.
    const CliRun noName = cli({"scan", ""}, dir);
    EXPECT_EQ(noName.status, 1);
    EXPECT_EQ(noName.err, "сюда надо положить имя файла (no file name given)\n");
    const CliRun same = cli({"repair", input, "-o", input, "--force"}, dir);
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(
        same.err.find("выходной файл совпадает с входным: " + input + " (the output is the input)"),
        std::string::npos)
        << same.err;
    EXPECT_EQ(readFile(input), test::typicalStream(3).bytes());
    EXPECT_EQ(cli({"repair", input, "-o", dir.path() + "/no/such/dir/out.mpg"}, dir).status, 1);
    EXPECT_EQ(cli({"repair", input, "--apply", "bogus"}, dir).status, 2);
    EXPECT_EQ(cli({}, dir).status, 2);
}

// `out=$(mpgmend-cli repair f.mpg)`: the path written is the one line on
// standard output; with -o - the stream itself goes there instead.
TEST(Cli, RepairOutputForScripts) {
    test::TempDir dir;
    const auto original = readFile(test::fixture("av.mpg"));
    const std::string input = dir.write("clip.mpg", withZeroRun(original, 30'000, 1234));
    auto expect = original;
    expect.insert(expect.end(), {0x00, 0x00, 0x01, 0xB9});
    const CliRun named = cli({"repair", input}, dir);
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, dir.file("clip.001.mpg") + "\n");
    EXPECT_EQ(named.err.find(dir.file("clip.001.mpg")), std::string::npos);

    const CliRun piped = cli({"repair", "-q", input, "-o", "-"}, dir);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(piped.out == std::string(expect.begin(), expect.end()));
    EXPECT_EQ(cli({"repair", input, "-o", "-", "--json"}, dir).status, 2);

    const std::string a = test::fixture("av.mpg"), b = test::fixture("video-only.mpg");
    const CliRun glued = cli({"join", "--glue", "-o", "-", a, b}, dir);
    EXPECT_EQ(glued.status, 0) << glued.err;
    auto both = readFile(a);
    const auto second = readFile(b);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(glued.out == std::string(both.begin(), both.end()));
    // Nothing but the inputs and the one repaired file in the folder.
    EXPECT_EQ(test::listFolder(dir.path()),
              (std::vector<std::string>{"clip.001.mpg", "clip.mpg", "stderr.txt"}));
}

TEST(Cli, RescanWithAnyMinimumText) {
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(4);
    b.insert(b.blocks()[6].offset + 500, 300, 0x00);
    const std::string input = dir.write("in.mpg", b.bytes());
    // "-5" is a value, not an option; no run passes it, so nothing is cut.
    const CliRun r = cli(
        {"repair", input, "--apply", "rescan", "--min-run", "-5", "-o", dir.file("a.mpg")}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    // The stream ends with its own end code: none is added.
    EXPECT_EQ(readFile(dir.file("a.mpg")).size(), b.size());
    EXPECT_EQ(
        cli({"repair", input, "--apply", "rescan", "--apply", "rescan", "-o", dir.file("b.mpg")},
            dir)
            .status,
        0);
    EXPECT_EQ(readFile(dir.file("b.mpg")).size(), b.size() - 300);
}

// The JSON document is written piece by piece; a document of several
// pieces still lists every block once, in order, each behind the last, and
// the same rows as the plain listing.
TEST(Cli, JsonDocumentOfManyBlocks) {
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(700);
    for (size_t block : {1500, 900, 6}) b.insert(b.blocks()[block].offset + 100, 64, 0x00);
    const std::string input = dir.write("in.mpg", b.bytes());
    const CliRun r = cli({"scan", "--json", input}, dir);
    ASSERT_EQ(r.status, 3) << r.err;  // broken blocks found
    ASSERT_GT(r.out.size(), size_t{3} << 16);
    const std::string head =
        "{\"firstStreamCode\":448,\"secondStreamCode\":480,\"streamCodes\":[448,480],\"blocks\":[";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    // The strict walk names the two codes alone, as it always has.
    const CliRun literal = cli({"--literal", "scan", "--json", input}, dir);
    const std::string literalHead =
        "{\"firstStreamCode\":448,\"secondStreamCode\":480,\"blocks\":[";
    EXPECT_EQ(literal.out.substr(0, literalHead.size()), literalHead);
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "}}\n");  // the summary closes it
    size_t blocks = 0;
    uint64_t next = 0;
    for (size_t at = r.out.find("{\"code\":"); at != std::string::npos;
         at = r.out.find("{\"code\":", at + 1), ++blocks) {
        const auto field = [&](const char* name) {
            return std::stoll(r.out.substr(r.out.find(name, at) + std::strlen(name)));
        };
        ASSERT_EQ(uint64_t(field("\"offset\":")), next) << blocks;
        const int64_t real = field("\"realSize\":");
        next += uint64_t(real > 0 ? real : field("\"declaredSize\":"));
    }
    EXPECT_EQ(blocks, 2 + 3 * 700 + 1u);
    // One valid document, whatever its size: the frame around the streamed
    // values holds.
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["blocks"].size(), blocks);
    EXPECT_EQ(doc["rows"].size(), 3u);
    EXPECT_EQ(doc["secondStreamCode"], 480);
    const std::string plain = cli({"scan", input}, dir).out;
    std::string json = r.out.substr(r.out.find("\"rows\":[") + 8);
    json.erase(json.find("],\"findings\""));
    const auto replaceAll = [&](const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = json.find(from, at)) != std::string::npos; at += to.size())
            json.replace(at, from.size(), to);
    };
    replaceAll("],[", "\n");
    for (const char* drop : {"[", "]", "\""}) replaceAll(drop, "");
    replaceAll(",", "\t");
    EXPECT_EQ(json, plain.substr(0, plain.size() - 1));
}

TEST(Cli, DumpOfABlock) {
    test::TempDir dir;
    test::StreamBuilder b = test::typicalStream(3);
    b.insert(b.blocks()[6].offset + 100, 64, 0x00);
    const std::string input = dir.write("in.mpg", b.bytes());
    const CliRun r = cli({"dump", input, "--block", "6", "--width", "32"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), (2006 + 64 + 31) / 32);
    char first[32];
    std::snprintf(first, sizeof first, "%08zX 00 00 01 E0", b.blocks()[6].offset);
    EXPECT_EQ(r.out.substr(0, 20), first);
    // After the repair the run is gone from the block.
    const CliRun repaired = cli({"dump", input, "--block", "6", "--apply", "eq"}, dir);
    EXPECT_EQ(std::count(repaired.out.begin(), repaired.out.end(), '\n'), (2006 + 15) / 16);
    EXPECT_EQ(cli({"dump", input, "--block", "999"}, dir).status, 1);

    // A block of more than 128 KiB: its first and last 64 KiB and the gap line.
    b.insert(b.blocks()[6].offset + 200, 300'000, 0x00);
    const std::string large = dir.write("large.mpg", b.bytes());
    const CliRun edges = cli({"dump", large, "--block", "6"}, dir);
    ASSERT_EQ(edges.status, 0) << edges.err;
    EXPECT_EQ(std::count(edges.out.begin(), edges.out.end(), '\n'), 2 * 65536 / 16 + 1);
    EXPECT_NE(edges.out.find("\n-------- пропущено 170'998 байт\n"), std::string::npos);
    EXPECT_EQ(readFile(large), b.bytes());
    EXPECT_EQ(cli({"dump", input, "--block", "1", "--width", "20"}, dir).status, 2);
}

// Ctrl-C during a long scan stops it the way "стоп" does.
TEST(Cli, InterruptStopsTheScan) {
    test::TempDir dir;
    // Pack and system headers and then 3 GB of zeros (a sparse file): the scan steps
    // over them byte by byte looking for the next start code.
    const std::string input =
        dir.write("long.mpg", test::StreamBuilder().pack().systemHeader({0xE0}).pack().bytes());
    ASSERT_EQ(::truncate(input.c_str(), 3'000'000'000LL), 0);
    const std::string errFile = dir.file("err.txt");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen(errFile.c_str(), "w", stderr);
        std::freopen("/dev/null", "w", stdout);
        ::execl(MPGMEND_CLI, MPGMEND_CLI, "scan", input.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::usleep(300'000);
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const auto err = readFile(errFile);
    EXPECT_NE(std::string(err.begin(), err.end()).find("прервано пользователем"),
              std::string::npos);
}

TEST(Cli, JoinAndGlue) {
    test::TempDir dir;
    const std::string a = test::fixture("av.mpg"), b = test::fixture("video-only.mpg");
    const CliRun joined = cli({"join", "-o", dir.file("j.mpg"), a, b}, dir);
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_NE(joined.err.find("операция завершена (join finished)"), std::string::npos);
    const auto out = readFile(dir.file("j.mpg"));
    const auto first = readFile(a), second = readFile(b);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
    EXPECT_EQ(out.size(), first.size() + second.size() + 4);

    EXPECT_EQ(cli({"join", "-o", dir.file("j.mpg"), a, b}, dir).status, 1);  // exists, no --force
    EXPECT_EQ(cli({"join", "--glue", "--force", "-o", dir.file("j.mpg"), a, b}, dir).status, 0);
    auto both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(readFile(dir.file("j.mpg")), both);
    EXPECT_EQ(cli({"join", "--glue", "--one-padding", "-o", dir.file("k.mpg"), a}, dir).status, 2);
    const std::string copy = dir.write("copy.mpg", first);
    EXPECT_EQ(cli({"join", "--force", "-o", copy, a, copy}, dir).status, 1);
    EXPECT_EQ(readFile(copy), first);
}

// --check scans the pieces first and refuses a broken one by name; without it
// the join goes as far as it can and says where it failed.
TEST(Cli, JoinCheckAndWhereItFails) {
    test::TempDir dir;
    const std::string a = test::fixture("av.mpg");
    const auto first = readFile(a);
    const auto damaged = test::withRun(first, 5000, 10, 0xFF);
    const std::string broken = dir.write("broken.mpg", damaged);
    const std::string out = dir.file("j.mpg");

    const CliRun checked = cli({"join", "--check", "-o", out, a, broken}, dir);
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.err.find("кусок 2 (" + broken + "): 1 блок с ошибками (piece 2 (" + broken +
                               "): 1 broken block)"),
              std::string::npos)
        << checked.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    // The glue, which minds no structure, hears of the piece and goes on.
    const CliRun glued = cli({"join", "--check", "--glue", "-o", out, a, broken}, dir);
    EXPECT_EQ(glued.status, 0) << glued.err;
    EXPECT_NE(glued.err.find("кусок 2 (" + broken + "): 1 блок с ошибками"), std::string::npos)
        << glued.err;
    EXPECT_EQ(readFile(out).size(), first.size() + damaged.size());
    std::filesystem::remove(out);

    const CliRun joined = cli({"join", "-o", out, a, broken}, dir);
    EXPECT_EQ(joined.status, 1);
    EXPECT_NE(joined.err.find("нарушена структура файла: " + broken + ", позиция "),
              std::string::npos)
        << joined.err;
    EXPECT_NE(joined.err.find(" — не код начала блока (the structure of a file is broken)"),
              std::string::npos)
        << joined.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    const std::string missing = dir.file("missing.mpg");
    const CliRun gone = cli({"join", "--check", "-o", out, a, missing}, dir);
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("кусок 2 не прочитан: " + missing), std::string::npos) << gone.err;

    const CliRun sound = cli({"join", "--check", "--force", "-o", out, a, a}, dir);
    EXPECT_EQ(sound.status, 0) << sound.err;
    EXPECT_EQ(readFile(out).size(), 2 * first.size() + 4);
    EXPECT_EQ(readFile(a), first);
    EXPECT_EQ(readFile(broken), damaged);
}

// Two recordings copied into one piece: the join keeps both and names the
// end code it went on behind; a piece of end codes only is refused.
TEST(Cli, JoinGoesOnBehindAnInnerEndCode) {
    test::TempDir dir;
    const auto whole = readFile(test::fixture("vcd-mplex.mpg"));  // closed by an end code
    auto twice = whole;
    twice.insert(twice.end(), whole.begin(), whole.end());
    const std::string piece = dir.write("twice.mpg", twice);
    const std::string out = dir.file("j.mpg");
    const CliRun joined = cli({"join", "--check", "-o", out, piece, test::fixture("av.mpg")}, dir);
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_NE(joined.err.find("кусок 1 (" + piece + "): код конца потока на позиции " +
                              countText(whole.size() - 4) + " пропущен, соединение продолжено"),
              std::string::npos)
        << joined.err;
    EXPECT_EQ(readFile(out).size(),
              2 * (whole.size() - 4) + readFile(test::fixture("av.mpg")).size() + 4);

    const std::string ends = dir.write("ends.mpg", {0, 0, 1, 0xB9});
    const CliRun refused = cli({"join", "--force", "-o", out, piece, ends}, dir);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(ends + ": в куске нет ни одного блока потока"), std::string::npos)
        << refused.err;
    EXPECT_EQ(readFile(piece), twice);
}

// --literal belongs to every command, before or behind its name; on a stream
// that both walks read alike it changes nothing.
TEST(Cli, LiteralForEveryCommand) {
    test::TempDir dir;
    const std::string av = test::fixture("av.mpg");
    const std::vector<std::vector<std::string>> commands = {
        {"scan", av},
        {"repair", av, "--apply", "eq", "-o", dir.file("r.mpg"), "--force"},
        {"dump", av, "--block", "3"},
        {"join", "--force", "-o", dir.file("j.mpg"), av, av}};
    for (const auto& command : commands) {
        const CliRun plain = cli(command, dir);
        EXPECT_EQ(plain.status, 0) << command[0] << plain.err;
        std::vector<std::string> before = {"--literal"}, behind = command;
        before.insert(before.end(), command.begin(), command.end());
        behind.insert(behind.begin() + 1, "--literal");
        for (const auto& args : {before, behind}) {
            const CliRun literal = cli(args, dir);
            EXPECT_EQ(literal.status, 0) << command[0] << literal.err;
            EXPECT_EQ(literal.out, plain.out) << command[0];
        }
    }
}

// Every stream the system header lists is a packet code: a stream with two
// audio tracks scans clean and says which it found; the strict walk lists
// the third stream's packets as it always did.
TEST(Cli, EveryListedStreamCounts) {
    test::TempDir dir;
    const std::string input = test::fixture("two-audio.mpg");
    const CliRun sound = cli({"scan", input}, dir);
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(sound.out, "");
    EXPECT_EQ(sound.err, "найдены потоки: C0-C1 E0 (streams found: C0-C1 E0)\n");
    const nlohmann::json doc = nlohmann::json::parse(cli({"scan", "--json", input}, dir).out);
    EXPECT_EQ(doc["streamCodes"], nlohmann::json({0x1C0, 0x1C1, 0x1E0}));
    EXPECT_EQ(doc["rows"].size(), 0u);
    const CliRun literal = cli({"scan", "--literal", input}, dir);
    EXPECT_EQ(literal.status, 3);  // broken blocks found
    EXPECT_EQ(literal.err, "");
    EXPECT_EQ(std::count(literal.out.begin(), literal.out.end(), '\n'), 16);
}

// A tag in front of the stream and one behind it: under the sound rules
// the stream is taken, no row lists the tags, the repair leaves them out
// and says so; the strict walk refuses the file, as it always has.
TEST(Cli, JunkAroundTheStreamIsLeftOut) {
    test::TempDir dir;
    const auto original = readFile(test::fixture("av.mpg"));
    std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 30};
    tagged.resize(40, 'x');
    tagged.insert(tagged.end(), original.begin(), original.end());
    tagged.insert(tagged.end(), {'T', 'A', 'G'});
    tagged.resize(tagged.size() + 125, 'a');
    const std::string input = dir.write("tagged.mpg", tagged);
    // The tags are the rows: junk in front and junk behind, no block.
    const std::vector<std::string> rows = test::lines(cli({"scan", input}, dir).out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].rfind("junk\t-\t0\t40\t", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1].rfind("junk\t-\t163880\t164008\t", 0), 0u) << rows[1];
    const std::string said =
        "junk outside the stream left out: 40 bytes in front, 128 bytes behind";
    const CliRun plan = cli({"--lang", "en", "repair", "--dry-run", input}, dir);
    EXPECT_NE(plan.err.find(said), std::string::npos) << plan.err;
    const CliRun r = cli({"--lang", "en", "repair", input, "-o", dir.file("out.mpg")}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    auto expect = original;
    expect.insert(expect.end(), {0x00, 0x00, 0x01, 0xB9});
    EXPECT_EQ(readFile(dir.file("out.mpg")), expect);
    EXPECT_EQ(readFile(input), tagged);
    const CliRun strict = cli({"--lang", "en", "--literal", "scan", input}, dir);
    EXPECT_NE(strict.err.find("no pack header at the start"), std::string::npos) << strict.err;
}

}  // namespace
}  // namespace mpg
