#include "join/join.h"
#include "join/precheck.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include <filesystem>

#include "support/recording_sink.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

// How a join ended, as these tests tell it from its failure.
enum class JoinResult { Done, Failed, Stopped };
JoinResult endedBy(const Failure& f) {
    return !f                               ? JoinResult::Done
           : f.kind == FailureKind::Stopped ? JoinResult::Stopped
                                            : JoinResult::Failed;
}

using test::readFile;
using test::StreamBuilder;

const std::vector<uint8_t> kEnd = {0x00, 0x00, 0x01, 0xB9};

class JoinTest : public ::testing::Test {
  protected:
    struct Messages : test::RecordingSink {
        using RecordingSink::RecordingSink;
        void reportRefusal(const Failure& why) override {
            messages.push_back(joinRefusalText(why));
        }
        std::vector<std::string> messages;
    };

    std::string input(const std::vector<uint8_t>& bytes) {
        inputs.push_back(bytes);
        return dir.write("in" + std::to_string(inputs.size()) + ".mpg", bytes);
    }
    JoinResult join(const std::vector<std::string>& paths, bool glue = false) {
        params.inputs = paths;
        params.output = dir.file("out.mpg");
        params.existing = Existing::Replace;  // one output, joined again and again
        failure =
            glue ? glueFiles(state.job, params, sink) : joinStructured(state.job, params, sink);
        const JoinResult r = endedBy(failure);
        for (const auto& bytes : inputs) {
            const std::string path =
                dir.file("in" + std::to_string(&bytes - inputs.data() + 1) + ".mpg");
            EXPECT_EQ(readFile(path), bytes) << "inputs never change";
        }
        return r;
    }
    std::vector<uint8_t> output() const { return readFile(params.output); }
    // Why the last join() failed; none when it was done.
    Failure failure;
    static std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    // A piece: pack, system header listing E0 and C0, packets, end code.
    static StreamBuilder piece(int packs, bool end = true) {
        StreamBuilder b;
        b.pack().systemHeader({0xE0, 0xC0});
        for (int i = 0; i < packs; ++i) b.pack().packet(0xE0, 500).packet(0xC0, 100);
        if (end) b.endCode();
        return b;
    }
    static std::vector<uint8_t> withoutEnd(const StreamBuilder& b) {
        return std::vector<uint8_t>(b.bytes().begin(), b.bytes().end() - 4);
    }

    test::TempDir dir;
    AppState state;
    Messages sink;
    JoinParams params;
    std::vector<std::vector<uint8_t>> inputs;
};

TEST_F(JoinTest, InnerEndCodesGiveWayToOne) {
    const StreamBuilder a = piece(3), b = piece(2), c = piece(1);
    ASSERT_EQ(join({input(a.bytes()), input(c.bytes()), input(b.bytes())}), JoinResult::Done);
    EXPECT_EQ(output(), cat({withoutEnd(a), withoutEnd(c), withoutEnd(b), kEnd}));
    const auto progress = sink.of(Notify::JoinProgress);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().progressText, "идёт работа    [ 1  >>  3 ]");
    EXPECT_EQ(progress.back().progressText, "идёт работа    [ 3  >>  3 ]");
}

