#include "repair/writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <thread>
#include <utility>

#include "repair/strategies.h"
#include "stream/file_io.h"
#include "support/recording_sink.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

using test::readFile;
using test::StreamBuilder;

const std::vector<uint8_t> kEnd = {0x00, 0x00, 0x01, 0xB9};

class WriterTest : public ::testing::Test {
  protected:
    // Scans `bytes` as the input file.
    void scan(const std::vector<uint8_t>& bytes) {
        input = bytes;
        ASSERT_TRUE(s.scan(dir.write("in.mpg", bytes)));
    }
    bool save(const std::string& out = "") {
        output = out.empty() ? dir.file("out.mpg") : out;
        test::GridSink sink(s.grid);
        return saveWith(sink);
    }
    // save() through `sink`, into `output`.
    bool saveWith(JobSink& sink) {
        SaveParams params{s.path, output};
        params.existing = existing;
        failure = saveRepairedStream(s.state, params, sink);
        s.state.view.closeFile();
        EXPECT_EQ(readFile(s.path), input) << "the input must never change";
        return !failure;
    }
    std::vector<uint8_t> written() const { return readFile(output); }
    // Why the last save() failed; none when it saved.
    Failure failure;
    // Whether save() may replace a file at the output's name.
    Existing existing = Existing::Replace;
    static std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    // The bytes closed by one end code, unless they end with one.
    static std::vector<uint8_t> closed(std::vector<uint8_t> a) {
        if (a.size() >= kEnd.size() && std::equal(kEnd.begin(), kEnd.end(), a.end() - 4)) return a;
        return concat(std::move(a), kEnd);
    }
    // A stream whose packet 3 (0xE0, declared 1000 bytes) has `extra` bytes
    // of a non-zero pattern inserted (or, when negative, bytes deleted).
    static StreamBuilder oneBrokenPacket(long extra) {
        StreamBuilder b;
        b.pack()
            .systemHeader({0xE0, 0xC0})
            .pack()
            .packet(0xE0, 994)
            .pack()
            .packet(0xC0, 200)
            .endCode();
        const size_t at = b.blocks()[3].offset + 500;
        if (extra > 0) {
            auto run = StreamBuilder::pattern(static_cast<size_t>(extra), 0x03);
            b.insertBytes(at, run);
        } else {
            b.erase(at, static_cast<size_t>(-extra));
        }
        return b;
    }

    test::TempDir dir;
    test::Scanned s;
    std::vector<uint8_t> input;
    std::string output;
};

// A stream that ends with an end code is copied as it is; the strict walk
// appends one more, as it always did. One without gets one.
TEST_F(WriterTest, SoundStreamIsCopiedAsItIs) {
    scan(test::typicalStream(20).bytes());
    ASSERT_TRUE(save());
    EXPECT_EQ(written(), input);
    s.state.codes = StreamCodes{StreamRules::Literal};
    ASSERT_TRUE(save());
    EXPECT_EQ(written(), concat(input, kEnd));

    const std::vector<uint8_t> whole = input;
    std::vector<uint8_t> open = whole;
    open.resize(open.size() - kEnd.size());
    scan(open);
    ASSERT_TRUE(save());
    EXPECT_EQ(written(), whole);
}

TEST_F(WriterTest, RealSizeIntoTheHeader) {
    scan(oneBrokenPacket(100).bytes());
    ASSERT_EQ(s.state.table[3].realSize, 1100);
    ASSERT_TRUE(save());
    const auto out = written();
    ASSERT_EQ(out.size(), closed(input).size());
    const size_t block = s.state.table[3].offset;
    EXPECT_EQ(out[block + 4], 0x04);
    EXPECT_EQ(out[block + 5], 0x46);
    auto expect = closed(input);
    expect[block + 4] = 0x04;
    expect[block + 5] = 0x46;
    EXPECT_EQ(out, expect);
}

