// The walk of a video CD rip's sectors and the re-wrap of its stream into a
// rip again, over rips made from the input: a RIFF CDXA header, then one
// sector (or a few stray bytes) per control byte, each with a seed byte for
// its payload.
//
// Byte 0: bit 0 cuts the last slot short by (bits 1-7) * 17 bytes. Bytes
// 1-3: the first sector's disc address. Then pairs: a control byte, whose
// low 3 bits choose what comes (0-2 a sound Form 2 sector, 3 one after
// skipped addresses, 4 the sector before again, 5 an unreadable sector of
// zeros, 6 a sector with one byte changed, 7 stray bytes) and whose bit 7
// makes a sound sector Form 1, and a payload seed.
//
// Any rip: the walk's extents hold the stream back to back inside the file,
// its faults lie inside the file and the stream, in order. A rip of sound,
// doubled, skipped and changed sectors only: the stream is the payloads
// of the sectors kept (a doubled one is left out), and a rip of sound,
// consecutive sectors walks without a fault. The stream wrapped again: a
// rip of whole Form 2 sectors with RIFF sizes that fit, walking without a
// fault, whose payloads are the stream padded with zeros, whose last
// sector alone is marked as the end, and whose first address is the
// input's when the input's first sector is sound.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "analysis/dump.h"
#include "stream/cdxa.h"
#include "stream/cdxa_wrap.h"
#include "stream/file_io.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

constexpr size_t kHead = 4;
constexpr size_t kMostSectors = 48;

void putLE32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

uint8_t bcdOf(uint32_t v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

// A RIFF CDXA header as a ripper writes it: 44 bytes, the data chunk last.
std::vector<uint8_t> riffHeader() {
    std::vector<uint8_t> h(kCdxaHeaderSize, 0);
    std::memcpy(h.data(), "RIFF", 4);
    std::memcpy(h.data() + 8, "CDXAfmt ", 8);
    putLE32(h, 16, 16);
    std::memcpy(h.data() + 36, "data", 4);
    return h;
}

// A sound Mode 2 sector at disc address `address` whose payload is made
// from `seed` and its number, distinct from every other sector's.
std::array<uint8_t, kCdSectorSize> soundSector(uint32_t address, bool form1, uint8_t seed,
                                               size_t number) {
    std::array<uint8_t, kCdSectorSize> s{};
    std::copy(kCdSync.begin(), kCdSync.end(), s.begin());
    const uint32_t seconds = address / kCdFramesPerSecond;
    s[12] = bcdOf(seconds / 60 % 100);
    s[13] = bcdOf(seconds % 60);
    s[14] = bcdOf(address % kCdFramesPerSecond);
    s[15] = 2;
    const uint8_t submode = form1 ? 0x08 : (kCdForm2Bit | kSubmodeRealTime);
    for (const uint32_t at : {kCdSubheaderAt, kCdSubheaderAt + 4}) {
        s[at] = 1, s[at + 1] = 0, s[at + 2] = submode, s[at + 3] = 0;
    }
    const uint32_t payload = form1 ? kCdForm1Payload : kCdForm2Payload;
    for (uint32_t k = 0; k < payload; ++k) {
        s[kCdUserDataAt + k] = static_cast<uint8_t>(seed + k * 7 + number * 131 + (k >> 8));
    }
    const uint32_t edc = cdEdc(s.data() + kCdSubheaderAt, 8 + payload);
    for (int k = 0; k < 4; ++k) {
        s[kCdUserDataAt + payload + k] = static_cast<uint8_t>(edc >> (8 * k));
    }
    return s;
}

struct MadeRip {
    std::vector<uint8_t> bytes;
    // The stream when every sector is a Form 2 one the model knows.
    std::vector<uint8_t> stream;
    bool modelled = true;   // sound, doubled, skipped and changed sectors only
    bool faultless = true;  // sound sectors at consecutive addresses only
    bool firstSound = false;
    uint32_t firstAddress = 0;
    uint32_t highestAddress = 0;
};

MadeRip makeRip(const uint8_t* data, size_t size) {
    MadeRip rip;
    rip.bytes = riffHeader();
    uint32_t address =
        (uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3]) % (kCdLastFrame + 1);
    std::array<uint8_t, kCdSectorSize> last{};
    bool haveLast = false;
    size_t number = 0;
    for (size_t at = kHead; at + 2 <= size && number < kMostSectors; at += 2, ++number) {
        const uint8_t control = data[at], seed = data[at + 1];
        const int kind = control & 7;
        const bool form1 = control & 0x80;
        // Addresses past 99:59:74 are no BCD address: the model stops there.
        if (address + 1 + (control >> 3) > kCdLastFrame) rip.modelled = rip.faultless = false;
        if (kind == 7) {
            const size_t stray = 1 + (control >> 3) % 32;
            rip.bytes.insert(rip.bytes.end(), stray, seed);
            rip.modelled = rip.faultless = false;
            continue;
        }
        std::array<uint8_t, kCdSectorSize> s{};
        if (kind == 4 && haveLast) {
            s = last;
            rip.faultless = false;
        } else if (kind == 5) {
            rip.modelled = rip.faultless = false;
        } else {
            if (kind == 3) {
                address += 1 + (control >> 3);
                rip.faultless = false;
            }
            if (number == 0) rip.firstAddress = address;
            s = soundSector(address, form1, seed, number);
            rip.highestAddress = std::max(rip.highestAddress, address);
            if (form1) rip.modelled = rip.faultless = false;
            const uint32_t payload = form1 ? kCdForm1Payload : kCdForm2Payload;
            if (kind == 6) {
                s[kCdUserDataAt + (static_cast<size_t>(control >> 3) * 73) % payload] ^= 0x5A;
                rip.faultless = false;
            }
            rip.stream.insert(rip.stream.end(), s.begin() + kCdUserDataAt,
                              s.begin() + kCdUserDataAt + payload);
            if (number == 0) rip.firstSound = kind != 6;
            last = s, haveLast = true;
            ++address;
        }
        rip.bytes.insert(rip.bytes.end(), s.begin(), s.end());
    }
    if ((data[0] & 1) && rip.bytes.size() > kCdxaHeaderSize) {
        const size_t cut = std::min<size_t>(static_cast<size_t>(data[0] >> 1) * 17,
                                            rip.bytes.size() - kCdxaHeaderSize);
        rip.bytes.resize(rip.bytes.size() - cut);
        if (cut > 0) rip.modelled = rip.faultless = false;
    }
    putLE32(rip.bytes, 4, static_cast<uint32_t>(rip.bytes.size() - 8));
    putLE32(rip.bytes, 40, static_cast<uint32_t>(rip.bytes.size() - kCdxaHeaderSize));
    return rip;
}

