// Junk around a stream: the fixture streams with tags and random bytes put
// in front of them, written over their heads and put behind them, against
// the clean stream as the model. Under the sound rules the junk is one
// finding at each end, the blocks are the clean stream's shifted by the
// junk in front, and the repair writes the clean stream's output.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "repair/index_file.h"
#include "repair/writer.h"
#include "support/scanned.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using Bytes = std::vector<uint8_t>;

const char* const kFixtures[] = {"av.mpg",         "dvd.mpg",       "no-system-header.mpg",
                                 "svcd-mplex.mpg", "two-audio.mpg", "vcd-2324.mpg",
                                 "vcd-mplex.mpg",  "vcd.mpg",       "video-only.mpg",
                                 "vob.mpg"};

// From 1 byte to 1 MiB, as many short ones as long ones.
size_t junkSize(std::mt19937& rng) {
    return static_cast<size_t>(
        std::exp(std::uniform_real_distribution<>(0, std::log(1 << 20))(rng)));
}

// Random bytes with no start code prefix in them: bytes behind a stream that
// hold a start code are searched as a broken block's, not taken for junk.
// They begin with no zero, which a reader would take for its sector's fill.
Bytes randomBytes(std::mt19937& rng, size_t count) {
    Bytes out(count);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    for (size_t i = 2; i < count; ++i) {
        if (out[i] == 1 && out[i - 1] == 0 && out[i - 2] == 0) out[i] = 2;
    }
    if (count > 0 && out[0] == 0) out[0] = 0x55;
    return out;
}

// An ID3v2 tag of `count` bytes (10 at least): its header with the body's
// size in 7-bit bytes, and a body holding a stray pack start code, as a
// picture in it may.
Bytes id3v2Tag(std::mt19937& rng, size_t count) {
    Bytes tag = randomBytes(rng, count);
    const size_t body = count - 10;
    const uint8_t head[10] = {'I',
                              'D',
                              '3',
                              3,
                              0,
                              0,
                              static_cast<uint8_t>((body >> 21) & 0x7F),
                              static_cast<uint8_t>((body >> 14) & 0x7F),
                              static_cast<uint8_t>((body >> 7) & 0x7F),
                              static_cast<uint8_t>(body & 0x7F)};
    std::copy(std::begin(head), std::end(head), tag.begin());
    if (body >= 40) {
        const size_t at = 10 + rng() % (body - 30);
        const uint8_t stray[] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1};
        std::copy(std::begin(stray), std::end(stray), tag.begin() + static_cast<ptrdiff_t>(at));
    }
    return tag;
}

Bytes id3v1Tag(std::mt19937& rng) {
    Bytes tag(128);
    for (uint8_t& b : tag) b = static_cast<uint8_t>('a' + rng() % 26);
    tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
    return tag;
}

// An APE tag with its header and footer around `items` random bytes.
Bytes apeTag(std::mt19937& rng, size_t items) {
    const auto frame = [&](bool header) {
        Bytes f = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0};
        const uint32_t size = static_cast<uint32_t>(items + 32);
        const uint32_t flags = 0x80000000u | (header ? 0x20000000u : 0);
        for (uint32_t v : {size, 1u, flags}) {
            for (int k = 0; k < 4; ++k) f.push_back(static_cast<uint8_t>(v >> (8 * k)));
        }
        f.resize(32, 0);
        return f;
    };
    Bytes tag = frame(true), body = randomBytes(rng, items), footer = frame(false);
    tag.insert(tag.end(), body.begin(), body.end());
    tag.insert(tag.end(), footer.begin(), footer.end());
    return tag;
}

Bytes leadingJunk(std::mt19937& rng) {
    const size_t size = junkSize(rng);
    switch (rng() % 3) {
        case 0:
            return {};
        case 1:
            return id3v2Tag(rng, std::max<size_t>(size, 10));
        default:
            return randomBytes(rng, size);
    }
}