// A piece that is two recordings, each closed by its end code: the join goes
// on behind the inner one, drops it and lists it; only zeros behind an end
// code (its last sector's fill) end the piece there.
TEST_F(JoinTest, AnEndCodeInsideAPieceIsDroppedAndListed) {
    const StreamBuilder a = piece(2), b = piece(3), c = piece(1);
    std::vector<InnerEndCode> ends;
    params.inputs = {input(cat({a.bytes(), b.bytes()})), input(c.bytes())};
    params.output = dir.file("out.mpg");
    params.existing = Existing::Replace;  // joined twice
    ASSERT_FALSE(joinStructured(state.job, params, sink, &ends));
    EXPECT_EQ(output(), cat({withoutEnd(a), withoutEnd(b), withoutEnd(c), kEnd}));
    EXPECT_EQ(ends, (std::vector<InnerEndCode>{{0, a.size() - 4}}));
    EXPECT_EQ(innerEndCodeText(ends[0], "a.mpg", Language::Russian),
              "кусок 1 (a.mpg): код конца потока на позиции " + countText(a.size() - 4) +
                  " пропущен, соединение продолжено");

    std::vector<uint8_t> filled = a.bytes();
    filled.resize(filled.size() + 3000, 0x00);
    ends.clear();
    params.inputs = {input(filled), input(c.bytes())};
    ASSERT_FALSE(joinStructured(state.job, params, sink, &ends));
    EXPECT_EQ(output(), cat({withoutEnd(a), withoutEnd(c), kEnd}));
    EXPECT_TRUE(ends.empty());
}

// A piece with not a single block joins nothing of a stream: the join is
// refused and names it, whether it is empty or end codes only.
TEST_F(JoinTest, APieceWithoutBlocksIsRefused) {
    const StreamBuilder a = piece(2);
    for (const std::vector<uint8_t>& bytes :
         {std::vector<uint8_t>{}, kEnd, cat({kEnd, kEnd, std::vector<uint8_t>(100, 0)})}) {
        const std::string none = input(bytes);
        for (const bool last : {false, true}) {
            const std::vector<std::string> paths =
                last ? std::vector<std::string>{input(a.bytes()), none}
                     : std::vector<std::string>{none, input(a.bytes())};
            EXPECT_EQ(join(paths), JoinResult::Failed) << bytes.size();
            EXPECT_EQ(failure.kind, FailureKind::EmptyPiece);
            EXPECT_EQ(failure.path, none);
            EXPECT_EQ(failureDetail(failure), ": " + none + ": в куске нет ни одного блока потока");
            EXPECT_FALSE(std::filesystem::exists(params.output));
        }
    }
}

// The gauge goes once from 0 to 100 % over the whole join: each report
// lies within its piece's share of all the bytes, and the reports never go
// back, while the text counts the pieces.
TEST_F(JoinTest, ProgressCountsTheWholeJoin) {
    const std::vector<int> packs = {40, 5, 25};
    std::vector<std::string> paths;
    std::vector<uint64_t> sizes;
    for (const int n : packs) {
        const StreamBuilder b = piece(n);
        paths.push_back(input(b.bytes()));
        sizes.push_back(b.size());
    }
    const uint64_t total = sizes[0] + sizes[1] + sizes[2];
    ASSERT_EQ(join(paths), JoinResult::Done);
    const auto progress = sink.of(Notify::JoinProgress);
    ASSERT_GT(progress.size(), 30u);
    int32_t last = 0;
    uint64_t before = 0;
    size_t piece = 0;
    for (const test::Event& e : progress) {
        // "идёт работа    [ k  >>  3 ]"
        const size_t k = e.progressText.at(e.progressText.find('[') + 2) - '0';
        ASSERT_TRUE(k == piece || k == piece + 1) << e.progressText;
        for (; piece < k; ++piece) before += piece > 0 ? sizes[piece - 1] : 0;
        EXPECT_EQ(e.progressText, "идёт работа    [ " + std::to_string(k) + "  >>  3 ]");
        EXPECT_GE(e.payload, last);
        EXPECT_GE(e.payload, static_cast<int32_t>(before * 100 / total));
        EXPECT_LE(e.payload, static_cast<int32_t>((before + sizes[k - 1]) * 100 / total + 1));
        last = e.payload;
    }
    EXPECT_EQ(piece, 3u);
    EXPECT_GE(last, 95);
    EXPECT_LE(last, 100);
}

