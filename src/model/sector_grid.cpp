#include "model/sector_grid.h"

#include <algorithm>

#include "stream/start_codes.h"

namespace mpg {

void SectorSizeLearner::take(const uint8_t* bytes, size_t count, Position at) {
    for (size_t i = 0; i < count; ++i) {
        carry_ = (carry_ << 8) | bytes[i];
        if (carried_ < 4) ++carried_;
        if (carried_ < 4 || carry_ != kPackStartCode) continue;
        const Position pack = at + i - 3;
        if (packSeen_) takeDistance(pack - lastPack_);
        packSeen_ = true;
        lastPack_ = pack;
    }
}

void SectorSizeLearner::takeDistance(Position distance) {
    if (counted_ >= kMostDistances) return;
    ++distances_[distance];
    ++counted_;
}

uint32_t SectorSizeLearner::sectorSize() const {
    constexpr Position kSmallest = 512, kLargest = 65'536;
    if (counted_ < 4) return 0;
    for (const auto& [candidate, times] : distances_) {
        if (times < 2 || candidate < kSmallest) continue;
        if (candidate > kLargest) break;
        uint32_t multiples = 0;
        for (const auto& [distance, n] : distances_) {
            if (distance % candidate == 0) multiples += n;
        }
        if (multiples * 10 >= counted_ * 9) return static_cast<uint32_t>(candidate);
    }
    return 0;
}

Position fillLength(Position from, Position zerosEnd, Position size, const uint8_t* after,
                    const SectorGrid& grid, bool behindEndCode) {
    if (grid.sectorSize() == 0 || zerosEnd <= from) return 0;
    // The stream is over: zeros from its end code to the end of the file
    // fill out its last sector, wherever the grid has moved to since cuts.
    if (behindEndCode && zerosEnd == size) return size - from;
    Position next = size;
    if (zerosEnd < size) {
        if (zerosEnd - from < 3 || after == nullptr) return 0;
        // A pack header, or the end code that closes the stream there.
        const bool pack = after[0] == 0x01 && after[1] == (kPackStartCode & 0xFF);
        const bool end = after[0] == 0x01 && after[1] == (kEndCode & 0xFF);
        if (!pack && !end) return 0;
        next = zerosEnd - 2;
    }
    if (!grid.onGrid(next)) return 0;
    return next - from;
}

Position fillBehindBrokenBlock(Position declaredEnd, Position found, Position zerosBefore,
                               const SectorGrid& grid) {
    const Position sectorSize = grid.sectorSize();
    if (sectorSize == 0 || grid.start() < 0 || found <= declaredEnd) return 0;
    const Position sectorStart = static_cast<Position>(grid.start());
    if (found < sectorStart) return 0;
    const Position excess = found - declaredEnd;
    const Position most = std::min(zerosBefore, excess);
    // found - fill must be a whole number of sectors plus the damage behind
    // sectorStart; the damage is excess - fill, so fill = excess - damage,
    // and the damage is congruent to (found - sectorStart) modulo a sector.
    const Position offGrid = (found - sectorStart) % sectorSize;
    const Position least = (excess % sectorSize + sectorSize - offGrid) % sectorSize;
    if (least > most) return 0;
    return least + (most - least) / sectorSize * sectorSize;
}

}  // namespace mpg
