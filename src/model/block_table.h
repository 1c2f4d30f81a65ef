// The model of the input stream: one BlockRecord per block that the scan
// found, in stream order, and the two elementary-stream codes that decide
// which packets count as blocks.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "model/headers.h"
#include "stream/position.h"
#include "stream/procedures.h"
#include "stream/start_codes.h"

namespace mpg {

// Values of BlockRecord::broken.
inline constexpr uint8_t kSound = 0;
inline constexpr uint8_t kBrokenListed = 'y';    // found by the scan, listed
inline constexpr uint8_t kBrokenAccepted = 'x';  // accepted at its real size, no longer listed

// The fields are ordered so that a record takes 32 bytes in memory: a stream
// of several gigabytes has millions of blocks.
struct BlockRecord {
    Position offset = 0;        // stream position of the first byte
    uint32_t code = 0;          // start code at the block's first byte
    int32_t declaredSize = 0;   // size as the block's header states it
    int32_t realSize = 0;       // broken: distance to the next valid start code
    uint32_t repeatLength = 0;  // its length; 0 when none was recorded
    uint32_t repeatStart = 0;   // its start, counted from the block's first byte
    uint8_t broken = kSound;    // kSound, kBrokenListed or kBrokenAccepted
    uint8_t repeatByte = 0;     // value of the longest run of equal bytes

    // realSize - declaredSize in 32-bit two's complement, as the list shows it.
    int32_t delta() const {
        return static_cast<int32_t>(static_cast<uint32_t>(realSize) -
                                    static_cast<uint32_t>(declaredSize));
    }
    bool isBroken() const { return broken != kSound; }
    bool operator==(const BlockRecord&) const = default;
};

static_assert(sizeof(BlockRecord) == 32);

// The on-disk form of one record (the .index file): 26 bytes, little-endian,
// no padding: code, offset (32 bits), declared size, broken mark, real size,
// run byte, run length, run start. False, with nothing written, for a record
// whose offset does not fit in 32 bits.
inline constexpr size_t kBlockRecordSize = 26;
[[nodiscard]] bool encodeBlockRecord(const BlockRecord& record, uint8_t* out);
BlockRecord decodeBlockRecord(const uint8_t* in);

// The wide form of a record, for streams of 4 GiB and more: 30 bytes, the
// same fields in the same order with a 64-bit offset.
inline constexpr size_t kWideBlockRecordSize = 30;
void encodeWideBlockRecord(const BlockRecord& record, uint8_t* out);
BlockRecord decodeWideBlockRecord(const uint8_t* in);

// How the writer saves a block that the automatic repair settled, whatever
// the fallback for broken blocks says. Kept beside the table in memory only:
// the index file records findings, not repairs.
enum class PlannedWrite : uint8_t {
    PadToDeclared,   // its real size, then zeros up to the declared size
    LengthFromReal,  // its real size, the length field set to it
    Drop,            // left out (a header the end of the file cut short)
};
struct WritePlan {
    size_t index = 0;
    PlannedWrite how = PlannedWrite::PadToDeclared;
    // PadToDeclared: the bytes written in all, when more than the declared
    // size (the sector fill the lost bytes took along); 0 for the declared size.
    uint32_t total = 0;
    bool operator==(const WritePlan&) const = default;
};

// While a scan runs the table's length is its capacity and may be larger than
// lastIndex + 1; at every other time its length is the number of blocks. The
// entries a scan grows the table over are not cleared: appendBlock writes
// each whole as it takes it, and the scan trims the table to them at its
// end. A fresh scan reuses the chunks the table holds, which are already
// mapped: a rescan pays neither page faults nor clearing for its table.
// Entries are stored in chunks that are never moved or copied, so a
// reference to an entry stays valid while the table grows: a 1 GB stream has
// about a million blocks, and a doubling array would briefly hold two copies.
// The first chunk holds 1,024 entries and each next one twice as many, up to
// 65,536 per chunk from then on: a short file takes 32 KiB of table, not
// 2 MiB. Fuzz builds take chunks of 16 to 256 entries and grow by 40: a fuzz
// input of a few kilobytes then fills full chunks and grows its table midway
// as a stream of many megabytes does, and no run clears 32 KiB it never
// uses. No result depends on these sizes.
class BlockTable {
  public:
#ifdef MPGMEND_SMALL_BUFFERS
    static constexpr size_t kGrowth = 40;
#else
    static constexpr size_t kGrowth = 1000;
#endif

    size_t size() const {
        return size_;
    }
    bool empty() const {
        return size_ == 0;
    }
    BlockRecord& operator[](size_t i) {
        const Place p = placeOf(i);
        return chunks_[p.chunk].get()[p.slot];
    }
    const BlockRecord& operator[](size_t i) const {
        const Place p = placeOf(i);
        return chunks_[p.chunk].get()[p.slot];
    }
    std::vector<BlockRecord> entries() const;

    int64_t lastIndex() const {
        return lastIndex_;
    }
    BlockRecord& last() {
        return (*this)[static_cast<size_t>(lastIndex_)];
    }