// The stream bytes the layout says the file holds.
NO_COVERAGE std::vector<uint8_t> streamOf(const SectorLayout& layout,
                                          const std::vector<uint8_t>& file) {
    std::vector<uint8_t> stream;
    Position expected = 0;
    for (const SectorLayout::Extent& e : layout.extents()) {
        FUZZ_CHECK(e.streamStart == expected && e.count > 0);
        FUZZ_CHECK(e.payload > 0 && e.payload <= kCdForm2Payload && e.stride >= e.payload);
        FUZZ_CHECK(e.fileStart + (e.count - 1) * e.stride + e.payload <= file.size());
        for (Position k = 0; k < e.count; ++k) {
            const auto from = file.begin() + static_cast<ptrdiff_t>(e.fileStart + k * e.stride);
            stream.insert(stream.end(), from, from + e.payload);
        }
        expected = e.streamEnd();
    }
    return stream;
}

NO_COVERAGE void checkFaults(const SectorWalk& walk, Position fileSize) {
    const Position length = walk.layout.streamLength();
    for (size_t i = 0; i < walk.faults.size(); ++i) {
        const SectorFaultRow& f = walk.faults[i];
        FUZZ_CHECK(f.streamStart <= f.streamEnd && f.streamEnd <= length);
        FUZZ_CHECK(f.fileStart <= f.fileEnd && f.fileEnd <= fileSize);
        if (i > 0) FUZZ_CHECK(walk.faults[i - 1].sector <= f.sector);
    }
}

SectorWalk walk(const MemFile& file, Position fileSize) {
    std::vector<uint8_t> head(std::min<Position>(fileSize, 4096));
    if (!head.empty() && ::pread(file.fd(), head.data(), head.size(), 0) < 0) abort();
    const std::optional<Position> start = cdxaDataOffset(head.data(), head.size());
    FUZZ_CHECK(start.has_value());
    return walkSectors(file.fd(), file.path(), *start, fileSize);
}

