// Video CD rips (.dat): the EDC, the sector walk against the damaged fixtures
// and against randomly damaged copies, and the stream seen through the layout.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "stream/cdxa.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

std::map<std::string, std::string> sidecar() {
    return test::fixtureValues("vcd-dat.txt");
}

uint64_t number(const std::string& text) {
    return std::stoull(text, nullptr, 0);
}

uint32_t frames(const std::string& mmssff) {
    return (std::stoul(mmssff.substr(0, 2)) * 60 + std::stoul(mmssff.substr(3, 2))) * 75 +
           std::stoul(mmssff.substr(6, 2));
}

SectorWalk walkFile(const std::string& path) {
    const std::vector<uint8_t> bytes = test::readFile(path);
    const std::optional<Position> start = cdxaDataOffset(bytes.data(), bytes.size());
    EXPECT_TRUE(start.has_value());
    const int fd = ::open(path.c_str(), O_RDONLY);
    SectorWalk walk = walkSectors(fd, path, start.value_or(0), bytes.size());
    ::close(fd);
    return walk;
}

// The whole stream as the view presents it.
std::vector<uint8_t> unwrapped(StreamView& view) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(view.readPieces(0, view.streamSize(), [&](const uint8_t* b, uint32_t n, Position) {
        out.insert(out.end(), b, b + n);
        return true;
    }));
    return out;
}

TEST(Cdxa, EdcMatchesItsCheckValueAndABitByBitSum) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(cdEdc(digits, sizeof digits), 0x6EC2EDC4u);
    // Continued from any split, the sum is the same.
    for (size_t split = 0; split <= sizeof digits; ++split) {
        EXPECT_EQ(cdEdc(digits + split, sizeof digits - split, cdEdc(digits, split)), 0x6EC2EDC4u);
    }
    const auto values = sidecar();
    const std::vector<uint8_t> dat = test::readFile(test::fixture("vcd-mplex.dat"));
    const size_t sector =
        number(values.at("data_offset")) + number(values.at("edc_sector")) * kCdSectorSize;
    EXPECT_EQ(cdEdc(dat.data() + sector + 16, 2332), number(values.at("edc_value")));
    EXPECT_EQ(cdSectorEdc(dat.data() + sector + 16, 2332), number(values.at("edc_value")));
    // The sector sums agree with the plain one on any bytes.
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(2400);
    for (int round = 0; round < 20; ++round) {
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        for (const size_t n : {size_t{2332}, size_t{2056}, size_t{100}}) {
            EXPECT_EQ(cdSectorEdc(bytes.data(), n), cdEdc(bytes.data(), n)) << n;
        }
    }
}

