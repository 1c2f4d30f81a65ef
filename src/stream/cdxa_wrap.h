// The repaired stream of a video CD rip written back as a rip: a RIFF "CDXA"
// header and Mode 2 Form 2 sectors of 2,324 stream bytes each, with fresh
// headers and EDCs, so that the tools that read .dat files (players, image
// makers) take it as they took the original.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "stream/cdxa.h"
#include "stream/file_io.h"

namespace mpg {

// The header written before the sectors: RIFF, the "fmt " chunk with the
// CD-XA attributes rippers copy from the disc, and the "data" chunk's head.
inline constexpr uint32_t kCdxaHeaderSize = 44;
// The disc's first MPEG sector (behind the pregap), for a rip whose own
// first address cannot be read.
inline constexpr uint32_t kCdFirstTrackFrame = 4 * kCdFramesPerSecond;
// BCD minutes end at 99: the last address is 99:59:74.
inline constexpr uint32_t kCdLastFrame = 100 * 60 * kCdFramesPerSecond - 1;

// Submode bits of a sector's subheader.
inline constexpr uint8_t kSubmodeEndOfRecord = 0x01;
inline constexpr uint8_t kSubmodeVideo = 0x02;
inline constexpr uint8_t kSubmodeAudio = 0x04;
inline constexpr uint8_t kSubmodeRealTime = 0x40;
inline constexpr uint8_t kSubmodeEndOfFile = 0x80;

// The 4-byte subheader (file, channel, submode, coding) an authoring tool
// gives a sector of these 2,324 stream bytes: video when a packet of stream
// 0xE0 starts in it, audio for 0xC0..0xDF, else a plain real-time Form 2
// sector (padding, system header).
std::array<uint8_t, 4> subheaderForPayload(const uint8_t* payload);

// The stage that cuts the bytes appended to an OutputFile into sectors.
//
// An output sector takes the address of the input's sector at the same
// stream position for as long as the stream bytes are those of that sector
// (and the addresses follow one another); from the first sector that
// differs (the first cut) on, addresses count on by one. An unchanged sector
// keeps its subheader; a new one gets subheaderForPayload's. The last sector
// is padded with zeros and carries end of record and end of file.
//
// An output whose RIFF sizes or addresses would not fit is refused
// (NoRoomInDat) as soon as a sector would pass the limit.
class CdxaWrapStage : public OutputStage {
  public:
    // `layout`, `fd` and `path` describe the input rip (of `rawSize` bytes),
    // read for the addresses and subheaders; they outlive the stage.
    CdxaWrapStage(const SectorLayout& layout, int fd, const std::string& path, Position rawSize);

    bool take(OutputFile& out, const uint8_t* bytes, size_t count) override;
    bool close(OutputFile& out) override;
    uint64_t taken() const override { return taken_; }

    // Sectors written so far.
    Position sectors() const { return sectors_; }

  private:
    // Sectors are made in batches of kBatch, written with one call each
    // from where they were made. A batch is placed like its position in the
    // output (placeLikeFile): the kernel copies equally aligned bytes into
    // its page cache several times faster.
    static constexpr size_t kBatch = 256;
    static_assert(kBatch * kCdSectorSize >= OutputFile::kBuffer / 2,
                  "a batch goes out directly, not through the writer's buffer");

    bool start(OutputFile& out);
    bool emit(OutputFile& out, bool last);
    bool writeBatch(OutputFile& out);

    const SectorLayout& layout_;
    RawFileReader input_;
    std::unique_ptr<uint8_t[]> storage_;
    uint8_t* batch_ = nullptr;   // the batch's first sector, placed like its output position
    size_t batched_ = 0;         // sectors made in the batch
    uint8_t* sector_ = nullptr;  // the sector being filled
    uint32_t filled_ = 0;        // stream bytes in sector_
    uint64_t taken_ = 0;
    Position sectors_ = 0;
    uint32_t address_ = 0;   // the last sector's
    bool following_ = true;  // still on the input's numbering
    bool started_ = false;
};

}  // namespace mpg