// The stream wrapped again, appended in pieces of sizes the input chooses.
void checkWrap(const MemFile& rip, const SectorWalk& walked, const std::vector<uint8_t>& stream,
               const MadeRip& made) {
    MemFile wrapped;
    OutputFile out;
    FUZZ_CHECK(!out.create(wrapped.path(), {rip.path()}, Existing::Replace));
    CdxaWrapStage stage(walked.layout, rip.fd(), rip.path(), rip.size());
    out.setStage(&stage);
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(stream.size() - at, 1 + (stream[at] * 97u) % 6000);
        if (!out.append(stream.data() + at, n)) break;
        at += n;
    }
    const Failure failure = out.failure() ? out.failure() : out.finish();
    const Position sectors = (stream.size() + kCdForm2Payload - 1) / kCdForm2Payload;
    if (failure) {
        // Only the last address of the disc stops it.
        FUZZ_CHECK(failure.kind == FailureKind::NoRoomInDat);
        FUZZ_CHECK(made.highestAddress + sectors > kCdLastFrame);
        return;
    }
    const std::vector<uint8_t> w = wrapped.bytes();
    FUZZ_CHECK(w.size() == kCdxaHeaderSize + sectors * kCdSectorSize);
    FUZZ_CHECK(le32(w, 4) == w.size() - 8 && le32(w, 40) == sectors * kCdSectorSize);
    const SectorWalk again = walk(wrapped, w.size());
    FUZZ_CHECK(!again.failure && again.faults.empty());
    std::vector<uint8_t> padded = stream;
    padded.resize(sectors * kCdForm2Payload, 0);
    FUZZ_CHECK(streamOf(again.layout, w) == padded);
    constexpr uint8_t kEnds = kSubmodeEndOfRecord | kSubmodeEndOfFile;
    for (Position k = 0; k < sectors; ++k) {
        const uint8_t submode = w[kCdxaHeaderSize + k * kCdSectorSize + kCdSubheaderAt + 2];
        FUZZ_CHECK((submode & kEnds) == (k + 1 == sectors ? kEnds : 0));
    }
    if (sectors > 0 && made.firstSound && made.modelled) {
        FUZZ_CHECK(cdAddressFrames(w.data() + kCdxaHeaderSize + kCdHeaderAt) == made.firstAddress);
    }
}

// The dump of a block the scan of the rip found: the stream's bytes, read
// through the sectors, zeros past the stream's end.
NO_COVERAGE bool dumpMatches(const BlockDump& dump, const std::vector<uint8_t>& stream) {
    for (size_t k = 0; k < dump.head.size(); ++k) {
        const uint64_t at = uint64_t{dump.offset} + k;
        if (dump.head[k] != (at < stream.size() ? stream[at] : 0)) return false;
    }
    return true;
}

void checkDump(const MemFile& rip, const std::vector<uint8_t>& stream, uint8_t pick) {
    AppState state;
    state.highPriority = true;  // the low-priority scan rests after each window
    ErrorGrid grid;
    FUZZ_CHECK(scanFile(state, grid, rip.path()));
    FUZZ_CHECK(state.view.streamSize() == stream.size());
    if (state.table.empty()) return;
    BlockDump dump;
    FUZZ_CHECK(readBlockForDump(state, rip.path(), pick % state.table.size(), dump));
    FUZZ_CHECK(dumpMatches(dump, stream));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHead) return 0;
    const MadeRip made = makeRip(data, size);
    MemFile rip(made.bytes);
    const SectorWalk walked = walk(rip, made.bytes.size());
    FUZZ_CHECK(!walked.failure && !walked.stopped);
    checkFaults(walked, made.bytes.size());
    const std::vector<uint8_t> stream = streamOf(walked.layout, made.bytes);
    FUZZ_CHECK(stream.size() == walked.layout.streamLength());
    if (made.modelled) FUZZ_CHECK(stream == made.stream);
    if (made.faultless) FUZZ_CHECK(walked.faults.empty());
    checkWrap(rip, walked, stream, made);
    checkDump(rip, stream, data[1]);
    return 0;
}