TEST_F(JoinTest, WhatFollowsAnEndCodeIsKeptAShortTailDropped) {
    StreamBuilder a = piece(2);
    a.pack().packet(0xE0, 50);  // behind the end code
    StreamBuilder b = piece(2, false);
    b.raw({0x00, 0x00, 0x01});  // a tail of 3 bytes
    ASSERT_EQ(join({input(a.bytes()), input(b.bytes())}), JoinResult::Done);
    const size_t endAt = a.blocks()[8].offset;
    std::vector<uint8_t> kept = a.bytes();
    kept.erase(kept.begin() + static_cast<ptrdiff_t>(endAt),
               kept.begin() + static_cast<ptrdiff_t>(endAt + 4));
    EXPECT_EQ(output(), cat({kept, withoutEnd(piece(2)), kEnd}));
}

// A tail of exactly 4 bytes is still a remainder, even when it looks like
// the start of a pack header; the walk never reads a block out of it.
TEST_F(JoinTest, TailOfExactlyFourBytesIsDropped) {
    for (const std::vector<uint8_t>& tail : {std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA},
                                             std::vector<uint8_t>{0x47, 0x47, 0x47, 0x47}}) {
        StreamBuilder b = piece(2, false);
        b.raw(tail);
        ASSERT_EQ(join({input(b.bytes()), input(piece(1).bytes())}), JoinResult::Done);
        EXPECT_EQ(output(), cat({withoutEnd(piece(2)), withoutEnd(piece(1)), kEnd}));
    }
}

TEST_F(JoinTest, GarbageEndsTheJoinWithoutEndCode) {
    StreamBuilder b = piece(2, false);
    b.raw(StreamBuilder::pattern(5, 0x03));
    const StreamBuilder a = piece(1);
    EXPECT_EQ(join({input(a.bytes()), input(b.bytes()), input(a.bytes())}), JoinResult::Failed);
    // A failed join leaves nothing behind; the failure names the piece and where.
    EXPECT_FALSE(std::filesystem::exists(params.output));
    EXPECT_EQ(failure.kind, FailureKind::BadStructure);
    EXPECT_EQ(failure.path, dir.file("in2.mpg"));
    EXPECT_EQ(failure.position, b.size() - 5);
    EXPECT_EQ(joinResultText(failure), std::string("нарушена структура файла"));
    // A packet of a stream the system header does not list fails the same way.
    StreamBuilder third = piece(1, false);
    third.pack().packet(0xC1, 30).endCode();
    EXPECT_EQ(join({input(third.bytes())}), JoinResult::Failed);
}

// A failed join says which piece, where in it, the bytes found there and why.
TEST_F(JoinTest, FailureNamesThePieceTheOffsetAndTheBytesFound) {
    const StreamBuilder a = piece(1);
    const auto text = [&] { return joinResultText(failure) + failureDetail(failure); };
    // A broken block inside the second piece.
    StreamBuilder broken = piece(3, false);
    const uint64_t at = broken.size();
    broken.raw({0x00, 0x00, 0x02, 0x17}).pack().packet(0xE0, 30).endCode();
    EXPECT_EQ(join({input(a.bytes()), input(broken.bytes())}), JoinResult::Failed);
    EXPECT_EQ(failure.piece, 1);
    EXPECT_EQ(text(), "нарушена структура файла: " + dir.file("in2.mpg") + ", позиция " +
                          countText(at) + ": найдено 00 00 02 17 — не код начала блока");
    EXPECT_FALSE(std::filesystem::exists(params.output));
    // A piece whose tail was lost to zeros is cut short; the bytes found run
    // out with the piece.
    inputs.clear();
    StreamBuilder cut = piece(2, false);
    const uint64_t end = cut.size();
    cut.raw(std::vector<uint8_t>(3, 0x00));
    cut.raw({0x00, 0x00});
    EXPECT_EQ(join({input(cut.bytes()), input(a.bytes())}), JoinResult::Failed);
    EXPECT_EQ(failure.kind, FailureKind::CutShort);
    EXPECT_EQ(text(), "нарушена структура файла: " + dir.file("in1.mpg") + ", позиция " +
                          countText(end) +
                          ": найдено 00 00 00 00 — кусок обрывается, блок не полон");
    // The first piece starts in the middle of a block.
    inputs.clear();
    const std::vector<uint8_t> middle(a.bytes().begin() + 5, a.bytes().end());
    EXPECT_EQ(join({input(middle)}), JoinResult::Failed);
    EXPECT_EQ(failure.piece, 0);
    EXPECT_EQ(failure.position, 0u);
    EXPECT_EQ(failure.foundCount, 4);
}

