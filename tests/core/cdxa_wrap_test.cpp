// A rip's repaired stream written as a rip again: the clean fixture comes
// back byte for byte, repaired damaged fixtures walk clean and unwrap to the
// plain repair, and randomly cut streams are numbered as the rule says.
#include "stream/cdxa_wrap.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "repair/strategies.h"
#include "repair/writer.h"
#include "support/recording_sink.h"
#include "support/scanned.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

using test::readFile;

constexpr uint8_t kEnds = kSubmodeEndOfRecord | kSubmodeEndOfFile;

// One sector of a .dat as the tests look at it.
struct DatSector {
    uint32_t address = 0;
    std::array<uint8_t, 4> subheader{};
    std::vector<uint8_t> payload;
    std::vector<uint8_t> raw;
};

struct Dat {
    std::vector<uint8_t> header;
    std::vector<DatSector> sectors;
};

Dat parseDat(const std::vector<uint8_t>& bytes) {
    Dat dat;
    const std::optional<Position> start = cdxaDataOffset(bytes.data(), bytes.size());
    EXPECT_TRUE(start.has_value());
    const size_t at = static_cast<size_t>(start.value_or(0));
    dat.header.assign(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(at));
    for (size_t p = at; p + kCdSectorSize <= bytes.size(); p += kCdSectorSize) {
        const uint8_t* s = bytes.data() + p;
        DatSector sector;
        sector.address = cdAddressFrames(s + kCdHeaderAt).value_or(~0u);
        std::copy(s + kCdSubheaderAt, s + kCdSubheaderAt + 4, sector.subheader.begin());
        sector.payload.assign(s + kCdUserDataAt, s + kCdUserDataAt + kCdForm2Payload);
        sector.raw.assign(s, s + kCdSectorSize);
        dat.sectors.push_back(std::move(sector));
    }
    return dat;
}