// The fault list keeps regular rows as runs: whatever rows are listed,
// runs of one or two rows a sector broken off anywhere by odd ones, it reads
// them back in order, by iteration and by index, as it does the rows of a
// walk over a rip whose every sector went wrong.
TEST(Cdxa, FaultListReadsBackEveryRowItWasGiven) {
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const auto pick = [&](uint32_t n) {
            return std::uniform_int_distribution<uint32_t>(0, n - 1)(random);
        };
        SectorFaultList list;
        std::vector<SectorFaultRow> given;
        Position sector = 0, stream = 0, file = 44;
        while (given.size() < 3000) {
            const uint32_t pattern = pick(4);
            const uint32_t sectors = 1 + pick(pattern == 3 ? 2 : 60);
            const uint32_t step = pick(5) == 0 ? 0 : 1;  // addresses may stay
            for (uint32_t k = 0; k < sectors; ++k) {
                const uint32_t address = static_cast<uint32_t>(sector) * step + 300;
                const uint32_t payload = pattern == 3 ? 1 + pick(2324) : 2324;
                SectorFaultRow row{sector, address,    SectorFault::Unreadable,
                                   1,      stream,     stream + payload,
                                   file,   file + 2352};
                if (pattern >= 1) row.fault = SectorFault::DamagedHeader;
                list.push_back(row);
                given.push_back(row);
                if (pattern == 2 || (pattern == 1 && pick(8) == 0)) {
                    row.fault = SectorFault::BadChecksum;
                    list.push_back(row);
                    given.push_back(row);
                }
                ++sector;
                stream += payload;
                file += 2352;
            }
        }
        ASSERT_EQ(list.size(), given.size());
        ASSERT_EQ(list.rows(), given);
        for (size_t i = 0; i < given.size(); i += 1 + pick(20)) ASSERT_EQ(list[i], given[i]) << i;
    }
    // A rip of 3,000 sectors, each with its header and its EDC bad, and
    // zeros behind them.
    std::vector<uint8_t> dat(44, 0);
    std::memcpy(dat.data(), "RIFF", 4);
    std::memcpy(dat.data() + 8, "CDXAfmt ", 8);
    dat[16] = 16;
    std::memcpy(dat.data() + 36, "data", 4);
    for (int k = 0; k < 3000; ++k) {
        std::vector<uint8_t> s(kCdSectorSize, 0);
        std::copy(kCdSync.begin(), kCdSync.end(), s.begin());
        s[12] = s[13] = s[14] = 0xFF;  // no address
        s[15] = 2;
        s[18] = s[22] = kCdForm2Bit;
        s[kCdSectorSize - 1] = 1;  // a wrong EDC
        dat.insert(dat.end(), s.begin(), s.end());
    }
    dat.resize(dat.size() + 2000 * kCdSectorSize, 0);
    test::TempDir dir;
    const SectorWalk walk = walkFile(dir.write("bad.dat", dat));
    ASSERT_EQ(walk.faults.size(), 8000u);
    EXPECT_EQ(walk.faults[5999].fault, SectorFault::BadChecksum);
    EXPECT_EQ(walk.faults[5999].sector, 2999u);
    EXPECT_EQ(walk.faults[7999].fault, SectorFault::Unreadable);
    EXPECT_EQ(walk.faults[7999].fileStart, 44 + 4999 * Position{kCdSectorSize});
}

TEST(Cdxa, HeaderChunksAndAddresses) {
    const std::vector<uint8_t> dat = test::readFile(test::fixture("vcd-mplex.dat"));
    EXPECT_EQ(cdxaDataOffset(dat.data(), dat.size()), number(sidecar().at("data_offset")));
    // A chunk of odd size is padded; a file without "data" or no CDXA is none.
    std::vector<uint8_t> odd = {'R', 'I', 'F', 'F', 0,   0,   0, 0, 'C', 'D', 'X',
                                'A', 'a', 'b', 'c', 'd', 3,   0, 0, 0,   1,   2,
                                3,   0,   'd', 'a', 't', 'a', 0, 0, 0,   0};
    EXPECT_EQ(cdxaDataOffset(odd.data(), odd.size()), odd.size());
    EXPECT_FALSE(cdxaDataOffset(odd.data(), odd.size() - 8));
    odd[8] = 'W';
    EXPECT_FALSE(cdxaDataOffset(odd.data(), odd.size()));
    const uint8_t address[] = {0x00, 0x04, 0x30};
    EXPECT_EQ(cdAddressFrames(address), frames("00:04:30"));
    const uint8_t notBcd[] = {0x00, 0x4A, 0x30};
    EXPECT_FALSE(cdAddressFrames(notBcd));
}

TEST(Cdxa, EachFixtureDamageIsListedAtItsSector) {
    const auto values = sidecar();
    const SectorWalk clean = walkFile(test::fixture("vcd-mplex.dat"));
    EXPECT_TRUE(clean.faults.empty());
    // A clean rip is one extent of regularly spaced sectors.
    ASSERT_EQ(clean.layout.extents().size(), 1u);
    EXPECT_EQ(clean.layout.extents()[0].count, number(values.at("sector_count")));

    const std::pair<const char*, SectorFault> damages[] = {
        {"flip", SectorFault::BadChecksum},   {"zero", SectorFault::Unreadable},
        {"missing", SectorFault::Missing},    {"duplicate", SectorFault::Duplicate},
        {"sync", SectorFault::DamagedHeader},
    };
    const uint32_t payload = kCdForm2Payload;
    for (const auto& [key, fault] : damages) {
        SCOPED_TRACE(key);
        const std::string prefix = std::string(key) + "_";
        const SectorWalk walk = walkFile(test::fixture(values.at(prefix + "file")));
        ASSERT_FALSE(walk.failure);
        ASSERT_EQ(walk.faults.size(), 1u);
        const SectorFaultRow& row = walk.faults[0];
        EXPECT_EQ(row.fault, fault);
        EXPECT_EQ(row.sector, number(values.at(prefix + "sector")));
        EXPECT_EQ(row.address, frames(values.at(prefix + "address")));
        const bool empty = fault == SectorFault::Missing || fault == SectorFault::Duplicate;
        EXPECT_EQ(row.streamStart, row.sector * payload);
        EXPECT_EQ(row.streamEnd, row.streamStart + (empty ? 0 : payload));
    }
    const std::string flipped = values.at("flip_file");
    const SectorFaultRow row = walkFile(test::fixture(flipped)).faults[0];
    const Position at = number(values.at("flip_stream_pos"));
    EXPECT_TRUE(row.streamStart <= at && at < row.streamEnd);
}