// A write that fails (the file size limit stands for a full disk) names the
// piece being copied, the block's offset in it and the system's reason; the
// join leaves nothing behind.
TEST_F(JoinTest, WriteFailureNamesThePiece) {
    const StreamBuilder big = piece(1100);  // about 690 kB: the limit is reached in piece 2
    params.inputs = {input(big.bytes()), input(big.bytes()), input(big.bytes())};
    params.output = dir.file("out.mpg");
    const int code = test::withFileSizeLimit(1'000'000, [&] {
        const Failure f = joinStructured(state.job, params, sink);
        const JoinResult r = endedBy(f);
        const std::string text = joinResultText(f) + failureDetail(f);
        const std::string head = "ошибка сохранения файла: " + params.inputs[1] + ", позиция ";
        const std::string tail = " — ошибка записи: " + std::string(std::strerror(EFBIG));
        const bool named = text.rfind(head, 0) == 0 && text.size() > tail.size() &&
                           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
        return r == JoinResult::Failed && f.piece == 1 && named ? 3 : 4;
    });
    EXPECT_EQ(code, 3);
    for (const std::string& in : params.inputs) EXPECT_EQ(readFile(in), big.bytes());
    EXPECT_EQ(test::listFolder(dir.path()),
              (std::vector<std::string>{"in1.mpg", "in2.mpg", "in3.mpg"}));
}

TEST_F(JoinTest, OnlyTheFirstSystemHeaderAndPadding) {
    StreamBuilder a = piece(1, false);
    a.padding(40).pack().systemHeader({0xE0, 0xC0}).padding(20).endCode();
    const StreamBuilder b = piece(1);
    params.oneSystemHeader = params.onePadding = true;
    ASSERT_EQ(join({input(a.bytes()), input(b.bytes()), input(b.bytes())}), JoinResult::Done);
    // Count the blocks of each kind at the output's block starts.
    const auto out = output();
    size_t headers = 0, packs = 0, paddings = 0;
    for (size_t i = 0; i + 4 <= out.size(); ++i) {
        if (out[i] != 0 || out[i + 1] != 0 || out[i + 2] != 1) continue;
        headers += out[i + 3] == 0xBB;
        packs += out[i + 3] == 0xBA;
        paddings += out[i + 3] == 0xBE;
    }
    EXPECT_EQ(headers, 1u);
    EXPECT_EQ(paddings, 1u);
    EXPECT_EQ(packs, 3u + 2u * 2u);
    EXPECT_EQ(out.size(), a.size() - 4 - (a.blocks()[7].size + a.blocks()[8].size) +
                              2 * (b.size() - 4 - b.blocks()[1].size) + 4);
}