std::vector<uint8_t> payloads(const Dat& dat) {
    std::vector<uint8_t> out;
    for (const DatSector& s : dat.sectors)
        out.insert(out.end(), s.payload.begin(), s.payload.end());
    return out;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

SectorWalk walkBytes(const test::TempDir& dir, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.write("walked.dat", bytes);
    const int fd = ::open(path.c_str(), O_RDONLY);
    SectorWalk walk =
        walkSectors(fd, path, cdxaDataOffset(bytes.data(), bytes.size()).value_or(0), bytes.size());
    ::close(fd);
    return walk;
}

// The checks every wrapped output passes: the header's sizes, a walk
// without faults, the stream padded to whole sectors, the ends marked on
// the last sector only.
void expectSoundWrap(const test::TempDir& dir, const std::vector<uint8_t>& wrapped,
                     const std::vector<uint8_t>& stream) {
    ASSERT_GE(wrapped.size(), kCdxaHeaderSize);
    const Dat dat = parseDat(wrapped);
    EXPECT_EQ(dat.header.size(), kCdxaHeaderSize);
    const size_t sectors = (stream.size() + kCdForm2Payload - 1) / kCdForm2Payload;
    ASSERT_EQ(dat.sectors.size(), sectors);
    EXPECT_EQ(wrapped.size(), kCdxaHeaderSize + sectors * kCdSectorSize);
    EXPECT_EQ(le32(wrapped, 4), wrapped.size() - 8);
    EXPECT_EQ(le32(wrapped, 40), sectors * kCdSectorSize);
    const SectorWalk walk = walkBytes(dir, wrapped);
    EXPECT_FALSE(walk.failure);
    EXPECT_TRUE(walk.faults.empty()) << walk.faults.size() << " faults, the first at sector "
                                     << (walk.faults.empty() ? 0 : walk.faults[0].sector);
    std::vector<uint8_t> padded = stream;
    padded.resize(sectors * kCdForm2Payload, 0);
    EXPECT_TRUE(payloads(dat) == padded);
    for (size_t k = 0; k < sectors; ++k) {
        EXPECT_EQ(dat.sectors[k].subheader[2] & kEnds, k + 1 == sectors ? kEnds : 0) << k;
    }
}

// Scans `bytes` as the file `name` of `dir` and saves its stream wrapped as
// out.dat there; the save's failure, none when it saved. The input stays.
Failure scanAndWrap(const test::TempDir& dir, const std::string& name,
                    const std::vector<uint8_t>& bytes) {
    test::Scanned s;
    EXPECT_TRUE(s.scan(dir.write(name, bytes)));
    test::GridSink sink(s.grid);
    SaveParams params{s.path, dir.file("out.dat")};
    params.wrapDat = true;
    const Failure failure = saveRepairedStream(s.state, params, sink);
    s.state.view.closeFile();
    EXPECT_TRUE(readFile(s.path) == bytes);
    return failure;
}

// Scans `rip` as the file `name` of `dir`, repairs it automatically and
// saves the stream twice there: plain.mpg and, wrapped, again.dat. The rip
// stays as it was.
void repairBothWays(const test::TempDir& dir, const std::string& name,
                    const std::vector<uint8_t>& rip) {
    test::Scanned s;
    ASSERT_TRUE(s.scan(dir.write(name, rip)));
    QuietRepairProgress progress;
    (void)applyStrategy(s.state, s.grid, Strategy::Automatic, RepairOptions{}, s.path, progress);
    test::GridSink sink(s.grid);
    ASSERT_FALSE(saveRepairedStream(s.state, {s.path, dir.file("plain.mpg")}, sink));
    SaveParams params{s.path, dir.file("again.dat")};
    params.wrapDat = true;
    ASSERT_FALSE(saveRepairedStream(s.state, params, sink));
    s.state.view.closeFile();
    EXPECT_TRUE(readFile(s.path) == rip);
}

TEST(CdxaWrap, CleanRipComesBackByteForByte) {
    test::TempDir dir;
    const std::vector<uint8_t> rip = readFile(test::fixture("vcd-mplex.dat"));
    EXPECT_FALSE(scanAndWrap(dir, "AVSEQ01.DAT", rip));
    EXPECT_TRUE(readFile(dir.file("out.dat")) == rip);
}

// A save stopped after its first block keeps a whole rip of what it wrote.
TEST(CdxaWrap, StoppedSaveKeepsAWholeRip) {
    test::TempDir dir;
    const std::vector<uint8_t> rip = readFile(test::fixture("vcd-mplex.dat"));
    test::Scanned s;
    ASSERT_TRUE(s.scan(dir.write("rip.dat", rip)));
    test::ActAtFirstProgress sink(s.grid, [&] { s.state.job.stopRequested = true; });
    SaveParams params{s.path, dir.file("out.dat")};
    params.wrapDat = true;
    const Failure failure = saveRepairedStream(s.state, params, sink);
    s.state.view.closeFile();
    EXPECT_EQ(failure.kind, FailureKind::Stopped);
    const std::vector<uint8_t> kept = readFile(dir.file("out.dat"));
    EXPECT_EQ(failure.position, kept.size());
    const Dat dat = parseDat(kept);
    ASSERT_FALSE(dat.sectors.empty());
    const uint64_t firstBlock = s.state.table[0].declaredSize;
    const std::vector<uint8_t> stream = payloads(parseDat(rip));
    expectSoundWrap(dir, kept, {stream.begin(), stream.begin() + firstBlock});
    EXPECT_TRUE(readFile(s.path) == rip);
}

// The perl script that made the fixture chose each sector's subheader by the
// pack it holds, as authoring tools do; the stage's choice agrees.
TEST(CdxaWrap, SubheaderFollowsThePacksAsTheFixtureScriptChose) {
    const Dat dat = parseDat(readFile(test::fixture("vcd-mplex.dat")));
    std::map<int, int> kinds;
    for (size_t k = 0; k < dat.sectors.size(); ++k) {
        std::array<uint8_t, 4> expected = dat.sectors[k].subheader;
        expected[2] &= ~kEnds;
        EXPECT_EQ(subheaderForPayload(dat.sectors[k].payload.data()), expected) << k;
        ++kinds[expected[2]];
    }
    // Video, audio and neither all occur.
    EXPECT_EQ(kinds.size(), 3u);
}

TEST(CdxaWrap, RepairedDamagedRipsWalkCleanAndUnwrapToThePlainRepair) {
    const std::map<std::string, std::string> values = test::fixtureValues("vcd-dat.txt");
    const Dat clean = parseDat(readFile(test::fixture("vcd-mplex.dat")));
    for (const char* key : {"flip", "zero", "missing", "duplicate", "sync"}) {
        SCOPED_TRACE(key);
        test::TempDir dir;
        const std::vector<uint8_t> rip =
            readFile(test::fixture(values.at(std::string(key) + "_file")));
        repairBothWays(dir, "rip.dat", rip);

        const std::vector<uint8_t> plain = readFile(dir.file("plain.mpg"));
        const std::vector<uint8_t> wrapped = readFile(dir.file("again.dat"));
        expectSoundWrap(dir, wrapped, plain);
        // Up to the first sector the repair changed, each sector is the
        // clean rip's but for its EDC (a flipped byte gets a fresh one).
        const Dat out = parseDat(wrapped);
        size_t same = 0;
        while (same < out.sectors.size() && same < clean.sectors.size() &&
               out.sectors[same].payload == clean.sectors[same].payload) {
            ++same;
        }
        EXPECT_GT(same, 0u);
        for (size_t k = 0; k < same; ++k) {
            EXPECT_TRUE(std::equal(out.sectors[k].raw.begin(), out.sectors[k].raw.end() - 4,
                                   clean.sectors[k].raw.begin()))
                << k;
        }
        // Addresses go on from the rip's first one, one by one.
        for (size_t k = 0; k < out.sectors.size(); ++k) {
            EXPECT_EQ(out.sectors[k].address, kCdFirstTrackFrame + k) << k;
        }
    }
}

// Writes `stream` through the stage over the rip at `ripPath` in pieces of
// random sizes; the output's bytes.
std::vector<uint8_t> wrapThroughStage(const test::TempDir& dir, const std::string& ripPath,
                                      const SectorLayout& layout,
                                      const std::vector<uint8_t>& stream, std::mt19937& random) {
    const int fd = ::open(ripPath.c_str(), O_RDONLY);
    struct stat st {};
    ::fstat(fd, &st);
    CdxaWrapStage stage(layout, fd, ripPath, static_cast<Position>(st.st_size));
    OutputFile out;
    const std::string path = dir.file("wrapped.dat");
    EXPECT_FALSE(out.create(path, {ripPath}, Existing::Replace));
    out.setStage(&stage);
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(stream.size() - at, random() % 9000 + 1);
        EXPECT_TRUE(out.append(stream.data() + at, n));
        at += n;
        EXPECT_EQ(out.written(), at);
    }
    EXPECT_FALSE(out.finish());
    ::close(fd);
    return readFile(path);
}

