// Broken, odd and hostile inputs through mpgmend-cli: every case ends (no
// hang), with the stated exit status, and leaves every input file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>

#include "model/block_table.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::BuiltBlock;
using test::readFile;
using test::StreamBuilder;

struct Outcome {
    int status = -1;
    std::string err, out;
};

class BadInput : public ::testing::Test {
  protected:
    // Runs the CLI through a shell (for ulimit), with a time limit: a hang
    // shows as status 124.
    Outcome run(const std::string& args, const std::string& shellPrefix = "",
                const std::string& stdoutTo = "") {
        const std::string errFile = dir.file("stderr.txt"), outFile = dir.file("stdout.txt");
        const std::string cmd = shellPrefix + "timeout 60 '" MPGMEND_CLI "' " + args +
                                " </dev/null >'" + (stdoutTo.empty() ? outFile : stdoutTo) +
                                "' 2>'" + errFile + "'";
        const int status = std::system(("sh -c \"" + cmd + "\"").c_str());
        Outcome o;
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const auto err = readFile(errFile), out = readFile(outFile);
        o.err.assign(err.begin(), err.end());
        o.out.assign(out.begin(), out.end());
        return o;
    }
    std::string input(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.write(name, bytes);
        files.emplace_back(path, bytes);
        return path;
    }
    void TearDown() override {
        for (const auto& [path, bytes] : files)
            EXPECT_EQ(readFile(path), bytes) << path << " changed";
    }
    static std::string q(const std::string& s) { return "'" + s + "'"; }
    // The folder's names but the runs' own stderr.txt and stdout.txt: what the jobs left.
    std::vector<std::string> names() const {
        std::vector<std::string> all = test::listFolder(dir.path());
        std::erase(all, "stderr.txt");
        std::erase(all, "stdout.txt");
        return all;
    }
    static bool has(const Outcome& o, const std::string& text) {
        return o.err.find(text) != std::string::npos;
    }

    test::TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
};