// Form 1 always carries its EDC: a stored zero there is checked like any
// other value, while in Form 2 it means that none was computed.
TEST(Cdxa, AZeroEdcIsCheckedInForm1Only) {
    std::vector<uint8_t> dat = test::readFile(test::fixture("vcd-mplex.dat"));
    const size_t head = static_cast<size_t>(*cdxaDataOffset(dat.data(), dat.size()));
    uint8_t* s = dat.data() + head + 3 * kCdSectorSize;
    s[kCdSubheaderAt + 2] &= static_cast<uint8_t>(~kCdForm2Bit);
    s[kCdSubheaderAt + 6] &= static_cast<uint8_t>(~kCdForm2Bit);
    const uint32_t edcAt = kCdUserDataAt + kCdForm1Payload;
    const uint32_t edc = cdEdc(s + kCdSubheaderAt, edcAt - kCdSubheaderAt);
    ASSERT_NE(edc, 0u);
    test::TempDir dir;
    for (const uint32_t stored : {edc, 0u}) {
        SCOPED_TRACE(stored);
        for (int i = 0; i < 4; ++i) s[edcAt + i] = static_cast<uint8_t>(stored >> (8 * i));
        const SectorWalk walk = walkFile(dir.write("form1.dat", dat));
        ASSERT_FALSE(walk.failure);
        if (stored == edc) {
            EXPECT_TRUE(walk.faults.empty());
        } else {
            ASSERT_EQ(walk.faults.size(), 1u);
            EXPECT_EQ(walk.faults[0].fault, SectorFault::BadChecksum);
            EXPECT_EQ(walk.faults[0].sector, 3u);
        }
    }
}