// Random cuts, overwrites and additions to a rip's stream, the result
// wrapped and compared with the rule: the rip's own address while the
// sector's bytes are the rip's sector's at the same place and the addresses
// run on, the next address after that; an unchanged sector's subheader, and
// for a sector equal to any of the rip's, that sector's (the fixture
// script's choice).
TEST(CdxaWrap, RandomCutsFollowTheNumberingRule) {
    const std::map<std::string, std::string> values = test::fixtureValues("vcd-dat.txt");
    std::mt19937 random(2112);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        test::TempDir dir;
        // The clean rip, or the one with a sector missing: its addresses jump.
        const std::string name = round % 2 == 0 ? "vcd-mplex.dat" : values.at("missing_file");
        const std::vector<uint8_t> ripBytes = readFile(test::fixture(name));
        const std::string ripPath = dir.write("rip.dat", ripBytes);
        const Dat rip = parseDat(ripBytes);
        const SectorWalk walk = walkBytes(dir, ripBytes);
        const std::vector<uint8_t> original = payloads(rip);
        std::vector<uint8_t> stream = original;
        const int edits = static_cast<int>(random() % 4);
        for (int e = 0; e < edits && stream.size() > 10'000; ++e) {
            const size_t at = random() % (stream.size() - 8'000);
            switch (random() % 4) {
                case 0:  // a cut of a few bytes
                    stream.erase(stream.begin() + at, stream.begin() + at + random() % 3000 + 1);
                    break;
                case 1: {  // whole sectors cut on the sector grid
                    const size_t from = at / kCdForm2Payload * kCdForm2Payload;
                    stream.erase(stream.begin() + from,
                                 stream.begin() + from + kCdForm2Payload * (random() % 2 + 1));
                    break;
                }
                case 2:  // bytes changed in place
                    stream[at] ^= 0x5A;
                    break;
                default:  // the end cut short
                    stream.resize(at + 1);
                    break;
            }
        }
        // Now and then longer than the rip, past the writer's buffer: the
        // header's sizes are then written into the file, not the buffer.
        if (random() % 3 == 0) stream.insert(stream.end(), original.begin(), original.end());
        if (random() % 3 == 0) stream.insert(stream.end(), original.begin(), original.end());

        const std::vector<uint8_t> wrapped =
            wrapThroughStage(dir, ripPath, walk.layout, stream, random);
        expectSoundWrap(dir, wrapped, stream);
        const Dat out = parseDat(wrapped);
        std::map<std::vector<uint8_t>, std::array<uint8_t, 4>> subheaderOf;
        for (const DatSector& s : rip.sectors) subheaderOf[s.payload] = s.subheader;
        size_t first = 0;  // the first sector numbered anew
        while (first < out.sectors.size() && first < rip.sectors.size() &&
               out.sectors[first].payload == rip.sectors[first].payload &&
               (first == 0 || rip.sectors[first].address == rip.sectors[first - 1].address + 1)) {
            ++first;
        }
        for (size_t k = 0; k < out.sectors.size(); ++k) {
            const uint32_t expected =
                k < first ? rip.sectors[k].address
                          : (first == 0 ? rip.sectors[0].address : rip.sectors[first - 1].address) +
                                static_cast<uint32_t>(k - first) + (first == 0 ? 0 : 1);
            ASSERT_EQ(out.sectors[k].address, expected) << "sector " << k << ", first " << first;
            std::array<uint8_t, 4> sub = out.sectors[k].subheader;
            sub[2] &= ~kEnds;
            const auto known = subheaderOf.find(out.sectors[k].payload);
            if (known != subheaderOf.end()) {
                std::array<uint8_t, 4> expectedSub = known->second;
                expectedSub[2] &= ~kEnds;
                EXPECT_EQ(sub, expectedSub) << k;
            }
        }
    }
}

