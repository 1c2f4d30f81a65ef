#include "analysis/row_filter.h"

#include <gtest/gtest.h>

#include <random>

namespace mpg {
namespace {

BlockRecord block(uint32_t code, int32_t declared, int32_t real, uint8_t runByte,
                  uint32_t runLength) {
    BlockRecord r;
    r.code = code;
    r.offset = 5'000'000'000;
    r.declaredSize = declared;
    r.realSize = real;
    r.repeatByte = runByte;
    r.repeatLength = runLength;
    r.broken = kBrokenListed;
    return r;
}

bool passes(std::string_view text, const BlockRecord& r, bool resolved = true) {
    const auto filter = parseRowFilter(text);
    return filter && filter->accepts(r, resolved);
}

TEST(RowFilter, WordsOfEachKind) {
    const BlockRecord video = block(0x1E0, 2006, 2306, 0x00, 300);  // delta 300
    const BlockRecord audio = block(0x1C1, 2000, 1990, 0xFF, 20);   // delta -10
    const BlockRecord pack = block(0x1BA, 12, 40, 0x55, 6);
    // Codes: the last byte, a range, all 8 digits, any case.
    EXPECT_TRUE(passes("E0", video));
    EXPECT_FALSE(passes("E0", audio));
    EXPECT_TRUE(passes("c0-c1", audio));
    EXPECT_TRUE(passes("C1-C0", audio));
    EXPECT_TRUE(passes("000001BA", pack));
    EXPECT_TRUE(passes("1ba", pack));
    EXPECT_FALSE(passes("BD", pack));
    // The delta, signed, with every comparison.
    EXPECT_TRUE(passes("d>=300", video));
    EXPECT_FALSE(passes("d>300", video));
    EXPECT_TRUE(passes("d=300", video));
    EXPECT_TRUE(passes("d<0", audio));
    EXPECT_TRUE(passes("d<=-10", audio));
    EXPECT_FALSE(passes("d<-10", audio));
    EXPECT_TRUE(passes("D>=-10", audio));
    // The run's byte, alone or a range.
    EXPECT_TRUE(passes("r=00", video));
    EXPECT_FALSE(passes("r=00", audio));
    EXPECT_TRUE(passes("r=F0-FF", audio));
    // Nothing at all passes everything.
    EXPECT_TRUE(parseRowFilter("  ,; ")->empty());
    EXPECT_TRUE(passes("", audio, false));
}

// A row whose search has not ended has neither delta nor run: only a code
// word can pass it. A block with no run recorded has no run byte.
TEST(RowFilter, UnknownValuesPassNoComparison) {
    const BlockRecord found = block(0x1E0, 2006, 0, 0x00, 0);
    EXPECT_TRUE(passes("E0", found, false));
    EXPECT_FALSE(passes("d<=0", found, false));
    EXPECT_FALSE(passes("r=00", found, false));
    EXPECT_FALSE(passes("r=00", block(0x1E0, 2006, 2010, 0x00, 0)));
}

TEST(RowFilter, WordsNotUnderstood) {
    for (const char* text : {"G0", "E0 x", "d>", "d>=abc", "d==3", "r=100", "r=", "r=0G",
                             "123456789", "-C1", "d>=99999999999", "дельта"}) {
        std::string bad;
        EXPECT_FALSE(parseRowFilter(text, &bad)) << text;
        EXPECT_FALSE(bad.empty()) << text;
    }
    std::string bad;
    EXPECT_FALSE(parseRowFilter("E0, d>=1; R=zz", &bad));
    EXPECT_EQ(bad, "R=zz");  // as typed
}

// A range with one end of two digits and one longer means one thing only
// when both readings keep its order; otherwise it is refused, never taken
// as the empty range.
TEST(RowFilter, RangesOfMixedEndsMeanOneThingOrAreRefused) {
    for (const char* text : {"1C0-E0", "E0-1C0", "E0 1BA-BB"}) {
        std::string bad;
        FilterFault fault = FilterFault::NotUnderstood;
        EXPECT_FALSE(parseRowFilter(text, &bad, &fault)) << text;
        EXPECT_EQ(fault, FilterFault::MixedRange) << text;
        EXPECT_NE(bad.find('-'), std::string::npos) << text;
    }
    EXPECT_TRUE(passes("BA-1E0", block(0x1C0, 2000, 2000, 0, 0)));
    FilterFault fault = FilterFault::MixedRange;
    EXPECT_FALSE(parseRowFilter("G0", nullptr, &fault));
    EXPECT_EQ(fault, FilterFault::NotUnderstood);
}

// Random rows and words: several words of one kind pass what any of them
// passes (the delta: what all of them pass), words of different kinds what
// all of them pass.
TEST(RowFilter, WordsCombineAsTheyPromise) {
    std::mt19937 rng(7);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* codes[] = {"E0", "C0", "BD", "C0-C7", "E0-EF", "BA", "1BB"};
    const char* deltas[] = {"d>=0", "d<0", "d>100", "d<=-5", "d=300", "d>=-20"};
    const char* runs[] = {"r=00", "r=FF", "r=00-0F", "r=55"};
    const uint32_t recordCodes[] = {0x1E0, 0x1E3, 0x1C0, 0x1C5, 0x1BD, 0x1BA, 0x1BB};
    const uint8_t runBytes[] = {0x00, 0x0A, 0x55, 0xFF};
    for (int round = 0; round < 2000; ++round) {
        const BlockRecord r = block(recordCodes[pick(7)], 2000, 2000 + pick(700) - 350,
                                    runBytes[pick(4)], static_cast<uint32_t>(pick(3)));
        const bool resolved = pick(4) != 0;
        const auto one = [&](const std::string& w) { return passes(w, r, resolved); };
        const std::string c1 = codes[pick(7)], c2 = codes[pick(7)];
        const std::string d1 = deltas[pick(6)], d2 = deltas[pick(6)];
        const std::string r1 = runs[pick(4)], r2 = runs[pick(4)];
        EXPECT_EQ(one(c1 + " " + c2), one(c1) || one(c2));
        EXPECT_EQ(one(r1 + "," + r2), one(r1) || one(r2));
        EXPECT_EQ(one(d1 + " " + d2), one(d1) && one(d2));
        EXPECT_EQ(one(c1 + " " + d1 + " " + r1), one(c1) && one(d1) && one(r1));
    }
}

// Kind words choose the kind of damage: a block's row is of kind "block", a
// finding's row of its own; a finding passes a code word by its stream and
// never a delta or run word, which name a block's sizes.
TEST(RowFilter, KindWordsAndFindings) {
    const BlockRecord video = block(0x1E0, 2006, 2306, 0x00, 300);
    Finding hole;
    hole.kind = FindingKind::Hole;
    hole.stream = 0xE0;
    Finding junk;
    junk.kind = FindingKind::Junk;  // the system layer: no stream
    const auto passesFinding = [](std::string_view text, const Finding& f) {
        const auto filter = parseRowFilter(text);
        return filter && filter->accepts(f);
    };
    EXPECT_TRUE(passes("block", video));
    EXPECT_FALSE(passes("hole", video));
    EXPECT_TRUE(passes("HOLE block", video));
    EXPECT_TRUE(passesFinding("gap hole", hole));
    EXPECT_FALSE(passesFinding("block", hole));
    EXPECT_TRUE(passesFinding("", junk));
    EXPECT_TRUE(passesFinding("E0 hole", hole));
    EXPECT_FALSE(passesFinding("C0", hole));
    EXPECT_FALSE(passesFinding("E0", junk));
    EXPECT_FALSE(passesFinding("d>=0 r=00", hole));
    for (int k = 0; k < kFindingKinds; ++k) {
        const auto kind = static_cast<FindingKind>(k);
        Finding f;
        f.kind = kind;
        EXPECT_EQ(findingKindNamed(findingKindName(kind)), kind);
        EXPECT_TRUE(passesFinding(findingKindName(kind), f)) << findingKindName(kind);
    }
    EXPECT_FALSE(parseRowFilter("holes"));
}

}  // namespace
}  // namespace mpg