// Random pieces several read chunks long, with blocks of every size up to
// the largest and extra system headers and padding here and there: the join
// gives exactly the blocks it keeps, in order, one end code after them,
// wherever a chunk of the reader or a run of its writes ends.
TEST_F(JoinTest, RandomPiecesGiveTheBlocksTheyKeep) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 6; ++round) {
        inputs.clear();
        params.oneSystemHeader = random() % 2;
        params.onePadding = random() % 2;
        std::vector<std::string> paths;
        std::vector<uint8_t> expected;
        int headers = 0, paddings = 0;
        const int pieces = 1 + static_cast<int>(random() % 3);
        for (int k = 0; k < pieces; ++k) {
            StreamBuilder b;
            b.pack().systemHeader({0xE0, 0xC0});
            while (b.size() < (size_t{5} << 19)) {
                const uint32_t pick = random() % 8;
                const size_t payload = random() % (pick == 7 ? 65536 : 3000);
                if (pick == 0) b.pack();
                if (pick == 1) b.systemHeader({0xE0});
                if (pick == 2) b.padding(payload);
                if (pick >= 3) b.packet(pick % 2 ? 0xE0 : 0xC0, payload);
            }
            if (random() % 2) b.endCode();
            for (const test::BuiltBlock& block : b.blocks()) {
                if (block.code == 0x1B9) continue;
                if (block.code == 0x1BB && ++headers > 1 && params.oneSystemHeader) continue;
                if (block.code == 0x1BE && ++paddings > 1 && params.onePadding) continue;
                const auto from = b.bytes().begin() + static_cast<ptrdiff_t>(block.offset);
                expected.insert(expected.end(), from, from + static_cast<ptrdiff_t>(block.size));
            }
            paths.push_back(input(b.bytes()));
        }
        expected.insert(expected.end(), kEnd.begin(), kEnd.end());
        ASSERT_EQ(join(paths), JoinResult::Done) << "round " << round;
        ASSERT_EQ(output(), expected) << "round " << round;
    }
}

TEST_F(JoinTest, LargestLengthFieldDoesNotWrap) {
    StreamBuilder a;
    a.pack().systemHeader({0xE0}).packet(0xE0, 65535).pack().endCode();
    ASSERT_EQ(join({input(a.bytes())}), JoinResult::Done);
    EXPECT_EQ(output(), a.bytes());  // its own end code is the one appended
}

TEST_F(JoinTest, TinyInputs) {
    EXPECT_EQ(join({input({0x47})}), JoinResult::Failed);  // no start code
    EXPECT_EQ(join({input({0x00, 0x00, 0x01})}), JoinResult::Failed);
}

TEST_F(JoinTest, BlockCutShortByTheEndOfItsFileKeepsItsSize) {
    StreamBuilder a = piece(1, false);
    a.pack().packet(0xE0, 300);
    a.erase(a.size() - 100, 100);
    ASSERT_EQ(join({input(a.bytes())}), JoinResult::Done);
    auto expect = a.bytes();
    expect.insert(expect.end(), 100, 0x00);
    EXPECT_EQ(output(), cat({expect, kEnd}));
}

TEST_F(JoinTest, StopAfterAReport) {
    struct Stopping : Messages {
        explicit Stopping(AppState& s) : st(s) {}
        void notify(const Notice& n) override {
            Messages::notify(n);
            st.job.stopRequested = true;
        }
        AppState& st;
    } stopping(state);
    const StreamBuilder a = piece(3);
    params.inputs = {input(a.bytes())};
    params.output = dir.file("out.mpg");
    params.existing = Existing::Replace;  // as --force asks
    // A complete earlier output stays: what was written goes beside it.
    const std::vector<uint8_t> earlier(5000, 0x5A);
    dir.write("out.mpg", earlier);
    failure = joinStructured(state.job, params, stopping);
    EXPECT_EQ(endedBy(failure), JoinResult::Stopped);
    EXPECT_EQ(output(), earlier);
    EXPECT_EQ(readFile(params.output + ".partial"),
              std::vector<uint8_t>(a.bytes().begin(), a.bytes().begin() + 12));
    EXPECT_EQ(std::string(joinResultText(failure)) + failureDetail(failure),
              "прервано пользователем: " + params.output + ".partial: 12 байт");
    // A stop before the join began writes nothing.
    ::unlink((params.output + ".partial").c_str());
    params.output = dir.file("never.mpg");
    failure = glueFiles(state.job, params, stopping);
    EXPECT_EQ(endedBy(failure), JoinResult::Stopped);
    EXPECT_NE(::access(params.output.c_str(), F_OK), 0);
}