TEST(CdxaWrap, RefusedForAPlainStreamAndPastTheLastAddress) {
    test::TempDir dir;
    EXPECT_EQ(scanAndWrap(dir, "plain.mpg", readFile(test::fixture("vcd-mplex.mpg"))).kind,
              FailureKind::NotADat);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"plain.mpg"});
    // A rip whose addresses begin a few seconds before 99:59:74 has no
    // addresses for all its sectors: nothing is left behind.
    std::vector<uint8_t> rip = readFile(test::fixture("vcd-mplex.dat"));
    const uint32_t start = kCdLastFrame - 70;
    for (size_t k = 0, at = kCdxaHeaderSize; at + kCdSectorSize <= rip.size();
         ++k, at += kCdSectorSize) {
        const uint32_t f = start + static_cast<uint32_t>(k);
        const auto bcd = [](uint32_t n) { return static_cast<uint8_t>((n / 10) << 4 | n % 10); };
        const uint32_t minutes = std::min<uint32_t>(f / (60 * 75), 99);
        rip[at + kCdHeaderAt] = bcd(minutes);
        rip[at + kCdHeaderAt + 1] = bcd(f / 75 % 60);
        rip[at + kCdHeaderAt + 2] = bcd(f % 75);
    }
    test::TempDir late;
    const Failure tooLate = scanAndWrap(late, "late.dat", rip);
    EXPECT_EQ(tooLate.kind, FailureKind::NoRoomInDat);
    EXPECT_EQ(failureText(tooLate), "ошибка сохранения файла: " + late.file("out.dat") +
                                        ": поток не помещается в .dat (4 ГиБ RIFF или 100 "
                                        "минут диска)");
    EXPECT_EQ(test::listFolder(late.path()), std::vector<std::string>{"late.dat"});
}

// Zeros put into the packets of a rip whose stream does not fill its last
// sector (the ripper filled it out behind the end code) are cut out by the
// repair, which moves every later pack off the start of its sector; the
// wrap fills out the last sector behind the end code anew. The rewrapped rip scans as its plain
// stream does, and clean where the repair restored the stream.
TEST(CdxaWrap, RipsRepairedByCutsScanAsTheirPlainStream) {
    std::mt19937 random(1958);
    size_t restored = 0;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        test::TempDir dir;
        const std::vector<uint8_t> cleanRip = readFile(test::fixture("vcd-mplex.dat"));
        const std::string cleanPath = dir.write("clean.dat", cleanRip);
        const SectorWalk walk = walkBytes(dir, cleanRip);
        std::vector<uint8_t> stream = payloads(parseDat(cleanRip));
        // Without the padding packet in front of its end code the stream no
        // longer fills its last sector (not every muxer writes one).
        const std::array<uint8_t, 4> padding = {0x00, 0x00, 0x01, 0xBE};
        const auto last =
            std::find_end(stream.begin(), stream.end(), padding.begin(), padding.end());
        ASSERT_NE(last, stream.end());
        stream.erase(last, last + 6 + (last[4] << 8 | last[5]));
        // Runs of zeros the repair cuts out exactly; in odd rounds bytes of
        // any value, which leave the stream longer or shorter than it was.
        for (int e = 0; e < 1 + round % 3; ++e) {
            const size_t at = 20'000 + random() % (stream.size() - 40'000);
            std::vector<uint8_t> run(1 + random() % 3000, 0);
            if (round % 2 == 1) {
                for (uint8_t& b : run) b = static_cast<uint8_t>(random());
            }
            stream.insert(stream.begin() + static_cast<ptrdiff_t>(at), run.begin(), run.end());
        }
        const std::vector<uint8_t> rip =
            wrapThroughStage(dir, cleanPath, walk.layout, stream, random);
        repairBothWays(dir, "damaged.dat", rip);

        test::Scanned plain, again;
        ASSERT_TRUE(plain.scan(dir.file("plain.mpg")));
        ASSERT_TRUE(again.scan(dir.file("again.dat")));
        EXPECT_TRUE(again.state.sectorFaults.empty());
        EXPECT_EQ(countListed(again.state.table), countListed(plain.state.table));
        restored += countListed(again.state.table) == 0 ? 1 : 0;
    }
    EXPECT_GE(restored, 6u);
}

}  // namespace
}  // namespace mpg
