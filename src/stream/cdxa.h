// Video CD rips as the ripper copies them from the disc: a RIFF "CDXA"
// header, then raw CD-ROM Mode 2 sectors of 2,352 bytes each (sync pattern,
// address, subheader twice, user data, EDC). The MPEG stream is the user data
// of the sectors taken one after another; everything else is the disc's own
// framing, and its EDC tells which sectors the drive misread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stream/failure.h"
#include "stream/position.h"
#include "stream/sector_faults.h"

namespace mpg {

inline constexpr uint32_t kCdSectorSize = 2'352;
inline constexpr uint32_t kCdSyncSize = 12;
inline constexpr std::array<uint8_t, kCdSyncSize> kCdSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// Behind the sync pattern: minute, second, frame (BCD) and the mode; then
// the subheader (file, channel, submode, coding) given twice.
inline constexpr uint32_t kCdHeaderAt = 12;
inline constexpr uint32_t kCdSubheaderAt = 16;
inline constexpr uint32_t kCdUserDataAt = 24;
// Form 2 (submode bit 0x20) carries 2,324 bytes of user data, the video CD's
// MPEG sectors; Form 1 2,048, followed by the EDC and an error correction code.
inline constexpr uint8_t kCdForm2Bit = 0x20;
inline constexpr uint32_t kCdForm2Payload = 2'324;
inline constexpr uint32_t kCdForm1Payload = 2'048;
inline constexpr uint32_t kCdFramesPerSecond = 75;

// The CD EDC: a CRC-32 with the reflected polynomial 0xD8018001, initial
// value 0 and no final xor, continued from `crc`. A sector's EDC covers its
// subheader and user data and is stored little-endian behind them.
uint32_t cdEdc(const uint8_t* bytes, size_t count, uint32_t crc = 0);
// The same value from 0, computed faster for the bytes a Form 2 or Form 1
// sector sums (2,332 or 2,056).
uint32_t cdSectorEdc(const uint8_t* bytes, size_t count);

// The file position of the first sector of a RIFF CDXA file whose first
// bytes are `head` (`count` of them; 4 KiB are plenty for any header a
// ripper writes): behind the header of the "data" chunk. Nothing when the
// file is no CDXA file or its chunks lead nowhere. The data chunk's size is
// not trusted: rippers write wrong ones; the sectors run to the end of the file.
std::optional<Position> cdxaDataOffset(const uint8_t* head, size_t count);

// Whether the file at `path` opens as a regular file that starts with a
// RIFF CDXA header: a video CD rip. False for anything that cannot be read.
bool isCdxaFile(const std::string& path);
// The same, but nothing when the file cannot be opened or its head cannot
// be read: whether it is a rip is then not known.
std::optional<bool> readsAsCdxaFile(const std::string& path);

// A disc address as a frame count from 00:00:00; nothing for bytes that are
// no BCD address.
std::optional<uint32_t> cdAddressFrames(const uint8_t* header);

// Which stream bytes the sectors of the file hold, as extents of regularly
// spaced sectors: the n-th stream byte of an extent lies at
// fileStart + (n / payload) * stride + n % payload. A clean rip is one
// extent; each fault that moves the grid (a missing, doubled or displaced
// sector, a changed form) starts another.
class SectorLayout {
  public:
    struct Extent {
        Position streamStart = 0;
        Position fileStart = 0;  // the first stream byte's file position
        Position count = 0;      // sectors
        uint32_t payload = 0;    // stream bytes a sector
        uint32_t stride = kCdSectorSize;
        Position streamEnd() const { return streamStart + count * payload; }
        bool operator==(const Extent&) const = default;
    };

    // Every slot of 2,352 bytes from `dataOffset` on taken as a sector of
    // `payload` stream bytes; a last slot cut short gives what it holds.
    static SectorLayout regular(Position dataOffset, Position fileSize, uint32_t payload);

    // Appends a sector whose `payload` stream bytes start at `fileStart`.
    void addSector(Position fileStart, uint32_t payload);

    Position streamLength() const { return extents_.empty() ? 0 : extents_.back().streamEnd(); }
    const std::vector<Extent>& extents() const { return extents_; }
    // The extent that holds stream position `pos` (logarithmic), or the
    // number of extents when `pos` is at or past the end.
    size_t extentOf(Position pos) const;
    // The file position of stream position `pos` (< streamLength()).
    Position fileOf(Position pos) const;

  private:
    std::vector<Extent> extents_;
};

struct SectorWalk {
    SectorLayout layout;
    SectorFaultList faults;
    Failure failure;       // a refused read (with its file position)
    bool stopped = false;  // the progress callback said stop
};

// Large reads of the raw file into one buffer that keeps, on a refill, the
// bytes from a given position on (the previous sector, which a doubled
// sector is compared with). The sector walk and the re-wrap of a repaired
// stream read the disc's framing through it.
class RawFileReader {
  public:
    static constexpr size_t kCapacity = size_t{4} << 20;

    // `path` names the file in a failure; it must outlive the reader.
    RawFileReader(int fd, const std::string& path, Position fileSize);

    // The bytes [p, p + n), fewer at the end of the file (avail says how
    // many); nullptr when a read fails (failure() says where).
    const uint8_t* at(Position p, size_t n, Position keepFrom, size_t& avail);
    // The file position of the next sync pattern at or behind `from`, or
    // the end of the file.
    Position findSync(Position from);

    const Failure& failure() const { return failure_; }

  private:
    int fd_;
    const std::string& path_;
    Position fileSize_;
    std::vector<uint8_t> buffer_;
    uint8_t* base_;  // where the byte at start_ lies in buffer_
    Position start_ = 0;
    size_t length_ = 0;
    Failure failure_;
};

// Walks the sectors of a CDXA file from `dataOffset` to `fileSize` with
// large reads, building the exact layout and the fault list. `progress`
// (may be empty) is told the file position every few megabytes and stops
// the walk by returning false.
SectorWalk walkSectors(int fd, const std::string& path, Position dataOffset, Position fileSize,
                       const std::function<bool(Position)>& progress = {});

}  // namespace mpg
