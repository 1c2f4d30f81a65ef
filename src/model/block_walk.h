// The walk of a system stream from block to block, shared by every reader
// that follows its blocks: the scan, the structured join, the join's clock
// reader and the index loader's check. Each reads the stream through its own
// source of bytes (a stream view, a join's read-ahead chunk); the walk reads
// a block's head, tells its kind under the codes in force, sizes it and
// learns from it (a system header's streams, an MPEG-2 pack header's
// optional system header, the sector grid a pack header stands on). What to
// do with the block, and where to go on when no block begins, stays the
// reader's: the scan resynchronises, the join refuses, the index check
// compares with its record.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "model/block_table.h"
#include "model/sector_grid.h"
#include "stream/position.h"
#include "stream/stream_view.h"

namespace mpg {

// Where a walk reads its bytes.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // `count` bytes from `pos` (no more than largestRead()), zeros past the
    // end of the stream; valid until the next read. nullptr when the read
    // fails (the source keeps the reason).
    virtual const uint8_t* bytesAt(Position pos, uint32_t count) = 0;
    // The stream's size and the most bytes one read may ask for.
    virtual Position size() const = 0;
    virtual uint32_t largestRead() const = 0;
    // How many bytes from `pos` on the last read holds, readable without
    // another (0 when it holds none): a search steps over them in one go.
    virtual uint32_t heldFrom(Position pos) const {
        (void)pos;
        return 0;
    }
};

// The stream of a view, read through its window.
class ViewSource final : public ByteSource {
  public:
    explicit ViewSource(StreamView& view) : view_(view) {}
    const uint8_t* bytesAt(Position pos, uint32_t count) override { return view_.view(pos, count); }
    Position size() const override { return view_.streamSize(); }
    uint32_t largestRead() const override { return StreamView::kCacheSize; }
    uint32_t heldFrom(Position pos) const override {
        const Position end = view_.windowStart() + view_.windowLength();
        return pos >= view_.windowStart() && pos < end ? static_cast<uint32_t>(end - pos) : 0;
    }

  private:
    StreamView& view_;
};

// A block met by the walk: its first bytes, its kind and the size its header
// declares (0 where no block begins).
struct WalkedBlock {
    Position pos = 0;
    uint32_t code = 0;
    BlockKind kind = BlockKind::None;
    int32_t declared = 0;
    // The head read: kBlockHeadBytes bytes, or kSystemHeaderReadSize of a
    // system header; valid until the source's next read (an observer's
    // read of the block included).
    const uint8_t* head = nullptr;
    uint32_t headSize = 0;
};

// Told of every block a walk meets, in stream order: the place a check of
// the blocks' contents (clocks, elementary streams) plugs into the walk.
// It may read more of the block through the source.
class BlockObserver {
  public:
    virtual ~BlockObserver() = default;
    virtual void take(const WalkedBlock& block, ByteSource& source) = 0;
};

// The bytes read of a block's head: its start code, its length field and,
// of a pack header, the 14 bytes of the MPEG-2 form; 20 leave a few over for
// a reader that reports what it found where no block begins.
inline constexpr uint32_t kBlockHeadBytes = 20;

// The fill at `pos` of a source with the given grid (see BlockWalker::fillAt),
// in a stream that ends at `end`.
std::optional<Position> sectorFillAt(ByteSource& source, const SectorGrid& grid, Position pos,
                                     bool behindEndCode, Position end);

// The end of the run of zero bytes from `from` on, `end` at most. Nothing
// when a read fails.
std::optional<Position> endOfZeros(ByteSource& source, Position from, Position end);

// The sector size the pack headers of a source's head, from `from` on,
// follow (see SectorSizeLearner); 0 when they follow none, nothing when a
// read fails.
std::optional<uint32_t> learnSectorSize(ByteSource& source, Position from = 0);

// The walk over a source of type `Source` (a ByteSource): a reader that
// names its own source's type, a final one, has its reads of the blocks'
// heads made without a call through the interface, as the scan's speed
// needs; BlockWalker<> walks any source.
template <class Source = ByteSource>
class BlockWalker {
  public:
    BlockWalker(Source& source, StreamCodes& codes) : source_(source), codes_(codes) {}

    // The block at `pos`, read and learnt from: a pack header moves the
    // sector grid to itself (and under the sound rules an MPEG-2 one opens
    // the codes of the streams that need no system header), a system
    // header's streams count for the blocks behind it. Nothing when a read
    // fails.
    [[gnu::always_inline]] std::optional<WalkedBlock> blockAt(Position pos) {
        const uint8_t* head = source_.bytesAt(pos, kBlockHeadBytes);
        if (head == nullptr) return std::nullopt;
        const uint32_t code = loadBE32(head);
        const BlockKind kind = codes_.classify(code);
        uint32_t headSize = kBlockHeadBytes;
        if (kind == BlockKind::Pack) {
            codes_.takePackHeader({head, kBlockHeadBytes});
            grid_.packAt(pos);
        } else if (kind == BlockKind::SystemHeader) {
            // Every entry that its declared length holds.
            head = source_.bytesAt(pos, kSystemHeaderReadSize);
            if (head == nullptr) return std::nullopt;
            headSize = kSystemHeaderReadSize;
        }
        const ByteSpan bytes(head, headSize);
        const int32_t declared = codes_.sizeOf(kind, bytes);
        if (kind == BlockKind::SystemHeader) takeStreamCodes(codes_, bytes);
        // The block is put together only here: the scan's loop keeps its
        // fields in registers, and only a walk with observers stores it.
        if (!observers_.empty()) [[unlikely]] {
            tell({pos, code, kind, declared, head, headSize});
        }
        return WalkedBlock{pos, code, kind, declared, head, headSize};
    }

    // Sector fill from `pos` on, where the block before ends (see
    // fillLength), in a stream that ends at `end`; `behindEndCode` when that
    // block is a sound end code. Nothing when a read fails.
    std::optional<Position> fillAt(Position pos, bool behindEndCode, Position end) {
        return sectorFillAt(source_, grid_, pos, behindEndCode, end);
    }

    // Learns the sector size from the stream's head, which begins at
    // `from`, under the sound rules; none under the strict walk, which takes
    // fill for damage. False when a read fails.
    bool learnGrid(Position from = 0) {
        grid_ = SectorGrid{};
        if (codes_.rules() != StreamRules::Sound) return true;
        const std::optional<uint32_t> size = learnSectorSize(source_, from);
        if (size) grid_ = SectorGrid{*size};
        return size.has_value();
    }

    SectorGrid& grid() { return grid_; }
    // Every block blockAt() reads is handed to `observer` too.
    void observe(BlockObserver& observer) { observers_.push_back(&observer); }

  private:
    [[gnu::noinline]] void tell(WalkedBlock block) {
        for (BlockObserver* observer : observers_) observer->take(block, source_);
    }

    Source& source_;
    StreamCodes& codes_;
    SectorGrid grid_;
    std::vector<BlockObserver*> observers_;
};

}  // namespace mpg