TEST(Cdxa, ViewUnwrapsTheStreamAndKeepsTheWalkedLayout) {
    test::TempDir dir;
    const std::vector<uint8_t> mpg = test::readFile(test::fixture("vcd-mplex.mpg"));
    const std::string path = dir.write("rip.dat", test::readFile(test::fixture("vcd-mplex.dat")));
    StreamView view;
    ASSERT_EQ(view.openStream(path), OpenStatus::Opened);
    ASSERT_NE(view.layout(), nullptr);
    EXPECT_FALSE(view.hasExactLayout());
    EXPECT_EQ(view.streamSize(), mpg.size());
    EXPECT_EQ(view.fileLength(), mpg.size());
    EXPECT_TRUE(unwrapped(view) == mpg);
    // Reads of every length from every kind of place inside a sector.
    std::vector<uint8_t> bytes;
    for (const Position pos :
         {Position{0}, Position{2323}, Position{2324}, Position{5000}, Position{mpg.size() - 7}}) {
        view.invalidateWindow();
        ASSERT_TRUE(view.readAt(pos, 7, bytes));
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), mpg.begin() + pos)) << pos;
    }

    // The duplicate copy: its walked layout leaves the second copy out.
    const std::string twice =
        dir.write("twice.dat", test::readFile(test::fixture(sidecar().at("duplicate_file"))));
    AppState state;
    ASSERT_EQ(openAndCheck(state, twice).result, CheckResult::Ok);
    EXPECT_TRUE(state.kind.cdxa);
    EXPECT_EQ(streamKindText(state.kind).rfind("VCD .dat (CDXA)", 0), 0u);
    ASSERT_EQ(state.view.openStream(twice), OpenStatus::Opened);
    test::RecordingSink sink;
    EXPECT_FALSE(scanStream(state, sink));
    EXPECT_TRUE(state.view.hasExactLayout());
    EXPECT_EQ(state.sectorFaults.size(), 1u);
    EXPECT_EQ(state.view.layout()->extents().size(), 2u);
    EXPECT_TRUE(unwrapped(state.view) == mpg);
    state.view.closeFile();
    // Opened again unchanged: the walked layout. Once touched it is no
    // longer the file scanned; opened afresh, it has the regular layout.
    ASSERT_TRUE(state.view.openFile(twice));
    EXPECT_TRUE(state.view.hasExactLayout());
    EXPECT_EQ(state.view.fileLength(), mpg.size());
    state.view.closeFile();
    const struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, twice.c_str(), times, 0), 0);
    EXPECT_FALSE(state.view.openFile(twice));
    EXPECT_EQ(state.view.failure().kind, FailureKind::InputChanged);
    ASSERT_EQ(state.view.openStream(twice), OpenStatus::Opened);
    EXPECT_FALSE(state.view.hasExactLayout());
    EXPECT_EQ(state.view.fileLength(), mpg.size() + kCdForm2Payload);
    // The open check forgets the sectors of the last scan.
    ASSERT_EQ(openAndCheck(state, twice).result, CheckResult::Ok);
    EXPECT_TRUE(state.sectorFaults.empty());
}

// A rip of `count` sectors: the clean fixture's sectors over and over,
// each with the address that follows the one before (the EDC does not sum
// the address, so each stays right).
std::vector<uint8_t> longRip(size_t count) {
    const std::vector<uint8_t> dat = test::readFile(test::fixture("vcd-mplex.dat"));
    const size_t head = static_cast<size_t>(*cdxaDataOffset(dat.data(), dat.size()));
    const size_t sectors =
        (dat.size() - head) / kCdSectorSize - 1;  // not the one with the end code
    std::vector<uint8_t> out(dat.begin(), dat.begin() + head);
    const auto bcd = [](uint32_t v) { return static_cast<uint8_t>((v / 10) << 4 | v % 10); };
    for (size_t k = 0; k < count; ++k) {
        const auto from = dat.begin() + head + (k % sectors) * kCdSectorSize;
        const size_t at = out.size();
        out.insert(out.end(), from, from + kCdSectorSize);
        const uint32_t f = 4 * 60 * 75 + static_cast<uint32_t>(k);
        out[at + 12] = bcd(f / 75 / 60);
        out[at + 13] = bcd(f / 75 % 60);
        out[at + 14] = bcd(f % 75);
    }
    return out;
}

TEST(Cdxa, WalkReportsProgressAndStops) {
    test::TempDir dir;
    const std::string path = dir.write("long.dat", longRip(6000));  // 14 MB
    const SectorWalk whole = walkFile(path);
    EXPECT_TRUE(whole.faults.empty());
    EXPECT_EQ(whole.layout.extents().size(), 1u);
    EXPECT_EQ(whole.layout.streamLength(), 6000u * kCdForm2Payload);

    AppState state;
    ASSERT_EQ(openAndCheck(state, path).result, CheckResult::Ok);
    ASSERT_EQ(state.view.openStream(path), OpenStatus::Opened);
    // Stopped at the first progress report: no layout is taken, no row kept.
    struct StopAtProgress : test::RecordingSink {
        std::atomic<bool>* stop = nullptr;
        bool stopped = false;
        void notify(const Notice& n) override {
            test::RecordingSink::notify(n);
            if (n.kind == Notify::Progress && !stopped) stop->store(stopped = true);
        }
    } sink;
    sink.stop = &state.job.stopRequested;
    EXPECT_FALSE(scanStream(state, sink));
    ASSERT_FALSE(sink.of(Notify::Progress).empty());
    EXPECT_LT(sink.of(Notify::Progress).front().payload, 100);
    EXPECT_FALSE(state.view.hasExactLayout());
    EXPECT_TRUE(state.table.empty());
    state.job.stopRequested = false;
    EXPECT_FALSE(scanStream(state, sink));
    EXPECT_TRUE(state.view.hasExactLayout());
    EXPECT_TRUE(state.sectorFaults.empty());
    EXPECT_FALSE(state.table.empty());
}

