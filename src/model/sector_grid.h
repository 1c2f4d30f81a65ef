// Video CD, SVCD and DVD streams are laid out in sectors: every sector
// begins with a pack header, and a muxer fills the rest of a sector behind
// its last packet with zero bytes, or writes whole sectors of zeros. Such
// fill is part of the stream's layout, not damage: zero bytes that run from
// the end of a block exactly to the next pack header (or to the end code
// that closes the stream, or to the end of the file) are fill when that position lies on the sector
// grid, a whole number of sectors behind the pack header of the sector the block is in. A run of
// zeros inserted in front of a pack header moves it off the grid and stays
// damage.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "stream/position.h"
#include "stream/procedures.h"

namespace mpg {

// The most bytes one table entry spans: its sizes are 32 bits signed. Fill
// longer than that (a hole of gigabytes in a sparse file) is kept as
// several entries, each of this size but the last.
inline constexpr Position kLargestExtent = 0x7FFF'FFFF;

// Learns a stream's sector size from where its pack headers stand: fed the
// stream's first bytes in pieces, it notes the distances between
// consecutive pack start codes. The sector size is the smallest distance
// met at least twice of which nearly every distance (9 in 10) is a whole
// multiple; 0 when there is none, or fewer than four distances, or it lies
// outside 512 to 65,536 bytes. A stream whose packs follow no grid (or only
// a few of them were read) gets no sector size, and no fill is found in it.
class SectorSizeLearner {
  public:
    // The stream bytes from stream position `at` on, following the ones
    // taken before.
    void take(const uint8_t* bytes, size_t count, Position at);
    // The distance between two pack headers known to follow each other (a
    // table's sound sectors).
    void takeDistance(Position distance);
    uint32_t sectorSize() const;

    // How much of a stream's head is read to learn it: some four hundred
    // video CD sectors.
    static constexpr uint32_t kHeadBytes = 1u << 20;

  private:
    static constexpr size_t kMostDistances = 1024;
    std::map<Position, uint32_t> distances_;  // distance -> how often
    uint32_t counted_ = 0;
    Position lastPack_ = 0;
    bool packSeen_ = false;
    uint32_t carry_ = 0;  // the last bytes taken, for a start code split between pieces
    int carried_ = 0;
};

// Where the grid runs through the sector a block lies in: its pack header's
// position, moved by the excess of the broken blocks met since (bytes
// inserted earlier in the sector move everything behind them, fill too).
class SectorGrid {
  public:
    explicit SectorGrid(uint32_t sectorSize = 0) : size_(sectorSize) {}
    uint32_t sectorSize() const { return size_; }

    void packAt(Position pack) { start_ = static_cast<int64_t>(pack); }
    // A broken block of the sector holds `excess` bytes more (or fewer)
    // than its header declares.
    void brokenBlock(int64_t excess) { start_ += excess; }
    int64_t start() const { return start_; }
    // Whether `at` lies a whole number of sectors behind the sector's start.
    bool onGrid(Position at) const {
        return size_ > 0 && start_ >= 0 && at >= Position(start_) &&
               (at - Position(start_)) % size_ == 0;
    }

  private:
    uint32_t size_;
    int64_t start_ = 0;
};

// Sector fill from `from` on, where a block ends: the stream's zero bytes
// run from there up to `zerosEnd`, and `after` holds the two bytes there
// (nullptr when fewer are left before `size`, the stream's end). The fill
// ends at a pack header or an end code, whose start code's own two zero
// bytes close the run (00 00 | 01 BA), or at the end of the stream, and that end must lie on
// the grid. Its length; 0 when the bytes there are no fill.
//
// Behind a sound end code (`behindEndCode`), zeros that run to the end of
// the stream are fill wherever that end lies: they pad the last sector of a
// stream whose sectors no longer start with its packs (a repaired stream
// wrapped into sectors anew, a rip whose last sector the muxer did not fill
// with a padding packet).
Position fillLength(Position from, Position zerosEnd, Position size, const uint8_t* after,
                    const SectorGrid& grid, bool behindEndCode = false);

// A broken block's search found a pack header, an end code or the end of
// the file at
// `found`, with `zerosBefore` zero bytes right in front of it; the block's
// header declared it to end at `declaredEnd`, and the sector it lies in
// begins at the grid's start. Of those zero bytes, how many are the sector's own
// fill and not part of the block: the bytes the block holds beyond its
// declared end are damage (inserted bytes) plus fill, and the damage is what
// moved `found` off the grid, give or take whole sectors. The fill is the
// largest count, no more than the zeros there nor the excess, that puts the
// rest back on the grid; 0 when none does. Runs of zeros inserted next to
// the fill and as long as a sector or more cannot be told from whole zero
// sectors: a whole number of sectors of them counts as fill.
Position fillBehindBrokenBlock(Position declaredEnd, Position found, Position zerosBefore,
                               const SectorGrid& grid);

}  // namespace mpg