Bytes trailingJunk(std::mt19937& rng) {
    Bytes junk;
    switch (rng() % 5) {
        case 0:
            return {};
        case 1:
            return id3v1Tag(rng);
        case 2:
            return apeTag(rng, junkSize(rng));
        case 3:
            junk = apeTag(rng, rng() % 300);
            for (uint8_t b : id3v1Tag(rng)) junk.push_back(b);
            return junk;
        default:
            // Bytes past an end code; behind any other block bytes with no
            // start code may be its own, and are searched.
            junk = {0, 0, 1, 0xB9};
            for (uint8_t b : randomBytes(rng, junkSize(rng))) junk.push_back(b);
            return junk;
    }
}

Finding junkFinding(Position begin, Position end, FindingCause cause) {
    Finding f;
    f.begin = begin;
    f.end = end;
    f.kind = FindingKind::Junk;
    f.cause = cause;
    return f;
}

class JunkTest : public ::testing::Test {
  protected:
    // The scan of `file`, and its repaired output (no repair asked: every
    // block as it stands). The input must stay as it was.
    Bytes scanAndSave(test::Scanned& s, const std::string& file) {
        const Bytes before = test::readFile(file);
        EXPECT_TRUE(s.scan(file));
        test::GridSink sink(s.grid);
        const std::string output = dir.file("out.mpg");
        EXPECT_FALSE(saveRepairedStream(s.state, {file, output}, sink));
        EXPECT_EQ(test::readFile(file), before);
        return test::readFile(output);
    }

    // The clean fixture, its scan and its output: the model.
    void scanClean(const std::string& name) {
        clean = test::readFile(test::fixture(name));
        cleanOut = scanAndSave(model, test::fixture(name));
        ASSERT_TRUE(model.state.findings.empty());
    }

    // The table of a stream that begins `shift` bytes into its file is the
    // model's from entry `first` on, every offset moved by `shift`.
    // An end code the junk behind the stream came with is one entry more.
    void expectModelTable(const BlockTable& table, size_t first, Position shift,
                          bool endCode = false) {
        const BlockTable& want = model.state.table;
        ASSERT_EQ(table.size(), want.size() - first + endCode);
        if (endCode) {
            EXPECT_EQ(table[table.size() - 1].code, kEndCode);
        }
        for (size_t i = 0; i + endCode < table.size(); ++i) {
            BlockRecord moved = want[first + i];
            moved.offset += shift;
            ASSERT_EQ(table[i], moved) << i;
        }
    }

    // The index of `s`'s table loads for its input as the same table.
    void expectIndexRoundTrip(const test::Scanned& s) {
        const std::string index = dir.file("junk.index");
        ASSERT_FALSE(saveIndexFile(s.state.table, index, {s.path}));
        AppState loaded;
        ASSERT_FALSE(loadIndexFile(index, s.path, loaded));
        EXPECT_EQ(loaded.table.entries(), s.state.table.entries());
    }

    test::TempDir dir;
    test::Scanned model;
    Bytes clean, cleanOut;
};

TEST_F(JunkTest, JunkAroundTheStreamIsOneFindingAtEachEndAndLeftOut) {
    std::mt19937 rng(20261209);
    for (const char* name : kFixtures) {
        scanClean(name);
        for (int round = 0; round < 3; ++round) {
            const Bytes lead = leadingJunk(rng);
            Bytes trail = trailingJunk(rng);
            // A stream closed already needs no end code in front of the junk.
            const Bytes close = {0, 0, 1, 0xB9};
            if (trail.size() > 4 && std::equal(close.begin(), close.end(), trail.begin()) &&
                std::equal(close.begin(), close.end(), clean.end() - 4)) {
                trail.erase(trail.begin(), trail.begin() + 4);
            }
            SCOPED_TRACE(std::string(name) + " lead " + std::to_string(lead.size()) + " trail " +
                         std::to_string(trail.size()));
            Bytes file = lead;
            file.insert(file.end(), clean.begin(), clean.end());
            file.insert(file.end(), trail.begin(), trail.end());
            test::Scanned s;
            const Bytes out = scanAndSave(s, dir.write("junk.mpg", file));
            std::vector<Finding> want;
            const bool endCode =
                trail.size() > 4 && std::equal(close.begin(), close.end(), trail.begin());
            const Position streamEnd = lead.size() + clean.size() + (endCode ? 4 : 0);
            if (!lead.empty())
                want.push_back(junkFinding(0, lead.size(), FindingCause::LeadingJunk));
            if (!trail.empty()) {
                want.push_back(junkFinding(streamEnd, file.size(), FindingCause::TrailingJunk));
            }
            EXPECT_EQ(s.state.findings.items(), want);
            expectModelTable(s.state.table, 0, lead.size(), endCode);
            EXPECT_EQ(countListed(s.state.table), 0u);
            EXPECT_EQ(out, cleanOut);
            expectIndexRoundTrip(s);
        }
    }
}