    // Takes the next entry, growing the table by kGrowth when it is full, and
    // returns the new lastIndex. The entry is written whole, once: as given
    // (the scan's blocks), or empty.
    int64_t appendBlock(const BlockRecord& record);
    int64_t appendBlock() {
        return appendBlock(BlockRecord{});
    }
    // Clears the error fields of an entry; code, offset and declaredSize stay.
    // Only the low 32 bits of the index address the entry.
    void clearErrorFields(int64_t index);

    void clear();            // no entries, no memory held (the open check)
    void startFresh();       // kGrowth empty entries, lastIndex -1 (a fresh scan)
    void resumeAfterLast();  // lastIndex at the last entry (a resumed scan)
    void trimToLast();       // cut to lastIndex + 1 (the end of a scan)
    void dropLast();         // remove the last entry, if any (a stopped scan)
    void assign(const std::vector<BlockRecord>& entries);  // replace the whole table
    // Exactly `count` empty entries, lastIndex at the last: a table filled in
    // place (the index file's loader) is never held twice.
    void allocate(size_t count);

    // The planned writes, in ascending index order. Every change that makes
    // the table anew (clear, startFresh, assign, allocate) forgets them.
    void planWrite(size_t index, PlannedWrite how, uint32_t total = 0);
    const std::vector<WritePlan>& plannedWrites() const {
        return plans_;
    }

    // A table that only counts (the scan of a written file, which a check
    // judges by its broken blocks): as it grows, the entries of every chunk
    // behind the one its last entry lies in are handed to `older` in order
    // and their memory is given back, so that it holds a few chunks however
    // long the stream. Only the entries from firstKept() on can be read;
    // clear() ends the mode.
    using OlderEntries = std::function<void(const BlockRecord&)>;
    void keepNewestOnly(OlderEntries older);
    size_t firstKept() const;

  private:
#ifdef MPGMEND_SMALL_BUFFERS
    static constexpr size_t kFirstChunkBits = 4;
    static constexpr size_t kFullChunkBits = 8;
#else
    static constexpr size_t kFirstChunkBits = 10;
    static constexpr size_t kFullChunkBits = 16;
#endif
    static constexpr size_t kHugePage = size_t{2} << 20;
    static constexpr size_t kFirstChunk = size_t{1} << kFirstChunkBits;
    static constexpr size_t kFullChunk = size_t{1} << kFullChunkBits;
    // Chunks of 1,024 to 32,768 entries (16 to 128), then full ones.
    static constexpr size_t kGrowingChunks = kFullChunkBits - kFirstChunkBits;

    // Entry i, counted from kFirstChunk on (j = i + kFirstChunk), lies in
    // the chunk given by j's highest bit while j < 2 * kFullChunk (chunk k
    // spans j from kFirstChunk << k to twice that), and past that in full
    // chunks that continue the same numbering.
    struct Place {
        size_t chunk;
        size_t slot;
    };
    static Place placeOf(size_t i) {
        const size_t j = i + kFirstChunk;
        if (j >= kFullChunk)
            return {(j >> kFullChunkBits) + kGrowingChunks - 1, j & (kFullChunk - 1)};
        const size_t top = static_cast<size_t>(std::bit_width(j)) - 1;
        return {top - kFirstChunkBits, j - (size_t{1} << top)};
    }
    // The number of entries chunk `chunk` holds.
    static constexpr size_t chunkCapacity(size_t chunk) {
        return chunk < kGrowingChunks ? kFirstChunk << chunk : kFullChunk;
    }
    // The number of chunks that hold `n` entries.
    static size_t chunksFor(size_t n) {
        return n == 0 ? 0 : placeOf(n - 1).chunk + 1;
    }
    // Sets the length; new entries are zero, dropped ones are forgotten.
    void resize(size_t n);
    // Holds the chunks for `n` entries, keeping those it holds; new chunks
    // are not cleared.
    void holdChunks(size_t n);
    // Frees the chunks no entry up to the length lies in.
    void releaseUnused();
    // keepNewestOnly(): the chunks behind the last entry's handed on and freed.
    void passOlderChunks();

