#include "stream/cdxa.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "stream/file_io.h"

namespace mpg {

namespace {

constexpr uint32_t kEdcPolynomial = 0xD8018001;

// Eight tables for slicing by 8: table k advances a byte that lies k bytes
// before the end of an 8-byte group, so that a group costs eight lookups
// and no dependency from byte to byte.
struct EdcTables {
    uint32_t t[8][256];
};

constexpr EdcTables makeEdcTables() {
    EdcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) != 0 ? kEdcPolynomial : 0);
        tables.t[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t prev = tables.t[k - 1][i];
            tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    }
    return tables;
}

constexpr EdcTables kEdcTables = makeEdcTables();

// The EDC is linear: the sum of A then B is the sum of B alone xor the sum
// of A carried on over |B| zero bytes. Carrying over a fixed length is a
// linear map of the 32-bit register, kept as four byte tables; a sector's
// two halves then make two independent chains that the processor runs side
// by side, twice as fast as one chain through the whole sector.
struct ShiftTables {
    uint32_t t[4][256];
};

constexpr ShiftTables makeShiftTables(size_t length) {
    uint32_t basis[32] = {};
    for (int bit = 0; bit < 32; ++bit) {
        uint32_t crc = uint32_t{1} << bit;
        for (size_t i = 0; i < length; ++i) crc = kEdcTables.t[0][crc & 0xFF] ^ (crc >> 8);
        basis[bit] = crc;
    }
    ShiftTables tables{};
    for (int j = 0; j < 4; ++j) {
        for (uint32_t v = 0; v < 256; ++v) {
            uint32_t x = 0;
            for (int b = 0; b < 8; ++b) {
                if (((v >> b) & 1) != 0) x ^= basis[8 * j + b];
            }
            tables.t[j][v] = x;
        }
    }
    return tables;
}

// The summed bytes of a Form 2 and of a Form 1 sector, and their halves.
constexpr size_t kForm2Summed = kCdForm2Payload + kCdUserDataAt - kCdSubheaderAt;
constexpr size_t kForm1Summed = kCdForm1Payload + kCdUserDataAt - kCdSubheaderAt;
constexpr ShiftTables kForm2Shift = makeShiftTables(kForm2Summed - kForm2Summed / 2);
constexpr ShiftTables kForm1Shift = makeShiftTables(kForm1Summed - kForm1Summed / 2);

uint32_t loadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::optional<uint32_t> bcd(uint8_t b) {
    if ((b & 0x0F) > 9 || (b >> 4) > 9) return std::nullopt;
    return (b >> 4) * 10u + (b & 0x0Fu);
}

bool hasSync(const uint8_t* p) {
    return std::memcmp(p, kCdSync.data(), kCdSyncSize) == 0;
}

bool allZero(const uint8_t* p, size_t n) {
    return p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0;
}

uint32_t payloadOf(const uint8_t* sector, size_t avail) {
    if (avail <= kCdSubheaderAt + 2) return kCdForm2Payload;
    return (sector[kCdSubheaderAt + 2] & kCdForm2Bit) != 0 ? kCdForm2Payload : kCdForm1Payload;
}

}  // namespace

namespace {

inline uint32_t edcStep8(uint32_t crc, const uint8_t* bytes) {
    const auto& t = kEdcTables.t;
    const uint32_t lo = crc ^ loadLE32(bytes);
    const uint32_t hi = loadLE32(bytes + 4);
    return t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
           t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
}

}  // namespace

RawFileReader::RawFileReader(int fd, const std::string& path, Position fileSize)
    : fd_(fd),
      path_(path),
      fileSize_(fileSize),
      buffer_(kCapacity + 2 * kReadAlign),
      base_(placeLikeFile(buffer_.data(), 0)) {}