// A tag written over the first bytes: the stream begins at the first pack
// header behind the damage, whose blocks are the clean stream's.
TEST_F(JunkTest, TagOverTheHeadOfTheStream) {
    std::mt19937 rng(33);
    for (const char* name : kFixtures) {
        scanClean(name);
        const size_t over = 10 + rng() % 7000;
        SCOPED_TRACE(std::string(name) + " over " + std::to_string(over));
        Bytes file = clean;
        const Bytes tag = id3v2Tag(rng, over);
        std::copy(tag.begin(), tag.end(), file.begin());
        size_t first = 0;
        const BlockTable& t = model.state.table;
        while (t[first].offset < over || t[first].code != kPackStartCode) ++first;
        test::Scanned s;
        scanAndSave(s, dir.write("over.mpg", file));
        EXPECT_EQ(s.state.findings.items(),
                  std::vector<Finding>{junkFinding(0, t[first].offset, FindingCause::LeadingJunk)});
        expectModelTable(s.state.table, first, 0);
        EXPECT_EQ(countListed(s.state.table), 0u);
        expectIndexRoundTrip(s);
    }
}

// A packet cut short by the end of the file stays a broken block, a tag
// appended behind it or not; only the tag is junk.
TEST_F(JunkTest, PacketCutShortStaysBroken) {
    std::mt19937 rng(7);
    scanClean("av.mpg");
    const BlockTable& t = model.state.table;
    size_t last = t.size() - 1;
    while (t[last].declaredSize < 100) --last;
    const Position cut = t[last].offset + 50;
    for (const bool tagged : {false, true}) {
        SCOPED_TRACE(tagged);
        Bytes file(clean.begin(), clean.begin() + static_cast<ptrdiff_t>(cut));
        if (tagged) {
            const Bytes tag = id3v1Tag(rng);
            file.insert(file.end(), tag.begin(), tag.end());
        }
        test::Scanned s;
        ASSERT_TRUE(s.scan(dir.write("cut.mpg", file)));
        ASSERT_EQ(s.state.table.size(), last + 1);
        EXPECT_EQ(s.state.table.last().broken, kBrokenListed);
        EXPECT_EQ(s.state.table.last().realSize, 50);
        std::vector<Finding> want;
        if (tagged) want.push_back(junkFinding(cut, file.size(), FindingCause::TrailingJunk));
        EXPECT_EQ(s.state.findings.items(), want);
        expectIndexRoundTrip(s);
    }
}

// The strict walk refuses a file that does not begin with a pack header,
// as it always has.
TEST_F(JunkTest, StrictWalkKeepsItsRefusal) {
    std::mt19937 rng(5);
    scanClean("vcd.mpg");
    Bytes file = id3v2Tag(rng, 300);
    file.insert(file.end(), clean.begin(), clean.end());
    const std::string path = dir.write("lead.mpg", file);
    AppState state;
    EXPECT_EQ(openAndCheck(state, path).result, CheckResult::Ok);
    state.rules = StreamRules::Literal;
    EXPECT_EQ(openAndCheck(state, path).result, CheckResult::NoSignature);
}

}  // namespace
}  // namespace mpg