    // Chunks as raw memory: cleared only where the table is made anew with
    // empty entries, never where a scan writes every entry itself.
    struct FreeChunk {
        void operator()(BlockRecord* chunk) const { std::free(chunk); }
    };
    std::vector<std::unique_ptr<BlockRecord, FreeChunk>> chunks_;
    size_t size_ = 0;
    int64_t lastIndex_ = -1;
    std::vector<WritePlan> plans_;
    OlderEntries older_;
    size_t passedChunks_ = 0;  // chunks handed to older_ and freed
};

// What a start code opens, tested in this order: pack header, system header,
// packet (padding or one of the stream codes), end code.
enum class BlockKind : uint8_t { Pack, SystemHeader, Packet, End, None };

// declaredSize of a block of the given kind from its first bytes (at least 6
// for a system header or a packet): 12, length field + 6, or 4. Lengths are
// computed in 32 bits, so they range from 6 to 65,541. 0 for BlockKind::None
// or too few bytes.
inline int32_t blockSize(BlockKind kind, ByteSpan head) {
    switch (kind) {
        case BlockKind::Pack:
            return kPackHeaderSize;
        case BlockKind::End:
            return kEndCodeSize;
        case BlockKind::SystemHeader:
        case BlockKind::Packet:
            if (head.size() < static_cast<size_t>(kLengthFieldEnd)) return 0;
            return ((int32_t{head[4]} << 8) | head[5]) + kLengthFieldEnd;
        case BlockKind::None:
            break;
    }
    return 0;
}

// How the walk reads a stream. Sound takes every stream a system header
// lists; Literal is the strict MPEG-1 walk: the two stream codes of bytes 12
// and 15 of each system header and nothing else.
enum class StreamRules : uint8_t { Sound, Literal };

// The packet codes in force: padding and the streams that the system headers
// read so far list. Kept as a set over the start code's last byte, so that
// classify(), which runs per block and per byte of a resynchronisation,
// costs one bit test.
class StreamCodes {
  public:
    explicit StreamCodes(StreamRules rules = StreamRules::Sound) : rules_(rules) {
        rebuildLiteral();
    }
    // The literal rules with the two given codes (tests and what an earlier
    // file left).
    StreamCodes(uint32_t first, uint32_t second)
        : rules_(StreamRules::Literal), first_(first), second_(second) {
        rebuildLiteral();
    }

    StreamRules rules() const { return rules_; }
    // The codes of the first two entries of the last system header read
    // (under both rules: the JSON document names them).
    uint32_t first() const { return first_; }
    uint32_t second() const { return second_; }
    // Every packet code in force but padding, in increasing order.
    std::vector<uint32_t> packetCodes() const;

    BlockKind classify(uint32_t code) const {
        if ((code >> 8) != (kStartCodePrefix >> 8)) return BlockKind::None;
        if (code == kPackStartCode) return BlockKind::Pack;
        if (code == kSystemHeaderStartCode) return BlockKind::SystemHeader;
        const uint32_t id = code & 0xFF;
        if ((packets_[id >> 6] >> (id & 63)) & 1) return BlockKind::Packet;
        if (code == kEndCode) return BlockKind::End;
        return BlockKind::None;
    }
    bool isValidStartCode(uint32_t code) const { return classify(code) != BlockKind::None; }

    // Takes the codes a system header lists (see takeStreamCodes).
    void takeFromHeader(ByteSpan header);
    // A pack header met (its first kMpeg2PackHeaderSize bytes): under the
    // sound rules an MPEG-2 pack met before any system header has listed a
    // stream makes every PES stream id (0xBD, 0xBF, 0xC0-0xEF) a packet
    // code, as MPEG-2 streams need no system header.
    void takePackHeader(ByteSpan head);
    // Under the sound rules, before any system header has listed a stream:
    // every PES stream id a packet code, as for an MPEG-2 pack. `kept`: the
    // system headers that follow add to the set instead of replacing it, as
    // for a stream whose head junk took, which may have lost the system
    // header that listed some of its streams (a video CD's first sectors
    // list one stream each).
    void openEveryStream(bool kept = false);
    // declaredSize of a block under these rules: blockSize(), except that
    // the sound rules read an MPEG-2 pack header (the bits 01 at the top of
    // byte 4) as 14 bytes plus the stuffing count in the low 3 bits of byte
    // 13. `head` holds kMpeg2PackHeaderSize bytes of a pack header.
    int32_t sizeOf(BlockKind kind, ByteSpan head) const {
        if (kind != BlockKind::Pack || rules_ != StreamRules::Sound) return blockSize(kind, head);
        return packHeaderSize(head);
    }

    bool operator==(const StreamCodes&) const = default;

  private:
    void add(uint32_t id) { packets_[id >> 6] |= uint64_t{1} << (id & 63); }
    // The set the literal rules use: padding and the two codes.
    void rebuildLiteral();

    StreamRules rules_;
    uint32_t first_ = kInitialFirstStreamCode;
    uint32_t second_ = kInitialSecondStreamCode;
    // Under the sound rules, whether a system header has listed a stream:
    // the first one replaces the initial codes, later ones add to the set.
    bool listed_ = false;
    std::array<uint64_t, 4> packets_{};
};

// Takes the stream_ids of the first two stream entries of a system header as
// the low bytes of the two stream codes. Entry k occupies header bytes 12+3k
// to 14+3k and is taken only when it lies wholly inside the header's declared
// size: a header that lists one stream (as video CD streams have) leaves the
// second code as it was instead of reading the next block's bytes. Under the
// sound rules every entry inside the declared size counts (up to the first
// byte that is no stream_id, whose top bit is clear): 0xB8 stands for every
// audio stream (0xC0-0xDF), 0xB9 for every video stream (0xE0-0xEF), and any
// other id from 0xBC on for itself. `header` needs at most
// kSystemHeaderReadSize bytes.
void takeStreamCodes(StreamCodes& codes, ByteSpan header);

}  // namespace mpg
