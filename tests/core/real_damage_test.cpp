// The generator of damage as real files suffer it, checked against its own
// ground truth: the copy made again from the clean bytes by the splices, the
// clean bytes got back from the copy, and for each kind what the damage must
// look like in the bytes (zeros at chunk boundaries, whole sectors gone, a
// rip's EDC failing, the clock moved on by one offset everywhere after a
// resumed recording, an ASCII transfer undone by the other direction).
#include <gtest/gtest.h>

#include <bit>
#include <map>

#include "model/headers.h"
#include "stream/cdxa.h"
#include "support/real_damage.h"

namespace mpg {
namespace {

using namespace test;

const std::vector<SourceFile>& sources() {
    static const std::vector<SourceFile> all = [] {
        std::vector<SourceFile> out;
        for (const char* name :
             {"av.mpg", "vcd-2324.mpg", "svcd-mplex.mpg", "dvd.mpg", "vob.mpg", "vcd-mplex.dat"}) {
            std::optional<SourceFile> f = loadSourceFile(std::string(MPGMEND_TEST_DATA "/") + name);
            if (f) out.push_back(std::move(*f));
        }
        return out;
    }();
    return all;
}

bool allBytes(const std::vector<uint8_t>& b, uint8_t v) {
    return std::all_of(b.begin(), b.end(), [v](uint8_t x) { return x == v; });
}

bool startsWith(const std::vector<uint8_t>& b, size_t at, const std::string& s) {
    return at + s.size() <= b.size() && std::equal(s.begin(), s.end(), b.begin() + at);
}

// The SCR of every pack the damaged copy holds behind the resume, against
// the clean stream's SCR of the same pack: one jump, the same for all.
void checkClockJump(const SourceFile& f, const RealDamaged& d) {
    const Splice& stop = d.splices.front();
    ASSERT_TRUE(stop.after.empty());
    const size_t resume = stop.in + stop.before.size();
    std::optional<uint64_t> jump;
    size_t packs = 0;
    for (const BlockRecord& b : f.blocks) {
        if (b.code != kPackStartCode || b.offset < resume) continue;
        const size_t out = b.offset - stop.before.size();
        const std::optional<uint64_t> before = packScr(f.bytes.data() + b.offset);
        const std::optional<uint64_t> after = packScr(d.bytes.data() + out);
        ASSERT_TRUE(before && after);
        const uint64_t delta = (*after - *before) & ((uint64_t{1} << 33) - 1);
        if (!jump) jump = delta;
        EXPECT_EQ(delta, *jump) << "pack at " << b.offset;
        ++packs;
    }
    EXPECT_GT(packs, 0U);
    EXPECT_GE(jump.value_or(0), 90'000U);
}

// What each kind must have done, read from its splices and the bytes.
void checkKind(const SourceFile& f, const RealDamaged& d) {
    const std::vector<Splice>& s = d.splices;
    const auto sameLength = [&] {
        for (const Splice& x : s) EXPECT_EQ(x.before.size(), x.after.size()) << x.what;
    };
    switch (d.damage) {
        case RealDamage::CdMisread: {
            ASSERT_EQ(s.size(), 1U);
            sameLength();
            const size_t sector = (s[0].in - f.sectorStart) / f.sectorSize;
            EXPECT_EQ((s[0].in + s[0].before.size() - 1 - f.sectorStart) / f.sectorSize, sector);
            if (f.rip) {
                const uint8_t* raw = d.bytes.data() + f.sectorStart + sector * f.sectorSize;
                uint32_t stored = 0;
                for (int k = 3; k >= 0; --k) stored = (stored << 8) | raw[2348 + k];
                EXPECT_NE(cdSectorEdc(raw + 16, 2332), stored);
            }
            break;
        }
        case RealDamage::ZeroHoles:
        case RealDamage::StoppedDownload:
            sameLength();
            for (const Splice& x : s) {
                EXPECT_EQ(x.in % 4096, 0U);
                EXPECT_TRUE(allBytes(x.after, 0));
            }
            if (d.damage == RealDamage::StoppedDownload) {
                EXPECT_EQ(s.back().in + s.back().before.size(), f.bytes.size());
            }
            break;
        case RealDamage::LostSectors:
            for (const Splice& x : s) {
                EXPECT_TRUE(x.after.empty());
                EXPECT_EQ((x.in - f.sectorStart) % f.sectorSize, 0U);
                EXPECT_EQ(x.before.size() % f.sectorSize, 0U);
            }
            break;
        case RealDamage::ClusterOver:
        case RealDamage::ClusterInserted:
            ASSERT_EQ(s.size(), 1U);
            EXPECT_EQ(s[0].in % 4096, 0U);
            EXPECT_EQ(s[0].after.size(), 4096U);
            EXPECT_EQ(s[0].before.size(), d.damage == RealDamage::ClusterOver ? 4096U : 0U);
            break;
        case RealDamage::BitFlips: {
            int flipped = 0;
            for (const Splice& x : s) {
                ASSERT_EQ(x.before.size(), 1U);
                ASSERT_EQ(x.after.size(), 1U);
                flipped += std::popcount(static_cast<unsigned>(x.before[0] ^ x.after[0]));
            }
            EXPECT_GE(flipped, 1);
            EXPECT_LE(flipped, 16);
            break;
        }
        case RealDamage::CutShort:
        case RealDamage::TwoDownloads:
            ASSERT_EQ(s.size(), 1U);
            EXPECT_TRUE(s[0].after.empty());
            EXPECT_EQ(s[0].in + s[0].before.size() == f.bytes.size(),
                      d.damage == RealDamage::CutShort);
            break;
        case RealDamage::ResumedAtPacket:
        case RealDamage::ResumedInside:
            checkClockJump(f, d);
            break;
        case RealDamage::Id3v2Front:
        case RealDamage::Id3v2Over: {
            ASSERT_EQ(s.size(), 1U);
            EXPECT_EQ(s[0].in, 0U);
            ASSERT_TRUE(startsWith(d.bytes, 0, "ID3"));
            size_t size = 0;
            for (int k = 6; k < 10; ++k) size = (size << 7) | d.bytes[k];
            EXPECT_EQ(size + 10, s[0].after.size());
            EXPECT_EQ(s[0].before.empty(), d.damage == RealDamage::Id3v2Front);
            break;
        }
        case RealDamage::Id3v1End:
            EXPECT_TRUE(startsWith(d.bytes, d.bytes.size() - 128, "TAG"));
            break;
        case RealDamage::ApeEnd:
            EXPECT_TRUE(startsWith(d.bytes, f.bytes.size(), "APETAGEX"));
            EXPECT_TRUE(startsWith(d.bytes, d.bytes.size() - 32, "APETAGEX"));
            break;
        case RealDamage::LfToCrlf:
        case RealDamage::CrlfToLf: {
            // The other direction gives the clean file back.
            const bool toCrlf = d.damage == RealDamage::LfToCrlf;
            SourceFile copy = f;
            copy.bytes = d.bytes;
            std::mt19937_64 rng(1);
            const std::optional<RealDamaged> back =
                damageFile(copy, toCrlf ? RealDamage::CrlfToLf : RealDamage::LfToCrlf, rng);
            ASSERT_TRUE(back);
            if (toCrlf) {
                EXPECT_EQ(back->bytes, f.bytes);
            }
            break;
        }
        case RealDamage::RunsInPackets:
            for (const Splice& x : s) EXPECT_TRUE(x.before.empty() || x.after.empty());
            break;
    }
}

// Every kind over every kind of stream, a few seeds each.
TEST(RealDamageTest, GroundTruthMatchesTheCopy) {
    ASSERT_EQ(sources().size(), 6U);
    std::map<RealDamage, int> made;
    for (const SourceFile& f : sources()) {
        for (const RealDamage kind : kRealDamages) {
            for (uint64_t seed = 1; seed <= 3; ++seed) {
                SCOPED_TRACE(f.name + " " + realDamageName(kind) + " seed " + std::to_string(seed));
                std::mt19937_64 rng(seed);
                const std::optional<RealDamaged> d = damageFile(f, kind, rng);
                if (!d) continue;
                ++made[kind];
                ASSERT_FALSE(d->splices.empty());
                EXPECT_NE(d->bytes, f.bytes);
                EXPECT_EQ(applySplices(f.bytes, d->splices), d->bytes);
                EXPECT_EQ(undoSplices(d->bytes, d->splices), f.bytes);
                for (size_t k = 1; k < d->splices.size(); ++k) {
                    const Splice& a = d->splices[k - 1];
                    EXPECT_LE(a.in + a.before.size(), d->splices[k].in);
                    EXPECT_LE(a.out + a.after.size(), d->splices[k].out);
                }
                checkKind(f, *d);
                // One seed, one copy.
                std::mt19937_64 again(seed);
                EXPECT_EQ(damageFile(f, kind, again)->bytes, d->bytes);
            }
        }
    }
    // Each kind applies to the streams it is meant for; CR LF pairs are rare
    // in a short stream, so that one may find none.
    for (const RealDamage kind : kRealDamages) {
        if (kind != RealDamage::CrlfToLf) {
            EXPECT_GE(made[kind], 15) << realDamageName(kind);
        }
    }
}

// A ground truth that does not fit the bytes it is applied to undoes
// nothing: the model cannot pass a generator that records the wrong place.
TEST(RealDamageTest, SplicesThatDoNotFitAreRefused) {
    const std::vector<uint8_t> clean = {1, 2, 3, 4, 5, 6};
    Splice s;
    s.in = 2;
    s.out = 2;
    s.before = {3, 4};
    s.after = {9};
    EXPECT_EQ(applySplices(clean, {s}), (std::vector<uint8_t>{1, 2, 9, 5, 6}));
    EXPECT_EQ(undoSplices({1, 2, 9, 5, 6}, {s}), clean);
    Splice wrong = s;
    wrong.before = {4, 4};  // not the bytes at 2
    EXPECT_TRUE(applySplices(clean, {wrong}).empty());
    wrong = s;
    wrong.out = 3;  // not where the copy holds them
    EXPECT_TRUE(undoSplices({1, 2, 9, 5, 6}, {wrong}).empty());
    Splice past = s;
    past.in = 5;  // runs past the end
    EXPECT_TRUE(applySplices(clean, {past}).empty());
    EXPECT_TRUE(applySplices(clean, {s, s}).empty());  // overlapping
}

}  // namespace
}  // namespace mpg