// Every piece is checked before anything is written: a missing one, a
// folder, a FIFO (without hanging) or a device such as /dev/zero (no empty
// piece) refuses the join and leaves no output; a file the join was to
// replace stays whole.
TEST_F(JoinTest, InputsThatCannotBeOpened) {
    const std::string missing = dir.file("missing.mpg"), fifo = dir.file("fifo.mpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const StreamBuilder a = piece(1);
    const std::string first = input(a.bytes());
    const std::vector<uint8_t> old(5000, 0x5A);
    for (bool glue : {false, true}) {
        for (const auto& [bad, reason] : std::vector<std::pair<std::string, std::string>>{
                 {missing, ": No such file or directory"},
                 {dir.path(), ": это не обычный файл"},
                 {fifo, ": это не обычный файл"},
                 {"/dev/zero", ": это не обычный файл"}}) {
            dir.write("out.mpg", old);
            sink.messages.clear();
            EXPECT_EQ(join({first, bad}, glue), JoinResult::Failed) << bad;
            EXPECT_EQ(sink.messages,
                      std::vector<std::string>{"ошибка открытия файла: " + bad + reason});
            EXPECT_EQ(output(), old) << bad;
            EXPECT_EQ(joinResultText(failure), std::string("ошибка открытия файла"));
            ::unlink(params.output.c_str());
            EXPECT_EQ(join({bad, first}, glue), JoinResult::Failed) << bad;
            EXPECT_FALSE(std::filesystem::exists(params.output)) << bad;
        }
    }
}

TEST_F(JoinTest, OutputThatIsAnInputIsRefused) {
    const std::string a = input(piece(2).bytes());
    for (bool glue : {false, true}) {
        params.inputs = {a};
        params.output = dir.path() + "/./in1.mpg";
        sink.messages.clear();
        EXPECT_EQ(endedBy(glue ? glueFiles(state.job, params, sink)
                               : joinStructured(state.job, params, sink)),
                  JoinResult::Failed);
        EXPECT_EQ(sink.messages,
                  std::vector<std::string>{"выходной файл совпадает с одним из входных"});
        EXPECT_EQ(readFile(a), inputs[0]);
    }
}

TEST_F(JoinTest, GlueIsAConcatenation) {
    std::vector<std::string> paths;
    std::vector<uint8_t> all;
    for (size_t n : {0u, 1u, 2048u, 2049u, 5000u}) {
        const auto bytes = StreamBuilder::pattern(n, static_cast<uint8_t>(n));
        paths.push_back(input(bytes));
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    ASSERT_EQ(join(paths, true), JoinResult::Done);
    EXPECT_EQ(output(), all);
}

// The check before a join reports where it is over all the pieces: the text
// counts them, the gauge never goes back and keeps to each piece's share.
TEST_F(JoinTest, PieceCheckProgress) {
    StreamBuilder broken = piece(30);
    broken.insert(broken.blocks()[10].offset + 7, 3, 0x00);
    const std::vector<std::string> paths = {input(piece(40).bytes()), input(broken.bytes()),
                                            input(piece(20).bytes())};
    const std::vector<PieceCheck> found = checkPieces(state.job, paths, params.rules, &sink);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].piece, 1u);
    int32_t last = 0;
    size_t k = 0;
    for (const test::Event& e : sink.of(Notify::PieceCheck)) {
        k += e.progressText != "проверка кусков: " + std::to_string(k) + " из 3";
        ASSERT_EQ(e.progressText, "проверка кусков: " + std::to_string(k) + " из 3");
        EXPECT_GE(e.payload, std::max(last, static_cast<int32_t>((k - 1) * 100 / 3)));
        EXPECT_LE(e.payload, static_cast<int32_t>(k * 100 / 3));
        last = e.payload;
    }
    EXPECT_EQ(k, 3u);
}

}  // namespace
}  // namespace mpg