const uint8_t* RawFileReader::at(Position p, size_t n, Position keepFrom, size_t& avail) {
    n = static_cast<size_t>(std::min<Position>(n, fileSize_ - p));
    avail = n;
    if (p >= start_ && p + n <= start_ + length_) return base_ + (p - start_);
    keepFrom = std::min(keepFrom, p);
    if (p - keepFrom + n > kCapacity) keepFrom = p;
    size_t kept = 0;
    if (keepFrom >= start_ && keepFrom < start_ + length_) {
        kept = static_cast<size_t>(start_ + length_ - keepFrom);
    }
    // The bytes from start_ on lie at an address equal to start_ modulo
    // kReadAlign, where the kernel copies into them fastest.
    uint8_t* const base = placeLikeFile(buffer_.data(), keepFrom);
    if (kept > 0) std::memmove(base, base_ + (keepFrom - start_), kept);
    base_ = base;
    start_ = keepFrom;
    length_ = kept;
    const size_t want =
        static_cast<size_t>(std::min<Position>(kCapacity - kept, fileSize_ - (start_ + kept)));
    size_t readBefore = 0;
    const int64_t got =
        readFully(fd_, base_ + kept, want, static_cast<int64_t>(start_ + kept), &readBefore);
    if (got < 0) {
        failure_ = failureOf(FailureKind::ReadFailed, path_, errno, start_ + kept + readBefore);
        length_ = 0;
        return nullptr;
    }
    length_ += static_cast<size_t>(got);
    avail = static_cast<size_t>(std::min<Position>(n, start_ + length_ - p));
    return base_ + (p - start_);
}

Position RawFileReader::findSync(Position from) {
    while (from < fileSize_) {
        size_t avail = 0;
        const uint8_t* p = at(from, kCapacity / 2, from, avail);
        if (p == nullptr) return fileSize_;
        if (avail < kCdSyncSize) return fileSize_;
        const void* hit = ::memmem(p, avail, kCdSync.data(), kCdSyncSize);
        if (hit != nullptr)
            return from + static_cast<Position>(static_cast<const uint8_t*>(hit) - p);
        from += avail - (kCdSyncSize - 1);
    }
    return fileSize_;
}