// Randomly damaged copies of the clean rip, each damage at a sector of its
// own with clean sectors around it, against a model of what was done: the
// rows the walk must list and the stream the layout must give.
TEST(Cdxa, RandomDamageAgainstAModel) {
    const std::vector<uint8_t> dat = test::readFile(test::fixture("vcd-mplex.dat"));
    const size_t head = static_cast<size_t>(*cdxaDataOffset(dat.data(), dat.size()));
    const size_t sectors = (dat.size() - head) / kCdSectorSize;
    const auto sectorAt = [&](size_t k) { return dat.begin() + head + k * kCdSectorSize; };
    test::TempDir dir;
    enum Damage { Flip, Zero, Drop, Twice, Sync, Junk, Address, Swap, NoEdc, Gap, None };
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const auto pick = [&](size_t n) {
            return std::uniform_int_distribution<size_t>(0, n - 1)(random);
        };
        std::vector<uint8_t> file(dat.begin(), dat.begin() + head), stream;
        std::vector<SectorFaultRow> expected;
        size_t written = 0;           // sectors in the new file
        size_t swapped = ~size_t{0};  // a sector written ahead of its turn
        for (size_t k = 0; k < sectors; ++k) {
            // Sector 0 stays clean: it has no predecessor to compare with.
            const Damage damage = k > 0 && k + 2 < sectors && k % 3 == 1 && pick(3) == 0
                                      ? static_cast<Damage>(pick(10))
                                      : None;
            if (k == swapped) continue;  // written before the one in front of it
            std::vector<uint8_t> s(sectorAt(k), sectorAt(k) + kCdSectorSize);
            const std::vector<uint8_t> payload(s.begin() + 24, s.begin() + 24 + kCdForm2Payload);
            const uint32_t address = *cdAddressFrames(s.data() + 12);
            const Position at = stream.size(), fileAt = file.size();
            switch (damage) {
                case Flip: {
                    const size_t i = 24 + pick(kCdForm2Payload);
                    s[i] ^= static_cast<uint8_t>(1 + pick(255));
                    expected.push_back({written, address, SectorFault::BadChecksum, 1, at,
                                        at + kCdForm2Payload, fileAt, fileAt + kCdSectorSize});
                    break;
                }
                case Zero:
                    std::fill(s.begin(), s.end(), 0);
                    expected.push_back({written, address, SectorFault::Unreadable, 1, at,
                                        at + kCdForm2Payload, fileAt, fileAt + kCdSectorSize});
                    break;
                case Drop:
                    expected.push_back(
                        {written, address, SectorFault::Missing, 1, at, at, fileAt, fileAt});
                    continue;
                case Gap: {
                    // This sector lost, and the next one written twice.
                    expected.push_back(
                        {written, address, SectorFault::Missing, 1, at, at, fileAt, fileAt});
                    const std::vector<uint8_t> next(sectorAt(k + 1),
                                                    sectorAt(k + 1) + kCdSectorSize);
                    file.insert(file.end(), next.begin(), next.end());
                    stream.insert(stream.end(), next.begin() + 24,
                                  next.begin() + 24 + kCdForm2Payload);
                    ++written;
                    expected.push_back({written, *cdAddressFrames(next.data() + 12),
                                        SectorFault::Duplicate, 1, stream.size(), stream.size(),
                                        file.size(), file.size() + kCdSectorSize});
                    file.insert(file.end(), next.begin(), next.end());
                    ++written;
                    swapped = k + 1;
                    continue;
                }
                case Twice:
                    file.insert(file.end(), s.begin(), s.end());
                    stream.insert(stream.end(), payload.begin(), payload.end());
                    ++written;
                    expected.push_back({written, address, SectorFault::Duplicate, 1, stream.size(),
                                        stream.size(), file.size(), file.size() + kCdSectorSize});
                    file.insert(file.end(), s.begin(), s.end());
                    ++written;
                    continue;
                case Sync:
                    s[1 + pick(10)] ^= static_cast<uint8_t>(1 + pick(255));
                    expected.push_back({written, address, SectorFault::DamagedHeader, 1, at,
                                        at + kCdForm2Payload, fileAt, fileAt + kCdSectorSize});
                    break;
                case Junk: {
                    // Bytes that are no whole sector, in front of this one.
                    const size_t n = 1 + pick(kCdSectorSize - 1);
                    for (size_t i = 0; i < n; ++i)
                        file.push_back(static_cast<uint8_t>(0x80 | pick(64)));
                    expected.push_back({written, address, SectorFault::SteppedOver, 1, at, at,
                                        fileAt, fileAt + n});
                    break;
                }
                case Address: {
                    // Another address, ahead or behind: only this one is odd.
                    const uint32_t other = pick(2) == 0
                                               ? address + 2 + static_cast<uint32_t>(pick(1000))
                                               : address - 1 - static_cast<uint32_t>(pick(100));
                    const auto bcd = [](uint32_t v) {
                        return static_cast<uint8_t>((v / 10) << 4 | v % 10);
                    };
                    s[12] = bcd(other / 75 / 60);
                    s[13] = bcd(other / 75 % 60);
                    s[14] = bcd(other % 75);
                    expected.push_back({written, other, SectorFault::OutOfOrder, 1, at,
                                        at + kCdForm2Payload, fileAt, fileAt + kCdSectorSize});
                    break;
                }
                case Swap: {
                    // The next sector first: it is the one out of order.
                    const std::vector<uint8_t> next(sectorAt(k + 1),
                                                    sectorAt(k + 1) + kCdSectorSize);
                    expected.push_back({written, *cdAddressFrames(next.data() + 12),
                                        SectorFault::OutOfOrder, 1, at, at + kCdForm2Payload,
                                        fileAt, fileAt + kCdSectorSize});
                    file.insert(file.end(), next.begin(), next.end());
                    stream.insert(stream.end(), next.begin() + 24,
                                  next.begin() + 24 + kCdForm2Payload);
                    ++written;
                    swapped = k + 1;
                    break;
                }
                case NoEdc:
                    // A Form 2 sector whose EDC was never computed stores
                    // zero: its bytes cannot be checked, changed or not.
                    std::fill_n(s.begin() + 24 + kCdForm2Payload, 4, 0);
                    s[24 + pick(kCdForm2Payload)] ^= static_cast<uint8_t>(1 + pick(255));
                    break;
                case None:
                    break;
            }
            file.insert(file.end(), s.begin(), s.end());
            if (damage == Zero) {
                stream.insert(stream.end(), kCdForm2Payload, 0);
            } else {
                stream.insert(stream.end(), s.begin() + 24, s.begin() + 24 + kCdForm2Payload);
            }
            ++written;
        }
        // Now and then a last sector cut short.
        if (pick(2) == 0) {
            const size_t keep = 1 + pick(kCdSectorSize - 1);
            const Position removed = kCdSectorSize - keep;
            file.resize(file.size() - removed);
            const size_t taken = keep > 24 ? std::min<size_t>(keep - 24, kCdForm2Payload) : 0;
            stream.resize(stream.size() - kCdForm2Payload + taken);
            const Position fileAt = file.size() - keep;
            expected.push_back({written - 1, *cdAddressFrames(&*sectorAt(sectors - 1) + 12),
                                SectorFault::CutShort, 1, stream.size() - taken, stream.size(),
                                fileAt, file.size()});
        }
        const std::string path = dir.write("damaged.dat", file);
        const SectorWalk walk = walkFile(path);
        ASSERT_FALSE(walk.failure);
        EXPECT_EQ(walk.faults.rows(), expected);
        StreamView view;
        ASSERT_EQ(view.openStream(path), OpenStatus::Opened);
        view.setExactLayout(walk.layout);
        EXPECT_EQ(view.streamSize(), stream.size());
        EXPECT_TRUE(unwrapped(view) == stream);
    }
}

}  // namespace
}  // namespace mpg