TEST_F(BadInput, FilesThatAreNoStream) {
    const auto pack = StreamBuilder().pack().bytes();
    std::mt19937 rng(5);
    std::vector<uint8_t> random(100'000);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"one", {pack.begin(), pack.begin() + 1}},
        {"three", {pack.begin(), pack.begin() + 3}},
        {"four", {pack.begin(), pack.begin() + 4}},
        {"eleven", {pack.begin(), pack.begin() + 11}},
        {"twelve", pack},
        {"zeros", std::vector<uint8_t>(100'000, 0x00)},
        {"ones", std::vector<uint8_t>(100'000, 0xFF)},
        {"random", random},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = input(name + ".mpg", bytes);
        for (const std::string& command :
             {"scan " + q(path), "repair " + q(path) + " -o " + q(dir.file("out.mpg"))}) {
            const Outcome o = run(command);
            EXPECT_EQ(o.status, 1) << name << " " << command << ": " << o.err;
        }
    }
    EXPECT_NE(run("scan " + q(dir.file("twelve.mpg"))).err.find("отсутствует System Header"),
              std::string::npos);
    EXPECT_NE(run("scan " + q(dir.file("zeros.mpg"))).err.find("отсутствует сигнатура файла"),
              std::string::npos);
}

TEST_F(BadInput, WhatCannotBeOpened) {
    EXPECT_EQ(run("scan " + q(dir.file("missing.mpg"))).status, 1);
    // scan and repair take a folder only with --recursive; dump opens it
    // as a file, which fails.
    const Outcome folder = run("scan " + q(dir.path()));
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find("is a folder: give --recursive"), std::string::npos);
    EXPECT_NE(run("dump " + q(dir.path()) + " --block 0").err.find("ошибка открытия файла"),
              std::string::npos);
    if (::geteuid() != 0) {  // root reads everything
        const std::string locked = input("locked.mpg", test::typicalStream(2).bytes());
        ::chmod(locked.c_str(), 0);
        EXPECT_EQ(run("scan " + q(locked)).status, 1);
        ::chmod(locked.c_str(), 0644);
    }
}

TEST_F(BadInput, BlocksRunningPastTheEnd) {
    StreamBuilder header;  // a system header that claims more bytes than there are
    header.pack().systemHeader({0xE0, 0xC0}).pack().packet(0xE0, 100);
    auto bytes = header.bytes();
    bytes[16] = 0x03;       // header_length 0x030C
    StreamBuilder longest;  // a packet of the largest length, cut by the end of the file
    longest.pack().systemHeader({0xE0}).pack().packet(0xE0, 65535);
    auto cut = longest.bytes();
    cut.erase(cut.end() - 1000, cut.end());
    for (const auto& [name, content] : {std::pair{"header", bytes}, std::pair{"longest", cut}}) {
        const std::string path = input(std::string(name) + ".mpg", content);
        EXPECT_EQ(run("scan " + q(path)).status, 3) << name;  // broken blocks found
        const Outcome o =
            run("repair " + q(path) + " -o " + q(dir.file(std::string(name) + ".out.mpg")));
        EXPECT_EQ(o.status, 0) << name << ": " << o.err;
    }
}

TEST_F(BadInput, OutputsThatMustNotBeWritten) {
    const std::string in = input("in.mpg", test::typicalStream(40).bytes());
    const std::string hard = dir.file("hard.mpg"), soft = dir.file("soft.mpg");
    ASSERT_EQ(::link(in.c_str(), hard.c_str()), 0);
    ASSERT_EQ(::symlink(in.c_str(), soft.c_str()), 0);
    for (const std::string& out : {in, hard, soft}) {
        const Outcome o = run("repair " + q(in) + " --force -o " + q(out));
        EXPECT_EQ(o.status, 1) << out;
        EXPECT_NE(o.err.find("выходной файл совпадает с входным"), std::string::npos) << o.err;
    }
    // A folder where nothing can be created, even by root.
    EXPECT_EQ(run("repair " + q(in) + " -o /proc/mpgmend-out.mpg").status, 1);
    // A file-size limit: the write fails and is reported as a failure.
    const Outcome limited =
        run("repair " + q(in) + " -o " + q(dir.file("limited.mpg")), "ulimit -f 40; ");
    EXPECT_EQ(limited.status, 1) << limited.err;
    EXPECT_NE(limited.err.find("ошибка сохранения файла"), std::string::npos);
    // A join whose output is one of its pieces.
    EXPECT_EQ(run("join --force -o " + q(hard) + " " + q(in)).status, 1);
}

// `ln -s v.mpg v.mpg.index; scan --save-index v.mpg` once turned the input
// into its own index; a hard link did the same.
TEST_F(BadInput, IndexThatLeadsToTheInput) {
    const std::string in = input("v.mpg", test::typicalStream(20).bytes());
    const std::string index = in + ".index";
    for (bool hard : {false, true}) {
        ASSERT_EQ(hard ? ::link(in.c_str(), index.c_str()) : ::symlink(in.c_str(), index.c_str()),
                  0);
        const Outcome o = run("scan --save-index " + q(in));
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_TRUE(
            has(o, "выходной файл совпадает с входным: " + index + " (the output is the input)"))
            << o.err;
        EXPECT_EQ(names(), (std::vector<std::string>{"v.mpg", "v.mpg.index"}));
        ::unlink(index.c_str());
    }
}

// A file-size limit: the write fails, is reported with its reason, and
// nothing is left behind, neither the output nor a temporary file nor an
// index cut short. Once the programs died of SIGXFSZ (status 153) here.
TEST_F(BadInput, FileSizeLimit) {
    const std::string a = input("a.mpg", test::typicalStream(200).bytes());
    const std::string b = input("b.mpg", test::typicalStream(10).bytes());
    const std::string limit = "ulimit -f 13; ";  // 6,656 bytes in the shell's 512-byte blocks
    const std::vector<std::string> before = {"a.mpg", "b.mpg"};
    const std::string tooLarge = ": File too large";
    const std::string saveGloss = " (error saving the file)";
    const Outcome index = run("scan --save-index " + q(a), limit);
    EXPECT_EQ(index.status, 1) << index.err;
    EXPECT_TRUE(has(index, "ошибка сохранения файла: " + a + ".index" + tooLarge + saveGloss))
        << index.err;
    EXPECT_EQ(names(), before);
    const std::string out = dir.file("out.mpg");
    for (const char* glue : {"", "--glue "}) {
        const Outcome o =
            run("join " + std::string(glue) + "-o " + q(out) + " " + q(a) + " " + q(b), limit);
        EXPECT_EQ(o.status, 1) << glue << o.err;
        EXPECT_TRUE(has(o, "ошибка сохранения файла: " + out + tooLarge + saveGloss)) << o.err;
        EXPECT_EQ(names(), before);
    }
    // An existing output that --force was to replace stays whole.
    const std::string old = input("old.mpg", std::vector<uint8_t>(100, 0x5A));
    EXPECT_EQ(run("repair " + q(a) + " --force -o " + q(old), limit).status, 1);
    EXPECT_EQ(run("join --force -o " + q(old) + " " + q(a), limit).status, 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.mpg", "b.mpg", "old.mpg"}));
}

// Outputs that are no regular file are written directly: /dev/null stays
// the device; a FIFO without a reader fails at once instead of hanging.
TEST_F(BadInput, OutputsThatAreNoRegularFile) {
    const std::string in = input("in.mpg", test::typicalStream(20).bytes());
    for (const std::string& command :
         {"repair " + q(in) + " -o /dev/null", "join -o /dev/null " + q(in) + " " + q(in),
          "join --glue -o /dev/null " + q(in)}) {
        const Outcome o = run(command);
        EXPECT_EQ(o.status, 0) << command << ": " << o.err;
        struct stat st {};
        ASSERT_EQ(::stat("/dev/null", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << command;
    }
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& command :
         {"repair " + q(in) + " -o " + q(fifo), "join -o " + q(fifo) + " " + q(in)}) {
        const Outcome o = run(command);
        EXPECT_EQ(o.status, 1) << command << ": " << o.err;
        EXPECT_TRUE(has(o, "ошибка сохранения файла: " + fifo +
                               ": No such device or address (error saving the file)"))
            << o.err;
    }
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(names(), (std::vector<std::string>{"fifo", "in.mpg"}));
}

// Join pieces: only regular files that can be opened. A missing piece, a
// folder or /dev/zero (once taken as an empty piece) refuses the join and
// leaves no output, not even an empty one.
TEST_F(BadInput, JoinPiecesThatAreRefused) {
    const std::string in = input("in.mpg", test::typicalStream(5).bytes());
    const std::string out = dir.file("out.mpg");
    for (const auto& [piece, reason] : std::vector<std::pair<std::string, std::string>>{
             {dir.file("missing.mpg"), "No such file or directory"},
             {"/dev/zero", "это не обычный файл"},
             {dir.path(), "это не обычный файл"}}) {
        for (const char* glue : {"", "--glue "}) {
            const Outcome o =
                run("join " + std::string(glue) + "-o " + q(out) + " " + q(in) + " " + q(piece));
            EXPECT_EQ(o.status, 1) << piece << ": " << o.err;
            EXPECT_TRUE(has(
                o, "ошибка открытия файла: " + piece + ": " + reason + " (cannot open the file)"))
                << o.err;
            EXPECT_EQ(names(), std::vector<std::string>{"in.mpg"}) << piece;
        }
    }
}

TEST_F(BadInput, IndexFilesThatDoNotFit) {
    const auto stream = test::typicalStream(5).bytes();
    const std::string in = input("in.mpg", stream);
    input("in.mpg.index", std::vector<uint8_t>(27, 0x01));
    const Outcome o = run("repair " + q(in) + " --from-index -o " + q(dir.file("a.mpg")));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("файл ошибок повреждён"), std::string::npos);

    // Entries that do not belong to the stream: negative and huge sizes,
    // offsets far beyond the file. The save fails without writing filler.
    std::vector<uint8_t> absurd;
    const BlockRecord records[] = {
        {0, 0x1BA, 12},
        {4'000'000'000u, 0x1E0, 2'000'000'000, 2'100'000'000, 100'000'000, 5, kBrokenListed},
        {100, 0x1C0, -7, -3, 0, 0, kBrokenAccepted},
    };
    for (const BlockRecord& r : records) {
        uint8_t buf[kBlockRecordSize];
        ASSERT_TRUE(encodeBlockRecord(r, buf));
        absurd.insert(absurd.end(), buf, buf + kBlockRecordSize);
    }
    ::unlink(dir.file("in.mpg.index").c_str());
    files.pop_back();
    input("in.mpg.index", absurd);
    for (const char* apply : {"eq", "rescan", "sizes"}) {
        const Outcome r = run("repair " + q(in) + " --from-index --force --apply " + apply +
                              " -o " + q(dir.file("b.mpg")));
        EXPECT_EQ(r.status, 1) << apply << ": " << r.err;
        EXPECT_LT(readFile(dir.file("b.mpg")).size(), 200'000u);
    }
    EXPECT_EQ(run("dump " + q(in) + " --block 1").status, 0);
}

// An index that cannot be written costs the scan's rows nothing: they are
// printed as without --save-index, and the failure said after them.
TEST_F(BadInput, AFailedIndexSaveStillListsTheRows) {
    StreamBuilder damaged = test::typicalStream(30);
    damaged.insert(damaged.blocks()[8].offset + 100, 300, 0x00);
    const std::string a = input("a.mpg", damaged.bytes());
    const Outcome plain = run("scan " + q(a));
    ASSERT_EQ(plain.status, 3);
    ASSERT_FALSE(plain.out.empty());
    ASSERT_EQ(::mkdir((a + ".index").c_str(), 0755), 0);  // no file can take its name
    const Outcome o = run("scan --save-index " + q(a));
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, plain.out);
    EXPECT_TRUE(has(o, "ошибка сохранения файла: " + a + ".index")) << o.err;
}

// The index of one file copied beside another (or left empty): refused as
// damaged, nothing is cut and nothing saved.
TEST_F(BadInput, ForeignOrEmptyIndexIsRefused) {
    test::StreamBuilder other = test::typicalStream(30);
    other.insert(other.blocks()[20].offset + 100, 300, 0x00);
    StreamBuilder damaged = test::typicalStream(30);
    damaged.insert(damaged.blocks()[8].offset + 100, 300, 0x00);
    const std::string a = input("a.mpg", damaged.bytes());
    const std::string b = input("b.mpg", other.bytes());
    ASSERT_EQ(run("scan --save-index " + q(a)).status, 3);  // broken blocks found
    files.emplace_back(a + ".index", readFile(a + ".index"));
    input("b.mpg.index", readFile(a + ".index"));
    const std::string out = dir.file("out.mpg");
    Outcome o = run("repair --from-index " + q(b) + " -o " + q(out));
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.err.find("файл ошибок повреждён (the index file is damaged)"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
    ::unlink((b + ".index").c_str());
    files.pop_back();
    input("b.mpg.index", {});
    EXPECT_EQ(run("repair --from-index " + q(b) + " -o " + q(out)).status, 1);
    EXPECT_FALSE(std::filesystem::exists(out));
    // Its own index is taken.
    o = run("repair --from-index " + q(a) + " -o " + q(out));
    EXPECT_EQ(o.status, 0) << o.err;
}

// The index of a scan stopped after ten blocks: --from-index refuses it and
// says how to go on; with --resume the scan goes on from its end, and the
// repair writes what a repair after a whole scan writes.
TEST_F(BadInput, StoppedScansIndexIsRefusedUnlessResumed) {
    StreamBuilder damaged = test::typicalStream(30);
    damaged.insert(damaged.blocks()[40].offset + 100, 300, 0x00);
    const std::string path = input("part.mpg", damaged.bytes());
    ASSERT_EQ(run("scan --save-index " + q(path)).status, 3);  // broken blocks found
    std::vector<uint8_t> index = readFile(path + ".index");
    index.resize(10 * kBlockRecordSize);
    const BlockRecord tenth = decodeBlockRecord(index.data() + 9 * kBlockRecordSize);
    BlockRecord closing;
    closing.offset = tenth.offset + Position(tenth.declaredSize);
    closing.broken = 's';
    index.resize(11 * kBlockRecordSize);
    ASSERT_TRUE(encodeBlockRecord(closing, index.data() + 10 * kBlockRecordSize));
    input("part.mpg.index", index);
    const std::string out = dir.file("out.mpg"), whole = dir.file("whole.mpg");
    const Outcome refused = run("repair --from-index " + q(path) + " -o " + q(out));
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(has(refused, "проверка была остановлена, поток пройден не до конца: " + path +
                                 ".index (the scan was stopped before the end of the stream)"))
        << refused.err;
    EXPECT_TRUE(has(refused, "--resume")) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(run("repair --resume " + q(path) + " -o " + q(out)).status, 2);
    const Outcome resumed = run("repair --from-index --resume " + q(path) + " -o " + q(out));
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    ASSERT_EQ(run("repair " + q(path) + " -o " + q(whole)).status, 0);
    EXPECT_EQ(readFile(out), readFile(whole));
    EXPECT_EQ(readFile(out), test::typicalStream(30).bytes());
}

// A FIFO as input: refused at once (no writer would ever come), with the
// file named.
TEST_F(BadInput, FifoInputIsRefusedWithoutHanging) {
    const std::string fifo = dir.file("fifo.mpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& command :
         {"scan " + q(fifo), "repair " + q(fifo) + " -o " + q(dir.file("out.mpg")),
          "repair --from-index " + q(fifo) + " -o " + q(dir.file("out.mpg"))}) {
        const Outcome o = run(command);
        EXPECT_EQ(o.status, 1) << command;
        EXPECT_NE(o.err.find("ошибка открытия файла: " + fifo + ": это не обычный файл"),
                  std::string::npos)
            << o.err;
    }
    const Outcome missing = run("scan " + q(dir.file("missing.mpg")));
    EXPECT_NE(missing.err.find("ошибка открытия файла: " + dir.file("missing.mpg") +
                               ": No such file or directory (cannot open the file)"),
              std::string::npos)
        << missing.err;
}

// Reads that fail as a failing disk's do: the job stops with the file, the
// position and the system's reason, and nothing is saved.
TEST_F(BadInput, ReadErrorsStopTheJob) {
    const std::string path = input("bad-reads.mpg", test::typicalStream(2000).bytes());
    const char* asan = std::getenv("ASAN_OPTIONS");
    // Each open reads the file's first and last MiB for its identity; the
    // check reads once and the scan its first window; the next read fails.
    const std::string failing = "ASAN_OPTIONS=" + std::string(asan ? asan : "") +
                                ":verify_asan_link_order=0 LD_PRELOAD='" FAILING_READS
                                "' MPGMEND_FAIL_READS=bad-reads MPGMEND_FAIL_READS_AFTER=6 ";
    const std::regex reported("ошибка чтения файла: " + path +
                              ": позиция [0-9']+: Input/output error \\(cannot read the file\\)");
    for (const std::string& command :
         {"scan " + q(path), "repair " + q(path) + " -o " + q(dir.file("out.mpg"))}) {
        const Outcome o = run(command, failing);
        EXPECT_EQ(o.status, 1) << command << ": " << o.err;
        EXPECT_TRUE(std::regex_search(o.err, reported)) << o.err;
        EXPECT_TRUE(o.out.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mpg")));
    // Failing from the first read, the open check reports it.
    const Outcome first =
        run("scan " + q(path), failing.substr(0, failing.find("MPGMEND_FAIL_READS_AFTER")));
    EXPECT_EQ(first.status, 1);
    EXPECT_NE(first.err.find("ошибка чтения файла: " + path + ": позиция 0: Input/output error"),
              std::string::npos)
        << first.err;
}

// A failed read of a video CD rip's stream names the position in the file,
// behind the RIFF header and the first sector's header, not in the stream.
TEST_F(BadInput, ReadErrorsOfARipNameTheFilePosition) {
    const std::string path = input("bad-reads.dat", test::readFile(test::fixture("vcd-mplex.dat")));
    const char* asan = std::getenv("ASAN_OPTIONS");
    // The open reads the file once for its identity and once for the head;
    // the check's read of stream byte 0 fails.
    const std::string failing = "ASAN_OPTIONS=" + std::string(asan ? asan : "") +
                                ":verify_asan_link_order=0 LD_PRELOAD='" FAILING_READS
                                "' MPGMEND_FAIL_READS=bad-reads MPGMEND_FAIL_READS_AFTER=2 ";
    const Outcome o = run("scan " + q(path), failing);
    EXPECT_EQ(o.status, 1);
    const uint64_t first = std::stoull(test::fixtureValues("vcd-dat.txt").at("data_offset")) + 24;
    EXPECT_NE(o.err.find("ошибка чтения файла: " + path + ": позиция " + std::to_string(first) +
                         ": Input/output error"),
              std::string::npos)
        << o.err;
}

// The preload that makes the 2 KiB at file position `at` of the files whose
// name holds `name` a bad sector, once `armed` bytes of them have been read.
std::string badSector(const std::string& name, uint64_t at, uint64_t armed = 0) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + std::string(asan ? asan : "") +
           ":verify_asan_link_order=0 LD_PRELOAD='" FAILING_READS "' MPGMEND_FAIL_READS=" + name +
           " MPGMEND_FAIL_READS_AT=" + std::to_string(at) +
           " MPGMEND_FAIL_READS_ARMED=" + std::to_string(armed) + " ";
}

// A position as the texts show it: 38'912.
std::string grouped(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text.push_back('\'');
        text.push_back(digits[i]);
    }
    return text;
}

// A sector that goes bad after the scan read it, whatever reads it next: the
// save of a repaired block, the index file, a rip's sectors, or the head of
// a rip to be wrapped again. Each says the file, the position and the
// system's reason, and writes nothing.
TEST_F(BadInput, ReadErrorsAfterTheScanNameTheFileAndThePosition) {
    // The bytes of a file that a scan of it reads: a repair has read as
    // many when its save begins.
    const auto bytesScanned = [&](const std::string& path) {
        const std::string count = dir.file("count.txt");
        run("scan " + q(path),
            badSector(path, uint64_t{1} << 50) + "MPGMEND_FAIL_READS_COUNT=" + q(count) + " ");
        const std::vector<uint8_t> text = readFile(count);
        std::filesystem::remove(count);
        return std::stoull(std::string(text.begin(), text.end()));
    };
    StreamBuilder b = test::typicalStream(40);
    size_t video = 3;
    while (b.blocks()[video].offset < 38'000) video += 3;
    b.insert(b.blocks()[video].offset + 100, 300, 0x00);
    const std::string path = input("sectors.mpg", b.bytes());
    const uint64_t bad = b.blocks()[video].offset + 1024;
    const std::string out = dir.file("out.mpg");
    for (const char* strategy : {"sizes", "eq"}) {
        const Outcome o =
            run("repair " + q(path) + " --apply=" + std::string(strategy) + " -o " + q(out),
                badSector("sectors.mpg", bad, bytesScanned(path)));
        EXPECT_EQ(o.status, 1) << strategy;
        EXPECT_TRUE(has(o, "ошибка чтения файла: " + path + ": позиция " + grouped(bad) +
                               ": Input/output error"))
            << strategy << ": " << o.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    const Outcome dump = run("dump " + q(path) + " --block " + std::to_string(video),
                             badSector("sectors.mpg", bad, bytesScanned(path)));
    EXPECT_EQ(dump.status, 1);
    EXPECT_TRUE(has(dump, "ошибка чтения файла: " + path + ": позиция " + grouped(bad) +
                              ": Input/output error"))
        << dump.err;
    ASSERT_EQ(run("scan --save-index " + q(path)).status, 3);
    files.emplace_back(path + ".index", readFile(path + ".index"));
    const Outcome index = run("repair --from-index " + q(path) + " -o " + q(out),
                              badSector("sectors.mpg.index", 2 * kBlockRecordSize));
    EXPECT_EQ(index.status, 1);
    EXPECT_TRUE(has(index, "ошибка чтения файла: " + path + ".index: позиция " +
                               std::to_string(2 * kBlockRecordSize) + ": Input/output error"))
        << index.err;

    const std::string rip = input("bad-sectors.dat", readFile(test::fixture("vcd-mplex.dat")));
    const uint64_t inRip =
        std::stoull(test::fixtureValues("vcd-dat.txt").at("data_offset")) + 10 * 2352 + 24 + 100;
    const Outcome dat = run("repair " + q(rip) + " -o " + q(out),
                            badSector("bad-sectors.dat", inRip, bytesScanned(rip)));
    EXPECT_EQ(dat.status, 1);
    EXPECT_TRUE(has(dat, "ошибка чтения файла: " + rip + ": позиция " + grouped(inRip) +
                             ": Input/output error"))
        << dat.err;
    const Outcome wrap = run("repair --wrap-dat " + q(rip) + " -o " + q(dir.file("out.dat")),
                             badSector("bad-sectors.dat", 0));
    EXPECT_EQ(wrap.status, 1);
    EXPECT_TRUE(has(wrap, "ошибка чтения файла: " + rip + ": позиция 0: Input/output error"))
        << wrap.err;
    EXPECT_EQ(names(),
              (std::vector<std::string>{"bad-sectors.dat", "sectors.mpg", "sectors.mpg.index"}));
}

// Standard output that takes nothing more (a full disk): whatever the
// command prints there, it stops with the reason and exit 1.
TEST_F(BadInput, StandardOutputThatFailsStopsTheCommand) {
    StreamBuilder b = test::typicalStream(20);
    // A run that is not the whole excess: the plain repair leaves the block listed.
    b.insert(b.blocks()[10].offset + 100, 300, 0x00);
    b.insert(b.blocks()[10].offset + 50, 7, 0xAA);
    const std::string path = input("full.mpg", b.bytes());
    for (const std::string& command :
         {std::string("--help"), "scan " + q(path), "scan --json " + q(path),
          "repair --dry-run " + q(path), "repair --apply auto --dry-run " + q(path),
          "dump --block 10 " + q(path),
          "repair --force " + q(path) + " -o " + q(dir.file("out.mpg"))}) {
        const Outcome o = run(command, "", "/dev/full");
        EXPECT_EQ(o.status, 1) << command << ": " << o.err;
        EXPECT_TRUE(has(o, "ошибка записи в стандартный вывод: No space left on device"))
            << command << ": " << o.err;
    }
}

// Memory that runs out (an address space limit under a table of two
// million blocks): the job stops, says so and exits 1, and leaves nothing
// behind. The limit leaves the table about 70 MB beyond what the program
// maps at its start (about 175 MB, most of it libavcodec and the libraries
// it links). The sanitizers reserve more address space than the limit allows.
TEST_F(BadInput, OutOfMemoryIsToldAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit an address space limit";
#endif
    StreamBuilder head;
    head.pack().systemHeader({0xE0, 0xC0});
    std::vector<uint8_t> bytes = head.bytes();
    const std::vector<uint8_t> pack = StreamBuilder().pack().bytes();
    while (bytes.size() < (size_t{24} << 20)) bytes.insert(bytes.end(), pack.begin(), pack.end());
    const std::string path = input("packs.mpg", bytes);
    for (const std::string& command :
         {"scan " + q(path), "scan --save-index " + q(path),
          "repair " + q(path) + " --apply auto --report " + q(dir.file("r.json")) + " -o " +
              q(dir.file("out.mpg"))}) {
        const Outcome o = run(command, "ulimit -v 240000; ");
        EXPECT_EQ(o.status, 1) << command << ": " << o.err;
        EXPECT_TRUE(has(o, "не хватает памяти (not enough memory)")) << command << ": " << o.err;
    }
    EXPECT_EQ(names(), std::vector<std::string>{"packs.mpg"});
}

// Another program changes the input between the scan and the save (before
// the third open: the check and the scan opened it), or a piece between its
// check and its copy: the job stops with "входной файл изменился во время
// работы" naming that file, and nothing takes the output's name.
TEST_F(BadInput, AnInputChangedBetweenJobsIsNotWritten) {
    const std::vector<uint8_t> sound = readFile(test::fixture("vcd.mpg"));
    const std::string in = dir.file("in.mpg"), piece = dir.file("piece.mpg");
    const std::string out = dir.file("out.mpg");
    const std::string inPlace = "cp -p " + q(in) + " " + q(dir.file("ref.mpg")) +
                                " && printf XXXXXXXX | dd of=" + q(in) +
                                " bs=1 seek=40 conv=notrunc status=none && touch -r " +
                                q(dir.file("ref.mpg")) + " " + q(in);
    const std::string replaced = "head -c " + std::to_string(sound.size()) + " /dev/urandom > " +
                                 q(dir.file("new.mpg")) + " && mv " + q(dir.file("new.mpg")) + " " +
                                 q(in);
    struct Case {
        std::string change, args, changed;
        int atOpen;  // of the file changed
    };
    const std::vector<Case> cases = {
        {inPlace, "repair " + q(in) + " -o " + q(out), in, 3},
        {replaced, "repair " + q(in) + " --apply auto -o " + q(out), in, 3},
        {"truncate -s 1000 " + q(piece), "join --glue " + q(in) + " " + q(piece) + " -o " + q(out),
         piece, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        dir.write("in.mpg", sound);
        dir.write("piece.mpg", sound);
        dir.write("change.sh", std::vector<uint8_t>(c.change.begin(), c.change.end()));
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string changing =
            "ASAN_OPTIONS=" + std::string(asan ? asan : "") +
            ":verify_asan_link_order=0 LD_PRELOAD='" FAILING_READS "' MPGMEND_RUN_AT_OPEN_OF=" +
            q(c.changed) + " MPGMEND_RUN_AT_OPEN='sh " + dir.file("change.sh") +
            "' MPGMEND_RUN_AT_OPEN_COUNT=" + std::to_string(c.atOpen) + " ";
        const Outcome o = run(c.args, changing);
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_TRUE(has(o, "входной файл изменился во время работы: " + c.changed)) << o.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// A stream cut inside its last packet: that block is listed with the bytes
// the file holds.
TEST_F(BadInput, BlockCutShortIsListed) {
    StreamBuilder b = test::typicalStream(5);
    auto bytes = b.bytes();
    bytes.resize(bytes.size() - 104);  // the end code and 100 bytes of the last audio packet
    const std::string path = input("cut.mpg", bytes);
    const Outcome o = run("scan " + q(path));
    EXPECT_EQ(o.status, 3) << o.err;  // broken blocks found
    const BuiltBlock& last = b.blocks()[b.blocks().size() - 2];
    EXPECT_EQ(o.out, "1\t" + std::to_string(b.blocks().size() - 2) + "\t000001C0\t" +
                         std::to_string(last.offset) + "\t406\t306\t-100\t1(" +
                         std::string(1, "0123456789ABCDEF"[bytes[last.offset + 6] >> 4]) +
                         std::string(1, "0123456789ABCDEF"[bytes[last.offset + 6] & 15]) +
                         ") at 6\n");
}

}  // namespace
}  // namespace mpg