uint32_t cdEdc(const uint8_t* bytes, size_t count, uint32_t crc) {
    for (; count >= 8; count -= 8, bytes += 8) crc = edcStep8(crc, bytes);
    for (; count > 0; --count) crc = kEdcTables.t[0][(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t cdSectorEdc(const uint8_t* bytes, size_t count) {
    const ShiftTables* shift = count == kForm2Summed   ? &kForm2Shift
                               : count == kForm1Summed ? &kForm1Shift
                                                       : nullptr;
    if (shift == nullptr) return cdEdc(bytes, count);
    const size_t half = count / 2, groups = half / 8;
    const uint8_t* a = bytes;
    const uint8_t* b = bytes + half;
    uint32_t ca = 0, cb = 0;
    for (size_t i = 0; i < groups; ++i) {
        ca = edcStep8(ca, a + 8 * i);
        cb = edcStep8(cb, b + 8 * i);
    }
    ca = cdEdc(a + 8 * groups, half - 8 * groups, ca);
    cb = cdEdc(b + 8 * groups, count - half - 8 * groups, cb);
    const auto& t = shift->t;
    return t[0][ca & 0xFF] ^ t[1][(ca >> 8) & 0xFF] ^ t[2][(ca >> 16) & 0xFF] ^ t[3][ca >> 24] ^ cb;
}

std::optional<Position> cdxaDataOffset(const uint8_t* head, size_t count) {
    if (count < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "CDXA", 4) != 0) {
        return std::nullopt;
    }
    // Chunks: a 4-byte id, a little-endian 32-bit size, the contents padded
    // to an even length.
    for (size_t at = 12; at + 8 <= count;) {
        if (std::memcmp(head + at, "data", 4) == 0) return at + 8;
        const uint64_t size = loadLE32(head + at + 4);
        at += 8 + static_cast<size_t>(std::min<uint64_t>(size + (size & 1), count));
    }
    return std::nullopt;
}

bool isCdxaFile(const std::string& path) {
    return readsAsCdxaFile(path).value_or(false);
}

std::optional<bool> readsAsCdxaFile(const std::string& path) {
    const int fd = openRegularForRead(path).fd;
    if (fd == -1) return std::nullopt;
    uint8_t head[4096];
    const int64_t got = readFully(fd, head, sizeof head, 0);
    closeChecked(fd);
    if (got < 0) return std::nullopt;
    return got > 0 && cdxaDataOffset(head, static_cast<size_t>(got)).has_value();
}

std::optional<uint32_t> cdAddressFrames(const uint8_t* header) {
    const auto m = bcd(header[0]), s = bcd(header[1]), f = bcd(header[2]);
    if (!m || !s || !f || *s >= 60 || *f >= kCdFramesPerSecond) return std::nullopt;
    return (*m * 60 + *s) * kCdFramesPerSecond + *f;
}

SectorLayout SectorLayout::regular(Position dataOffset, Position fileSize, uint32_t payload) {
    SectorLayout layout;
    if (fileSize <= dataOffset) return layout;
    const Position slots = (fileSize - dataOffset) / kCdSectorSize;
    if (slots > 0) layout.extents_.push_back({0, dataOffset + kCdUserDataAt, slots, payload});
    const Position rest = (fileSize - dataOffset) % kCdSectorSize;
    if (rest > kCdUserDataAt) {
        layout.addSector(dataOffset + slots * kCdSectorSize + kCdUserDataAt,
                         static_cast<uint32_t>(std::min<Position>(rest - kCdUserDataAt, payload)));
    }
    return layout;
}

void SectorLayout::addSector(Position fileStart, uint32_t payload) {
    if (payload == 0) return;
    if (!extents_.empty()) {
        Extent& last = extents_.back();
        if (last.payload == payload && last.fileStart + last.count * last.stride == fileStart) {
            ++last.count;
            return;
        }
    }
    extents_.push_back({streamLength(), fileStart, 1, payload});
}

size_t SectorLayout::extentOf(Position pos) const {
    if (pos >= streamLength()) return extents_.size();
    const auto it = std::upper_bound(extents_.begin(), extents_.end(), pos,
                                     [](Position p, const Extent& e) { return p < e.streamStart; });
    return static_cast<size_t>(it - extents_.begin()) - 1;
}

Position SectorLayout::fileOf(Position pos) const {
    const Extent& e = extents_[extentOf(pos)];
    const Position rel = pos - e.streamStart;
    return e.fileStart + rel / e.payload * e.stride + rel % e.payload;
}

namespace {

// The walk of a rip's sectors, slot by slot: each sector's sync pattern,
// address and EDC checked, its payload added to the layout, and what went
// wrong listed. A slot that is no sector on the grid (bytes lost or added)
// is stepped over to the next sync pattern.
class SectorWalker {
  public:
    SectorWalker(int fd, const std::string& path, Position dataOffset, Position fileSize)
        : reader_(fd, path, fileSize), size_(fileSize), pos_(dataOffset) {}

    SectorWalk run(const std::function<bool(Position)>& progress) {
        constexpr Position kReportStep = Position{8} << 20;
        Position nextReport = pos_ + kReportStep;
        while (pos_ < size_) {
            if (progress && pos_ >= nextReport) {
                if (!progress(pos_)) {
                    walk_.stopped = true;
                    break;
                }
                nextReport = pos_ + kReportStep;
            }
            if (!step()) break;
        }
        return std::move(walk_);
    }

  private:
    // Addresses as frame counts; kNoAddress for none.
    static constexpr uint32_t kNoAddress = ~uint32_t{0};
    static constexpr Position kNone = ~Position{0};

    void list(SectorFault fault, uint32_t address, Position streamEnd, Position fileEnd,
              uint32_t count = 1) {
        walk_.faults.push_back({sector_, address, fault, count, stream_, streamEnd, pos_, fileEnd});
    }

    // The next slot; false when the walk ends (the end of the file, a failed read).
    bool step() {
        size_t avail = 0;
        const Position keepFrom = previous_ == kNone ? pos_ : previous_;
        // The sector, the next slot's sync pattern and address.
        const uint8_t* s = reader_.at(pos_, 2 * kCdSectorSize, keepFrom, avail);
        if (s == nullptr) {
            walk_.failure = reader_.failure();
            return false;
        }
        if (expected_ != kNoAddress && expected_ == early_) {
            ++expected_;  // the sector that came early
            early_ = kNoAddress;
        }
        const uint32_t expect = expected_ == kNoAddress ? 0 : expected_;
        if (avail < kCdSectorSize) {
            cutShort(s, avail, expect);
            return false;
        }
        const bool syncOk = hasSync(s);
        if (!syncOk && allZero(s, kCdSectorSize)) {
            unreadable(expect);
            return true;
        }
        const std::optional<uint32_t> address = cdAddressFrames(s + kCdHeaderAt);
        const auto [nextAddress, nextSync] = nextAddressOf(s, avail);
        Slot slot{address.value_or(expect), kNoAddress, false};
        if (!syncOk) {
            // A slot whose neighbour or address still fits the grid is a
            // sector with a damaged sync pattern; anything else means bytes
            // were lost or added: the next sync pattern is where sectors go on.
            const bool onGrid =
                nextAddressOf(s, avail).second || (address && *address == expected_);
            if (!onGrid) {
                const Position found = reader_.findSync(pos_ + 1);
                list(SectorFault::SteppedOver, expect, stream_, found);
                pos_ = found;
                return true;
            }
            slot = {expect, kNoAddress, true};
        } else if (!address) {
            slot = {expect, kNoAddress, true};
        } else if (expected_ != kNoAddress && *address != expected_) {
            const Order order = outOfOrder(s, avail, keepFrom, *address, nextAddress, slot);
            if (order == Order::Failed) return false;
            if (order == Order::Duplicate) return true;
        }
        keep(s, avail, slot);
        return true;
    }

    // The address a kept sector stands for, the one expected behind it when
    // not the next, and whether its header is damaged.
    struct Slot {
        uint32_t taken;
        uint32_t follows;
        bool damaged;
    };

    // The next slot's address, when its sync pattern is there.
    std::pair<uint32_t, bool> nextAddressOf(const uint8_t* s, size_t avail) const {
        const uint8_t* next = avail >= kCdSectorSize + kCdUserDataAt ? s + kCdSectorSize : nullptr;
        const bool nextSync = next != nullptr && hasSync(next);
        return {nextSync ? cdAddressFrames(next + kCdHeaderAt).value_or(kNoAddress) : kNoAddress,
                nextSync};
    }

    // The file ends inside the slot: what it holds of the payload is kept.
    void cutShort(const uint8_t* s, size_t avail, uint32_t expect) {
        const uint32_t payload = payloadOf(s, avail);
        const uint32_t taken =
            avail > kCdUserDataAt
                ? std::min<uint32_t>(static_cast<uint32_t>(avail) - kCdUserDataAt, payload)
                : 0;
        walk_.layout.addSector(pos_ + kCdUserDataAt, taken);
        list(SectorFault::CutShort, expect, stream_ + taken, size_);
        stream_ += taken;
    }

    // A slot of zeros, which the drive could not read: a whole payload of them.
    void unreadable(uint32_t expect) {
        walk_.layout.addSector(pos_ + kCdUserDataAt, kCdForm2Payload);
        list(SectorFault::Unreadable, expect, stream_ + kCdForm2Payload, pos_ + kCdSectorSize);
        stream_ += kCdForm2Payload;
        pos_ += kCdSectorSize;
        ++sector_;
        if (expected_ != kNoAddress) ++expected_;
        previous_ = kNone;
    }

    enum class Order { Kept, Duplicate, Failed };

    // A sector whose address is not the one expected: a copy of the sector
    // before (left out), one out of order, one come early, or sectors missing.
    Order outOfOrder(const uint8_t*& s, size_t& avail, Position keepFrom, uint32_t address,
                     uint32_t nextAddress, Slot& slot) {
        size_t prevAvail = 0;
        const uint8_t* prev = previous_ != kNone
                                  ? reader_.at(previous_, kCdSectorSize, previous_, prevAvail)
                                  : nullptr;
        // at() kept the previous sector: s is still valid.
        s = reader_.at(pos_, 2 * kCdSectorSize, keepFrom, avail);
        if (prev != nullptr && s != nullptr && address + 1 == expected_ &&
            std::memcmp(prev + kCdHeaderAt, s + kCdHeaderAt, kCdSectorSize - kCdHeaderAt) == 0) {
            list(SectorFault::Duplicate, address, stream_, pos_ + kCdSectorSize);
            pos_ += kCdSectorSize;
            ++sector_;
            return Order::Duplicate;
        }
        if (s == nullptr) {
            walk_.failure = reader_.failure();
            return Order::Failed;
        }
        const Position end = stream_ + payloadOf(s, avail);
        // A next sector that copies this one follows a sector that is truly
        // at its address: the ones before it went missing, and the copy
        // will be left out.
        const bool nextIsCopy = avail >= 2 * kCdSectorSize &&
                                std::memcmp(s + kCdHeaderAt, s + kCdSectorSize + kCdHeaderAt,
                                            kCdSectorSize - kCdHeaderAt) == 0;
        if (nextAddress == expected_ + 1 && !nextIsCopy) {
            // Only this address is odd: its neighbours keep the order.
            list(SectorFault::OutOfOrder, address, end, pos_ + kCdSectorSize);
            slot.taken = expected_;
        } else if (address > expected_ && nextAddress == expected_) {
            // Come early: the expected sector follows, and the order steps
            // over this address once it reaches it.
            list(SectorFault::OutOfOrder, address, end, pos_ + kCdSectorSize);
            early_ = address;
            slot.follows = expected_;
        } else if (address > expected_) {
            list(SectorFault::Missing, expected_, stream_, pos_, address - expected_);
        } else {
            list(SectorFault::OutOfOrder, address, end, pos_ + kCdSectorSize);
        }
        return Order::Kept;
    }

    // A sector kept: its payload in the layout, a damaged header or a wrong
    // EDC listed.
    void keep(const uint8_t* s, size_t avail, const Slot& slot) {
        const uint32_t payload = payloadOf(s, avail);
        if (slot.damaged) {
            list(SectorFault::DamagedHeader, slot.taken, stream_ + payload, pos_ + kCdSectorSize);
        }
        const uint32_t edcAt = kCdUserDataAt + payload;
        const uint32_t stored = loadLE32(s + edcAt);
        // Form 2 leaves the EDC optional: zero says that none was computed,
        // and such a sector cannot be checked. Form 1 always carries one.
        const bool checked = stored != 0 || payload == kCdForm1Payload;
        if (checked && cdSectorEdc(s + kCdSubheaderAt, edcAt - kCdSubheaderAt) != stored) {
            list(SectorFault::BadChecksum, slot.taken, stream_ + payload, pos_ + kCdSectorSize);
        }
        walk_.layout.addSector(pos_ + kCdUserDataAt, payload);
        stream_ += payload;
        expected_ = slot.follows != kNoAddress ? slot.follows : slot.taken + 1;
        previous_ = pos_;
        pos_ += kCdSectorSize;
        ++sector_;
    }

    SectorWalk walk_;
    RawFileReader reader_;
    const Position size_;
    Position pos_, sector_ = 0, stream_ = 0;
    uint32_t expected_ = kNoAddress;  // the address the next sector should have
    uint32_t early_ = kNoAddress;     // an address met before its turn
    Position previous_ = kNone;       // the file position of the last sector kept
};

}  // namespace

SectorWalk walkSectors(int fd, const std::string& path, Position dataOffset, Position fileSize,
                       const std::function<bool(Position)>& progress) {
    return SectorWalker(fd, path, dataOffset, fileSize).run(progress);
}

}  // namespace mpg
