#include "stream/procedures.h"
#include "stream/dense_search.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace mpg {
namespace {

TEST(FieldReaders, ReadBigEndianValues) {
    const std::vector<uint8_t> pack = {0x00, 0x00, 0x01, 0xBA};
    const std::vector<uint8_t> ones = {0xFF, 0xFF, 0xFF, 0xFF};
    uint32_t v = 0;
    ASSERT_TRUE(readBE32(pack, 0, v));
    EXPECT_EQ(v, 0x000001BAu);
    ASSERT_TRUE(readBE32(ones, 0, v));
    EXPECT_EQ(v, 4294967295u);

    const std::vector<uint8_t> len = {0x00, 0x0C};
    uint16_t w = 0;
    ASSERT_TRUE(readBE16(len, 0, w));
    EXPECT_EQ(w, 12);
}

TEST(FieldReaders, ShortArrayLeavesValueUnchanged) {
    const std::vector<uint8_t> five = {1, 2, 3, 4, 5};
    uint16_t w = 77;
    EXPECT_FALSE(readBE16(five, 4, w));
    EXPECT_EQ(w, 77);
    uint32_t v = 99;
    EXPECT_FALSE(readBE32(five, 2, v));
    EXPECT_FALSE(readBE32(five, SIZE_MAX - 1, v));  // an index that would wrap
    EXPECT_EQ(v, 99u);
    EXPECT_TRUE(readBE32(five, 1, v));
    EXPECT_EQ(v, 0x02030405u);
}

// The end of a run against a byte-by-byte walk, from every start to every
// end of buffers with runs of every length, so that eight-byte steps meet
// every alignment and every position of the first differing byte.
TEST(FieldReaders, EndOfRunAsAWalk) {
    std::mt19937 rng(8);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> bytes;
        while (bytes.size() < 80) bytes.insert(bytes.end(), 1 + rng() % 20, uint8_t(rng() % 3));
        for (uint32_t from = 0; from < bytes.size(); ++from) {
            for (uint32_t end = from; end <= bytes.size(); ++end) {
                const uint8_t value = rng() % 4 ? bytes[from] : uint8_t(rng());
                uint32_t walk = from;
                while (walk < end && bytes[walk] == value) ++walk;
                ASSERT_EQ(endOfRun(bytes.data(), from, end, value), walk) << from << " " << end;
            }
        }
    }
}

// The first zero byte and the first byte equal to the one before it, found
// in a word, against a walk over its eight bytes.
TEST(FieldReaders, FirstZeroAndFirstRepeatInAWord) {
    std::mt19937 rng(12);
    for (int round = 0; round < 20000; ++round) {
        uint8_t bytes[8];
        for (uint8_t& b : bytes) b = uint8_t(rng() % 4 == 0 ? rng() % 3 : rng());
        const uint8_t before = uint8_t(rng() % 3);
        uint32_t zero = 0, repeat = 0;
        while (zero < 8 && bytes[zero] != 0) ++zero;
        while (repeat < 8 && bytes[repeat] != (repeat == 0 ? before : bytes[repeat - 1])) ++repeat;
        const uint64_t word = loadLE64(bytes);
        ASSERT_EQ(beforeFirstMark(zeroBytes(word)), zero) << round;
        ASSERT_EQ(beforeFirstMark(repeatedBytes(word, before)), repeat) << round;
    }
}

// The first 00 00 01 against a walk, in bytes rich in zeros and 01 bytes
// (runs of them too), from every start up to every end: both searches.
TEST(FieldReaders, NextStartCodePrefixAsAWalk) {
    std::mt19937 rng(3);
    for (int round = 0; round < 30; ++round) {
        std::vector<uint8_t> bytes;
        while (bytes.size() < 70) bytes.insert(bytes.end(), 1 + rng() % 5, uint8_t(rng() % 3));
        for (uint32_t from = 0; from + 2 < bytes.size(); ++from) {
            for (uint32_t end = from; end + 2 < bytes.size(); ++end) {
                uint32_t walk = from;
                while (walk < end &&
                       !(bytes[walk] == 0 && bytes[walk + 1] == 0 && bytes[walk + 2] == 1)) {
                    ++walk;
                }
                ASSERT_EQ(nextStartCodePrefix(bytes.data(), from, end), walk) << from << " " << end;
                ASSERT_EQ(nextStartCodePrefixDense(bytes.data(), from, end), walk)
                    << from << " " << end;
            }
        }
    }
}

// The longest run of bytes taken in pieces of any size against a walk over
// them one by one: its byte, length and start (the earlier of equal runs),
// the current run, and the start a search with no byte gives. The long
// rounds pass the length from which the search goes by probes, with runs
// just shorter, as long and longer than the longest, across pieces.
TEST(FieldReaders, LongestRunInPiecesAsAWalk) {
    std::mt19937 rng(5);
    for (int round = 0; round < 600; ++round) {
        const bool longRound = round % 2 == 1;
        const size_t size = rng() % (longRound ? 6000 : 400);
        const size_t longest = longRound ? LongestRun::kSkipFrom * 4 : 90;
        std::vector<uint8_t> bytes;
        while (bytes.size() < size) {
            const size_t length = rng() % 3 ? 1 : 1 + rng() % (rng() % 2 ? 5 : longest);
            bytes.insert(bytes.end(), length, uint8_t(rng() % (rng() % 2 ? 3 : 256)));
        }
        const uint64_t first = rng() % 1000;
        const uint32_t largestPiece = longRound && rng() % 2 ? 700 : 40;
        LongestRun search;
        search.restart(first);
        for (size_t done = 0; done < bytes.size();) {
            const uint32_t piece =
                std::min<uint32_t>(1 + rng() % largestPiece, bytes.size() - done);
            search.take(bytes.data() + done, piece, first + done);
            done += piece;
        }
        LongestRun::Run walk{0, 0, first}, best = walk;
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == walk.byte) {
                ++walk.length;
                continue;
            }
            if (walk.length > best.length) best = walk;
            walk = {bytes[i], 1, first + i};
        }
        if (walk.length > best.length) best = walk;
        SCOPED_TRACE(round);
        EXPECT_EQ(search.current().byte, walk.byte);
        EXPECT_EQ(search.current().length, walk.length);
        EXPECT_EQ(search.current().start, walk.start);
        EXPECT_EQ(search.longest().byte, best.byte);
        EXPECT_EQ(search.longest().length, best.length);
        EXPECT_EQ(search.longest().start, best.start);
    }
}

TEST(NumberText, IsDecimal) {
    EXPECT_TRUE(isDecimal("100"));
    EXPECT_TRUE(isDecimal("-100"));
    EXPECT_TRUE(isDecimal("-"));  // a lone sign passes; the callers decide what it means
    EXPECT_FALSE(isDecimal(""));
    EXPECT_FALSE(isDecimal("1 0"));
    EXPECT_FALSE(isDecimal("+5"));
    EXPECT_FALSE(isDecimal("12a"));
    EXPECT_FALSE(isDecimal("--1"));
}

TEST(NumberText, ProgressPercentUsesUnsignedDivision) {
    EXPECT_EQ(progressPercent(999, 1000), 99u);
    EXPECT_EQ(progressPercent(1098, 1099), 109u);  // 1098 / (1099 / 100) can pass 100
    EXPECT_EQ(progressPercent(1050, 1050), 105u);
    EXPECT_EQ(progressPercent(3, 7), 42u);
    EXPECT_EQ(progressPercent(4294967294u, 4294967295u), 100u);
    EXPECT_EQ(progressPercent(0, 0), 0u);
}

}  // namespace
}  // namespace mpg
