// The join as both front ends run it: the check of the pieces, then the
// structured join or the glue, through the session.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>

#include "session/repair_session.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

JoinRequest request(std::vector<std::string> inputs, const std::string& output, bool glue) {
    JoinRequest r;
    r.params.inputs = std::move(inputs);
    r.params.output = output;
    r.glue = glue;
    return r;
}

// Sound pieces of every kind pass the check and join into the pieces behind
// one another with one end code; the session's table stays empty.
TEST(SessionJoin, SoundPiecesPassTheCheckAndJoin) {
    test::TempDir dir;
    for (const char* name : {"av.mpg", "vcd.mpg", "dvd.mpg"}) {
        SCOPED_TRACE(name);
        const std::string piece = test::fixture(name);
        const std::vector<uint8_t> bytes = test::readFile(piece);
        RepairSession s;
        const PieceCheckResult checked = s.checkPieces({{piece, piece}, StreamRules::Sound});
        EXPECT_FALSE(checked.failure);
        EXPECT_TRUE(checked.unsound.empty());
        test::RecordingSink sink;
        const std::string out = dir.file(std::string("joined-") + name);
        ASSERT_FALSE(s.join(request({piece, piece}, out, false), sink).failure);
        const std::vector<uint8_t> joined = test::readFile(out);
        ASSERT_EQ(joined.size(), 2 * bytes.size() + 4);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), joined.begin()));
        EXPECT_EQ(s.state().table.size(), 0u);
        EXPECT_EQ(test::readFile(piece), bytes);
    }
}

// A piece with a broken block is named with its count; the structured join
// fails at it and leaves nothing, the glue keeps every byte. A missing piece
// is the check's unreadable one; a stop ends the check as Stopped.
TEST(SessionJoin, UnsoundPiecesAreNamedAndOnlyTheGlueJoinsThem) {
    test::TempDir dir;
    const std::vector<uint8_t> sound = test::readFile(test::fixture("av.mpg"));
    std::vector<uint8_t> damaged = sound;
    damaged.insert(damaged.begin() + 5000, 10, 0xFF);
    const std::string a = dir.write("a.mpg", sound), b = dir.write("b.mpg", damaged);
    const std::string out = dir.file("out.mpg"), missing = dir.file("missing.mpg");
    RepairSession s;

    const PieceCheckResult checked = s.checkPieces({{a, b, a}, StreamRules::Sound});
    ASSERT_EQ(checked.unsound.size(), 1u);
    EXPECT_EQ(checked.unsound[0].piece, 1u);
    EXPECT_EQ(checked.unsound[0].broken, 1u);
    EXPECT_EQ(checked.unreadable(), nullptr);

    test::RecordingSink sink;
    const Failure failure = s.join(request({a, b}, out, false), sink).failure;
    EXPECT_EQ(failure.kind, FailureKind::BadStructure);
    EXPECT_EQ(failure.path, b);
    EXPECT_FALSE(std::filesystem::exists(out));
    ASSERT_FALSE(s.join(request({a, b}, out, true), sink).failure);
    std::vector<uint8_t> both = sound;
    both.insert(both.end(), damaged.begin(), damaged.end());
    EXPECT_EQ(test::readFile(out), both);

    // An output that is one of the pieces, however spelled, is refused.
    const std::string same = dir.path() + "/./a.mpg";
    EXPECT_EQ(s.join(request({a, b}, same, true), sink).failure.kind, FailureKind::OutputIsInput);

    const PieceCheckResult gone = s.checkPieces({{b, missing}, StreamRules::Sound});
    ASSERT_NE(gone.unreadable(), nullptr);
    EXPECT_EQ(gone.unreadable()->piece, 1u);
    EXPECT_EQ(gone.unreadable()->failure.kind, FailureKind::OpenFailed);

    s.state().job.stopRequested = true;
    EXPECT_EQ(s.checkPieces({{a, b}, StreamRules::Sound}).failure.kind, FailureKind::Stopped);
    EXPECT_EQ(test::readFile(a), sound);
    EXPECT_EQ(test::readFile(b), damaged);
}

// Runs `change` at the first progress report of a join.
struct ChangeAtProgress : test::RecordingSink {
    std::function<void()> change;
    void notify(const Notice& n) override {
        RecordingSink::notify(n);
        if (n.kind == Notify::JoinProgress && change) std::exchange(change, nullptr)();
    }
};

// A piece rewritten in place (its time set back) or cut short while a join
// runs fails the join with that piece's name, structured or glued, and no
// output takes its name.
TEST(SessionJoin, APieceThatChangesDuringAJoinFailsIt) {
    test::TempDir dir;
    const std::vector<uint8_t> sound = test::readFile(test::fixture("av.mpg"));
    // The glue reports its progress between steps of 8 MiB.
    std::vector<uint8_t> big;
    while (big.size() < (size_t{9} << 20)) big.insert(big.end(), sound.begin(), sound.end());
    const std::string out = dir.file("joined.mpg");
    struct Case {
        bool glue;
        bool cutFirst;  // else the second piece is rewritten while the first is copied
    };
    for (const Case c : {Case{false, false}, Case{true, false}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.glue ? "glue" : "structured") + (c.cutFirst ? ", cut" : ""));
        const std::string a = dir.write("a.mpg", c.glue ? big : sound);
        const std::string b = dir.write("b.mpg", sound);
        ChangeAtProgress sink;
        sink.change = [&] {
            if (c.cutFirst) {
                std::filesystem::resize_file(a, big.size() / 2);
            } else {
                test::rewriteInPlace(b, 1000);
            }
        };
        RepairSession s;
        const Failure failure = s.join(request({a, b}, out, c.glue), sink).failure;
        EXPECT_EQ(failure.kind, FailureKind::InputChanged);
        EXPECT_EQ(failure.path, c.cutFirst ? a : b);
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);
    }
}

}  // namespace
}  // namespace mpg
