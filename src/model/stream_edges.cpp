#include "model/stream_edges.h"

#include <algorithm>
#include <cstring>

namespace mpg {

namespace {

constexpr Position kId3v1Size = 128;
constexpr Position kApeFooterSize = 32;  // an APE tag's header has the same size

uint32_t loadLE32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The first position from `from` on, before `to`, where a start code that
// `wanted` takes begins; `to` when there is none, nothing when a read
// fails. The source is read in its largest pieces, each overlapping the
// last by the three bytes a code split between them needs.
template <class Wanted>
std::optional<Position> nextCodeWhere(ByteSource& source, Position from, Position to,
                                      Wanted wanted) {
    const Position size = source.size();
    const Position last = std::min(to, size >= 4 ? size - 3 : 0);  // a code takes four bytes
    for (Position at = from; at < last;) {
        const uint32_t count =
            static_cast<uint32_t>(std::min<Position>(source.largestRead(), last - at + 3));
        const uint8_t* bytes = source.bytesAt(at, count);
        if (bytes == nullptr) return std::nullopt;
        const uint32_t span = count - 3;
        for (uint32_t k = 0; (k = nextStartCodePrefix(bytes, k, span)) < span; ++k) {
            if (wanted(loadBE32(bytes + k))) return at + k;
        }
        at += span;
    }
    return to;
}

enum class Chain : uint8_t { Holds, Breaks, Failed };

// Whether the blocks from the pack header at `pack` chain on: each one's
// declared size leads to the next block, or to zeros that fill a sector up
// to a pack header or the end code, for kChainedBlocks blocks or up to an
// end code or the end of the stream. Any stream id counts: the system
// header that lists the streams may be the junk's, or list one stream of
// several (a video CD's first sectors).
Chain chainsFrom(ByteSource& source, Position pack) {
    const Position size = source.size();
    Position pos = pack;
    for (int blocks = 0; blocks < kChainedBlocks;) {
        if (pos >= size) return pos == size ? Chain::Holds : Chain::Breaks;
        const uint8_t* head = source.bytesAt(pos, kMpeg2PackHeaderSize);
        if (head == nullptr) return Chain::Failed;
        const uint32_t code = loadBE32(head);
        if (code == kEndCode) return Chain::Holds;
        if ((code >> 8) == (kStartCodePrefix >> 8) && code > kEndCode) {
            const int32_t declared =
                code == kPackStartCode
                    ? packHeaderSize({head, static_cast<size_t>(kMpeg2PackHeaderSize)})
                    : kLengthFieldEnd + loadBE16(head + 4);
            if (declared <= 0) return Chain::Breaks;
            pos += static_cast<Position>(declared);
            ++blocks;
            continue;
        }
        if (head[0] != 0) return Chain::Breaks;
        const std::optional<Position> zeros = endOfZeros(source, pos, size);
        if (!zeros) return Chain::Failed;
        if (*zeros == size) return Chain::Holds;
        // The zeros end at the 01 of the code behind them.
        if (*zeros < pos + 3) return Chain::Breaks;
        const uint8_t* after = source.bytesAt(*zeros - 2, 4);
        if (after == nullptr) return Chain::Failed;
        const uint32_t next = loadBE32(after);
        if (next != kPackStartCode && next != kEndCode) return Chain::Breaks;
        pos = *zeros - 2;
    }
    return Chain::Holds;
}

}  // namespace

EdgeSearch findStreamStart(ByteSource& source) {
    const Position reach = std::min(source.size(), kJunkReach);
    for (Position from = 0;;) {
        const std::optional<Position> pack = nextCodeWhere(
            source, from, reach, [](uint32_t code) { return code == kPackStartCode; });
        if (!pack) return {std::nullopt, true};
        if (*pack >= reach) return {};
        if (*pack == 0) return {Position{0}, false};
        switch (chainsFrom(source, *pack)) {
            case Chain::Holds:
                return {*pack, false};
            case Chain::Failed:
                return {std::nullopt, true};
            case Chain::Breaks:
                break;
        }
        from = *pack + 1;
    }
}

std::optional<Position> tailTagsStart(ByteSource& source, Position from) {
    Position end = source.size();
    // At most an APE tag and an ID3v1 tag, either behind the other.
    for (int tags = 0; tags < 2; ++tags) {
        if (end >= from + kId3v1Size) {
            const uint8_t* tag = source.bytesAt(end - kId3v1Size, kId3v1Size);
            if (tag == nullptr) return std::nullopt;
            constexpr uint32_t kText = kId3v1Size - 2;
            if (std::memcmp(tag, "TAG", 3) == 0 && nextStartCodePrefix(tag, 0, kText) == kText) {
                end -= kId3v1Size;
                continue;
            }
        }
        if (end >= from + kApeFooterSize) {
            const uint8_t* footer = source.bytesAt(end - kApeFooterSize, kApeFooterSize);
            if (footer == nullptr) return std::nullopt;
            if (std::memcmp(footer, "APETAGEX", 8) == 0) {
                // The size counts the items and the footer; bit 31 of the
                // flags says a header stands in front of them.
                const Position length = Position{loadLE32(footer + 12)} +
                                        ((loadLE32(footer + 20) >> 31) != 0 ? kApeFooterSize : 0);
                if (length >= kApeFooterSize && length <= end - from) {
                    end -= length;
                    continue;
                }
            }
        }
        break;
    }
    return end;
}

std::optional<Position> nextValidStartCode(ByteSource& source, const StreamCodes& codes,
                                           Position from, Position to) {
    return nextCodeWhere(source, from, to,
                         [&](uint32_t code) { return codes.isValidStartCode(code); });
}

}  // namespace mpg