TEST_F(WriterTest, RealSizeIntoTheHeaderModulo65536) {
    scan(oneBrokenPacket(69'000).bytes());
    ASSERT_EQ(s.state.table[3].realSize, 70'000);
    ASSERT_TRUE(save());
    const auto out = written();
    const size_t block = s.state.table[3].offset;
    EXPECT_EQ(out[block + 4], 0x11);
    EXPECT_EQ(out[block + 5], 0x6A);
    EXPECT_EQ(out.size(), closed(input).size());
}

TEST_F(WriterTest, CutOrPadToTheDeclaredSize) {
    scan(oneBrokenPacket(100).bytes());
    s.state.headerFromRealSize = false;
    ASSERT_TRUE(save());
    auto expect = input;
    const size_t block = s.state.table[3].offset;
    expect.erase(expect.begin() + static_cast<ptrdiff_t>(block + 1000),
                 expect.begin() + static_cast<ptrdiff_t>(block + 1100));
    EXPECT_EQ(written(), closed(expect));

    scan(oneBrokenPacket(-100).bytes());
    ASSERT_EQ(s.state.table[3].realSize, 900);
    ASSERT_TRUE(save());
    expect = input;
    expect.insert(expect.begin() + static_cast<ptrdiff_t>(block + 900), 100, 0x00);
    EXPECT_EQ(written(), closed(expect));
}

// A packet cut down to its 6 header bytes: its length field is the last
// thing in the block, and the block is written exactly once.
TEST_F(WriterTest, BlockOfExactlyItsHeader) {
    StreamBuilder b = test::typicalStream(4);
    const size_t at = b.blocks()[3].offset;
    b.erase(at + 6, b.blocks()[3].size - 6);
    scan(b.bytes());
    ASSERT_EQ(s.state.table[3].broken, kBrokenListed);
    ASSERT_EQ(s.state.table[3].realSize, 6);
    ASSERT_TRUE(save());
    auto expect = closed(input);
    expect[at + 4] = expect[at + 5] = 0x00;
    EXPECT_EQ(written(), expect);

    s.state.headerFromRealSize = false;  // padded to its declared size instead
    ASSERT_TRUE(save());
    expect = input;
    expect.insert(expect.begin() + static_cast<ptrdiff_t>(at + 6), b.blocks()[3].size - 6, 0x00);
    EXPECT_EQ(written(), closed(expect));
}

TEST_F(WriterTest, BrokenPackHeaderKeepsItsRealBytes) {
    StreamBuilder b = test::typicalStream(3);
    b.insertBytes(b.blocks()[5].offset + 12, StreamBuilder::pattern(30, 0x03));
    scan(b.bytes());
    ASSERT_EQ(s.state.table[5].realSize, 42);
    for (bool fa : {true, false}) {
        s.state.headerFromRealSize = fa;
        ASSERT_TRUE(save());
        EXPECT_EQ(written(), closed(input)) << fa;
    }
}

TEST_F(WriterTest, BlocksLongerThanTheCacheAreWrittenWhole) {
    StreamBuilder b = test::typicalStream(3);
    b.insertBytes(b.blocks()[6].offset + 100, StreamBuilder::pattern(3'000'000, 0x03));
    scan(b.bytes());
    ASSERT_GT(s.state.table[6].realSize, 3'000'000);
    ASSERT_TRUE(save());
    auto expect = closed(input);
    const uint16_t length = static_cast<uint16_t>(s.state.table[6].realSize - 6);
    expect[s.state.table[6].offset + 4] = static_cast<uint8_t>(length >> 8);
    expect[s.state.table[6].offset + 5] = static_cast<uint8_t>(length);
    EXPECT_EQ(written(), expect);
}

TEST_F(WriterTest, ABlockLargerThanACopySpan) {
    StreamBuilder b = test::typicalStream(2);
    b.insertBytes(b.blocks()[2].offset + 12, StreamBuilder::pattern(70'000'000, 0x03));
    scan(b.bytes());
    ASSERT_EQ(s.state.table[2].realSize, 70'000'012);
    ASSERT_TRUE(save());
    EXPECT_EQ(written(), closed(input));
}

// A broken block with real size 0, as scans once recorded a search that
// reached the end of the file (index files may still hold one).
TEST_F(WriterTest, UnknownExtentIsWrittenAsDeclared) {
    StreamBuilder b;
    b.pack().systemHeader({0xE0}).pack().packet(0xE0, 200).raw(StreamBuilder::pattern(50, 0x03));
    scan(b.bytes());
    ASSERT_EQ(s.state.table[3].broken, kBrokenListed);
    s.state.table.clearErrorFields(3);
    s.state.table[3].broken = kBrokenListed;
    for (bool fa : {true, false}) {
        s.state.headerFromRealSize = fa;
        ASSERT_TRUE(save());
        // The 50 bytes behind the block belong to no block and are not written.
        auto expect = std::vector<uint8_t>(input.begin(), input.end() - 50);
        EXPECT_EQ(written(), closed(expect)) << fa;
    }
}

TEST_F(WriterTest, OutputThatIsTheInputIsRefused) {
    scan(test::typicalStream(3).bytes());
    const std::string link = dir.file("hard.mpg"), sym = dir.file("sym.mpg");
    ASSERT_EQ(::link(s.path.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink(s.path.c_str(), sym.c_str()), 0);
    for (const std::string& out : {s.path, link, sym, dir.path() + "/./in.mpg"}) {
        EXPECT_FALSE(save(out)) << out;  // save() checks the input is unchanged
        EXPECT_EQ(failure.kind, FailureKind::OutputIsInput);
        EXPECT_EQ(saveResultText(failure), std::string("выходной файл совпадает с входным"));
    }
    EXPECT_EQ(test::listFolder(dir.path()),
              (std::vector<std::string>{"hard.mpg", "in.mpg", "sym.mpg"}));
}

// A write that fails is reported with its reason and leaves nothing behind;
// a file the save was to replace stays whole.
TEST_F(WriterTest, WriteFailureIsReported) {
    scan(test::typicalStream(200).bytes());
    const std::vector<uint8_t> old(150'000, 0x5A);
    const std::string target = dir.write("limited.mpg", old);
    // In a child process, so that the limit does not reach the tests. The
    // programs ignore SIGXFSZ at start-up; the child does the same.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100'000, 100'000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        test::GridSink sink(s.grid);
        const Failure f = saveRepairedStream(s.state, {s.path, target}, sink);
        ::_exit(!f ? 0 : f.kind == FailureKind::WriteFailed && f.systemError == EFBIG ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(readFile(s.path), input);
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"in.mpg", "limited.mpg"}));
}

// A file at the output's name, there before or come while the save runs, is
// replaced only when the user asked for that, and never by a stop: a stopped
// save keeps the blocks written so far (without end code) beside it, under a
// name whose file it replaces only when asked too. A stop asked before the
// save began writes nothing. No temporary file stays.
TEST_F(WriterTest, AFileAtTheOutputsNameIsReplacedOnlyWhenAskedAndNeverByAStop) {
    scan(test::typicalStream(10).bytes());
    output = dir.file("out.mpg");
    const std::string partial = output + ".partial";
    const std::vector<uint8_t> old(100'000, 0x5A), head(input.begin(), input.begin() + 12);
    s.state.job.stopRequested = true;
    EXPECT_FALSE(save());
    EXPECT_EQ(failure.kind, FailureKind::Stopped);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"in.mpg"});
    using enum FailureKind;
    struct Case {
        bool before, meanwhile, partialThere, stop;
        Existing existing;
        FailureKind kind;
        const char* name;  // the failure's, where a stop's bytes are kept
    };
    const Case cases[] = {
        Case{true, false, false, false, Existing::Keep, OutputExists, "out.mpg"},
        Case{false, true, false, false, Existing::Keep, OutputExists, "out.mpg"},
        Case{false, true, false, false, Existing::Replace, None, "out.mpg"},
        Case{false, false, false, true, Existing::Keep, Stopped, "out.mpg"},
        Case{true, false, true, true, Existing::Replace, Stopped, "out.mpg.partial"},
        Case{false, true, false, true, Existing::Keep, Stopped, "out.mpg.partial"},
        Case{false, true, true, true, Existing::Keep, OutputExists, "out.mpg.partial"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        for (const std::string& name : {output, partial}) ::unlink(name.c_str());
        const auto place = [&] {
            dir.write("out.mpg", old);
            if (c.partialThere) dir.write("out.mpg.partial", old);
        };
        if (c.before) place();
        existing = c.existing;
        s.state.job.stopRequested = false;
        test::ActAtFirstProgress sink(s.grid, [&] {
            if (c.meanwhile) place();
            s.state.job.stopRequested = c.stop;
        });
        saveWith(sink);
        EXPECT_EQ(failure.kind, c.kind);
        const bool keptBeside = c.kind == Stopped && dir.file(c.name) == partial;
        std::vector<std::string> left = {"in.mpg", "out.mpg"};
        if (c.partialThere || keptBeside) left.push_back("out.mpg.partial");
        EXPECT_EQ(test::listFolder(dir.path()), left);
        if (c.before || c.meanwhile) {
            EXPECT_EQ(written(), c.kind == None ? closed(input) : old);
        }
        if (c.kind == None) continue;
        EXPECT_EQ(failure.path, dir.file(c.name));
        if (c.kind == OutputExists) {
            EXPECT_EQ(saveResultText(failure), std::string("файл уже существует и не заменён"));
            EXPECT_EQ(readFile(dir.file(c.name)), old);
        } else {
            EXPECT_EQ(readFile(dir.file(c.name)), head);
            EXPECT_EQ(failureDetail(failure), ": " + dir.file(c.name) + ": 12 байт");
        }
    }
}

// Outputs that are no regular file are written directly, never through a
// temporary file and a rename: /dev/null stays the device, a FIFO gets the
// stream (or, without a reader, fails at once instead of hanging).
TEST_F(WriterTest, OutputsThatAreNoRegularFile) {
    scan(test::typicalStream(200).bytes());
    ASSERT_TRUE(save("/dev/null"));
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(save(fifo));
    EXPECT_EQ(failure.kind, FailureKind::WriteFailed);
    EXPECT_EQ(failure.systemError, ENXIO);

    // With a reader that waits a moment before it reads: more than a pipe
    // holds, so a write left non-blocking would fail with EAGAIN.
    std::vector<uint8_t> got;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        ::usleep(100'000);
        uint8_t buf[65536];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.insert(got.end(), buf, buf + n);
        ::close(fd);
    });
    bool saved = false;
    do {  // until the reader has opened its end
        saved = save(fifo);
    } while (!saved && failure.systemError == ENXIO);
    if (!saved) ::close(::open(fifo.c_str(), O_WRONLY));  // the reader gets its end of file
    reader.join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(got, closed(input));
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A stage in front of the writer sees every byte however it is appended,
// and sets its header last: in the buffer for a short output, in the file
// for a long one; a FIFO cannot take it.
class CountingStage : public OutputStage {
  public:
    bool take(OutputFile& out, const uint8_t* bytes, size_t count) override {
        const uint8_t none[4] = {};
        if (taken_ == 0 && !headed_ && !(headed_ = out.appendThrough(none, 4))) return false;
        taken_ += count;
        return out.appendThrough(bytes, count);
    }
    bool close(OutputFile& out) override {
        const uint8_t size[4] = {uint8_t(taken_), uint8_t(taken_ >> 8), uint8_t(taken_ >> 16),
                                 uint8_t(taken_ >> 24)};
        return out.overwrite(0, size, 4);
    }
    uint64_t taken() const override { return taken_; }

  private:
    uint64_t taken_ = 0;
    bool headed_ = false;
};

TEST(OutputStage, TakesEveryAppendAndSetsItsHeaderLast) {
    test::TempDir dir;
    std::vector<uint8_t> source(3 * OutputFile::kBuffer);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const std::string from = dir.write("source.bin", source);
    const int fd = ::open(from.c_str(), O_RDONLY);
    for (const size_t length : {size_t{1000}, source.size()}) {
        SCOPED_TRACE(length);
        CountingStage stage;
        OutputFile out;
        ASSERT_FALSE(out.create(dir.file("out.bin"), {from}, Existing::Replace));
        out.setStage(&stage);
        const size_t quarter = length / 4;
        ASSERT_TRUE(out.append(source.data(), quarter));
        ASSERT_TRUE(out.appendZeros(quarter));
        ASSERT_TRUE(out.appendHeld(source.data() + 2 * quarter, quarter, fd, 2 * quarter));
        ASSERT_EQ(out.copyFrom(fd, 3 * quarter, length - 3 * quarter, from),
                  static_cast<int64_t>(length - 3 * quarter));
        EXPECT_EQ(out.written(), length);
        EXPECT_EQ(out.writtenThrough(), length + 4);
        ASSERT_FALSE(out.finish());
        std::vector<uint8_t> expected = {uint8_t(length), uint8_t(length >> 8),
                                         uint8_t(length >> 16), uint8_t(length >> 24)};
        expected.insert(expected.end(), source.begin(), source.begin() + quarter);
        expected.insert(expected.end(), quarter, 0);
        expected.insert(expected.end(), source.begin() + 2 * quarter, source.begin() + length);
        EXPECT_TRUE(readFile(dir.file("out.bin")) == expected);
    }
    ::close(fd);
    EXPECT_TRUE(readFile(from) == source);

    // A FIFO cannot seek back to a header it has passed on: the output fails.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::thread reader([&] {
        const int r = ::open(fifo.c_str(), O_RDONLY);
        uint8_t buf[4096];
        while (::read(r, buf, sizeof buf) > 0) {
        }
        ::close(r);
    });
    OutputFile out;
    CountingStage stage;
    bool created = false;
    while (!(created = !out.create(fifo, {}, Existing::Keep)) && out.failure().systemError == ENXIO)
        ::usleep(1000);
    ASSERT_TRUE(created);
    out.setStage(&stage);
    EXPECT_TRUE(out.append(source.data(), source.size()));
    const Failure finished = out.finish();
    EXPECT_EQ(finished.kind, FailureKind::WriteFailed);
    EXPECT_EQ(finished.systemError, ESPIPE);
    reader.join();
}

// A regular file that no folder holds (a memfd, reached through /proc) has
// no name to rename onto: it is emptied and written directly.
TEST_F(WriterTest, OutputThatNoFolderHolds) {
    scan(test::typicalStream(5).bytes());
    const int fd = ::memfd_create("out", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t> old(100'000, 0x5A);
    ASSERT_EQ(::write(fd, old.data(), old.size()), static_cast<ssize_t>(old.size()));
    ASSERT_TRUE(save("/proc/self/fd/" + std::to_string(fd)));
    EXPECT_EQ(written(), closed(input));
    ::close(fd);
}

// The output's folder removed while the save runs: the rename at the end
// fails and is reported, never "файл сохранён".
TEST_F(WriterTest, RemovedOutputFolderIsReported) {
    scan(test::typicalStream(50).bytes());
    const std::string folder = dir.file("sub");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    struct Remover : test::GridSink {
        using GridSink::GridSink;
        void notify(const Notice& n) override {
            if (n.kind == Notify::Progress && !done) {
                for (const std::string& name : test::listFolder(folder))
                    ::unlink((folder + "/" + name).c_str());
                done = ::rmdir(folder.c_str()) == 0;
            }
        }
        bool refreshProgress() override {
            countdown_ = 1;
            return true;
        }
        std::string folder;
        bool done = false;
    } sink(s.grid);
    sink.folder = folder;
    const Failure f = saveRepairedStream(s.state, {s.path, folder + "/out.mpg"}, sink);
    s.state.view.closeFile();
    EXPECT_TRUE(sink.done);
    EXPECT_EQ(f.kind, FailureKind::RenameFailed);
    EXPECT_EQ(saveResultText(f), std::string("ошибка сохранения файла"));
    EXPECT_EQ(failureDetail(f), ": " + folder + "/out.mpg: No such file or directory");
    EXPECT_EQ(readFile(s.path), input);
}

// A 1 GB input cut to 500 MB during the save once gave "файл сохранён" over
// invented zeros. An input that changed since the scan, or while the save
// runs, fails the save, and the output is removed.
TEST_F(WriterTest, InputChangedIsReported) {
    scan(test::typicalStream(50).bytes());
    ASSERT_EQ(::truncate(s.path.c_str(), static_cast<off_t>(input.size() / 2)), 0);
    input.resize(input.size() / 2);  // cut here on purpose, not by the save
    EXPECT_FALSE(save());
    EXPECT_EQ(failure.kind, FailureKind::InputChanged);
    EXPECT_FALSE(std::filesystem::exists(output));

    scan(test::typicalStream(50).bytes());
    struct Cutter : test::GridSink {
        using GridSink::GridSink;
        void notify(const Notice& n) override {
            if (n.kind == Notify::Progress && !path.empty()) {
                // The same length, other bytes: only the time tells.
                const std::vector<uint8_t> other(size, 0x47);
                FILE* f = std::fopen(path.c_str(), "r+b");
                ASSERT_NE(f, nullptr);
                std::fwrite(other.data(), 1, other.size(), f);
                std::fclose(f);
                path.clear();
            }
        }
        bool refreshProgress() override {
            countdown_ = 1;
            return true;
        }
        std::string path;
        size_t size = 0;
    } sink(s.grid);
    sink.path = s.path;
    sink.size = input.size();
    ::usleep(20'000);  // a new modification time even on coarse clocks
    failure = saveRepairedStream(s.state, {s.path, output}, sink);
    s.state.view.closeFile();
    EXPECT_EQ(failure.kind, FailureKind::InputChanged);
    EXPECT_EQ(saveResultText(failure), std::string("входной файл изменился во время работы"));
    EXPECT_FALSE(std::filesystem::exists(output));
    input = readFile(s.path);  // changed here on purpose, not by the save
}

TEST_F(WriterTest, AbsurdTablesFailWithoutFiller) {
    scan(test::typicalStream(5).bytes());
    const auto sane = s.state.table.entries();
    const auto tryWith = [&](BlockRecord e) {
        auto entries = sane;
        entries[3] = e;
        s.state.table.assign(entries);
        EXPECT_FALSE(save());
        EXPECT_LT(written().size(), input.size() + 70'000u);
    };
    tryWith({40, 0x1E0, -5});                                       // negative size
    tryWith({4'000'000'000u, 0x1E0, 100});                          // far beyond the file
    tryWith({40, 0x1E0, 100, 2'000'000'000, 0, 0, kBrokenListed});  // a huge real size
    auto entries = sane;  // many blocks that each repeat the stream
    const auto size = static_cast<int32_t>(input.size());
    for (int i = 0; i < 50; ++i) entries.push_back({0, 0x1BA, size, size, 0, 0, kBrokenAccepted});
    s.state.table.assign(entries);
    EXPECT_FALSE(save());
    EXPECT_LT(written().size(), 2 * input.size() + 70'000u);
    entries = sane;  // many blocks that would be padded to their declared size
    s.state.headerFromRealSize = false;
    for (int i = 0; i < 50; ++i) entries.push_back({40, 0x1E0, 65'000, 6, 0, 0, kBrokenListed});
    s.state.table.assign(entries);
    EXPECT_FALSE(save());
    EXPECT_LT(written().size(), 2 * input.size() + 140'000u);
}

TEST_F(WriterTest, ProgressCountsBlocks) {
    StreamBuilder b;
    b.pack().systemHeader({0xE0});
    for (int i = 0; i < 524; ++i) b.pack().packet(0xE0, 20);
    scan(b.bytes());
    ASSERT_EQ(s.state.table.size(), 1050u);
    struct Last : test::GridSink {
        using GridSink::GridSink;
        void notify(const Notice& n) override {
            if (n.kind == Notify::Progress) {
                last = n.payload;
                text = progressLine(n);
            }
        }
        bool refreshProgress() override {
            countdown_ = 1;
            return true;
        }
        int32_t last = -1;
        std::string text;
    } sink(s.grid);
    ASSERT_FALSE(saveRepairedStream(s.state, {s.path, dir.file("p.mpg")}, sink));
    s.state.view.closeFile();
    EXPECT_EQ(sink.last, 105);
    EXPECT_EQ(sink.text, "1'050 >> 1'050");
}

// The temporary files that killed writers left behind are removed by the
// next writer in their folder: only regular files named exactly like them,
// whose process is gone and which were written before the run began.
TEST(OutputFile, RemovesOnlyTheTemporaryFilesOfGoneWriters) {
    test::TempDir dir;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string tmp = kTemporaryPrefix, gone = tmp + std::to_string(child);
    std::vector<std::string> stale = {gone + "-abc123-film.mpg", gone + "-0a1b2c-x"};
    std::vector<std::string> kept = {tmp + std::to_string(::getppid()) + "-abc123-a.mpg",
                                     tmp + std::to_string(::getpid()) + "-abc123-a.mpg",
                                     gone + "-abc12-a.mpg",
                                     gone + "-abC123-a.mpg",
                                     gone + "-abc123-",
                                     gone + "-abc123a.mpg",
                                     gone + "x-abc123-a.mpg",
                                     tmp + "0" + gone.substr(tmp.size()) + "-abc123-a.mpg",
                                     "x" + gone + "-abc123-a.mpg",
                                     ".a.mpg.abc123",
                                     gone + "-abc123-folder",
                                     gone + "-abc123-link"};
    ASSERT_EQ(::mkdir(dir.file(kept[kept.size() - 2]).c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.mpg", dir.file(kept.back()).c_str()), 0);
    const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    for (const auto* names : {&stale, &kept}) {
        for (const std::string& name : *names) {
            struct stat st {};
            if (::lstat(dir.file(name).c_str(), &st) != 0) dir.write(name, {1});
            ::utimensat(AT_FDCWD, dir.file(name).c_str(), old, AT_SYMLINK_NOFOLLOW);
        }
    }
    kept.push_back(gone + "-zzz999-new.mpg");  // written since the run began
    dir.write(kept.back(), {1});
    OutputFile out;
    ASSERT_FALSE(out.create(dir.file("out.mpg"), {}, Existing::Keep));
    ASSERT_FALSE(out.finish());
    kept.push_back("out.mpg");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(test::listFolder(dir.path()), kept);
}

}  // namespace
}  // namespace mpg
