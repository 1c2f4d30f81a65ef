#include "model/block_walk.h"

#include <algorithm>

namespace mpg {

// A few kilobytes are read first, as fill is most often shorter than a
// sector, then ever more, up to the largest read (fill may be gigabytes of
// a sparse file).
std::optional<Position> endOfZeros(ByteSource& source, Position from, Position end) {
    const Position size = std::min(source.size(), end);
    Position at = from;
    for (Position piece = 4096; at < size;
         piece = std::min<Position>(piece * 2, source.largestRead())) {
        const uint32_t count = static_cast<uint32_t>(std::min(piece, size - at));
        const uint8_t* bytes = source.bytesAt(at, count);
        if (bytes == nullptr) return std::nullopt;
        const uint32_t zeros = endOfRun(bytes, 0, count, 0);
        at += zeros;
        if (zeros < count) break;
    }
    return at;
}

std::optional<Position> sectorFillAt(ByteSource& source, const SectorGrid& grid, Position pos,
                                     bool behindEndCode, Position end) {
    if (grid.sectorSize() == 0) return 0;
    const std::optional<Position> zerosEnd = endOfZeros(source, pos, end);
    if (!zerosEnd) return std::nullopt;
    const Position size = std::min(source.size(), end);
    const uint8_t* after = nullptr;
    if (size - *zerosEnd >= 2) {
        after = source.bytesAt(*zerosEnd, 2);
        if (after == nullptr) return std::nullopt;
    }
    return fillLength(pos, *zerosEnd, size, after, grid, behindEndCode);
}

std::optional<uint32_t> learnSectorSize(ByteSource& source, Position from) {
    SectorSizeLearner learner;
    const Position head = std::min<Position>(source.size(), from + SectorSizeLearner::kHeadBytes);
    for (Position done = from; done < head;) {
        const uint32_t piece =
            static_cast<uint32_t>(std::min<Position>(source.largestRead(), head - done));
        const uint8_t* bytes = source.bytesAt(done, piece);
        if (bytes == nullptr) return std::nullopt;
        learner.take(bytes, piece, done);
        done += piece;
    }
    return learner.sectorSize();
}

}  // namespace mpg
