#include "model/block_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace mpg {

namespace {

void putLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t getLE32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The fields behind the offset, alike in both forms.
void putTail(const BlockRecord& r, uint8_t* out) {
    putLE32(out + 0, static_cast<uint32_t>(r.declaredSize));
    out[4] = r.broken;
    putLE32(out + 5, static_cast<uint32_t>(r.realSize));
    out[9] = r.repeatByte;
    putLE32(out + 10, r.repeatLength);
    putLE32(out + 14, r.repeatStart);
}

void getTail(const uint8_t* in, BlockRecord& r) {
    r.declaredSize = static_cast<int32_t>(getLE32(in + 0));
    r.broken = in[4];
    r.realSize = static_cast<int32_t>(getLE32(in + 5));
    r.repeatByte = in[9];
    r.repeatLength = getLE32(in + 10);
    r.repeatStart = getLE32(in + 14);
}

}  // namespace

bool encodeBlockRecord(const BlockRecord& r, uint8_t* out) {
    const std::optional<uint32_t> offset = narrowPosition<uint32_t>(r.offset);
    if (!offset) return false;
    putLE32(out + 0, r.code);
    putLE32(out + 4, *offset);
    putTail(r, out + 8);
    return true;
}

void encodeWideBlockRecord(const BlockRecord& r, uint8_t* out) {
    putLE32(out + 0, r.code);
    putLE32(out + 4, static_cast<uint32_t>(r.offset));
    putLE32(out + 8, static_cast<uint32_t>(r.offset >> 32));
    putTail(r, out + 12);
}

BlockRecord decodeWideBlockRecord(const uint8_t* in) {
    BlockRecord r;
    r.code = getLE32(in + 0);
    r.offset = Position{getLE32(in + 4)} | (Position{getLE32(in + 8)} << 32);
    getTail(in + 12, r);
    return r;
}

BlockRecord decodeBlockRecord(const uint8_t* in) {
    BlockRecord r;
    r.code = getLE32(in + 0);
    r.offset = getLE32(in + 4);
    getTail(in + 8, r);
    return r;
}

std::vector<BlockRecord> BlockTable::entries() const {
    std::vector<BlockRecord> out(size_);
    for (size_t i = 0; i < size_; ++i) out[i] = (*this)[i];
    return out;
}

void BlockTable::holdChunks(size_t n) {
    for (size_t k = chunks_.size(); k < chunksFor(n); ++k) {
        const size_t bytes = chunkCapacity(k) * sizeof(BlockRecord);
        // A full chunk is one huge page of the kernel's where it has them:
        // one page fault instead of 512 when the scan first writes to it.
        const bool hugePage = bytes % kHugePage == 0;
        void* chunk = std::aligned_alloc(hugePage ? kHugePage : alignof(BlockRecord), bytes);
        if (chunk == nullptr) throw std::bad_alloc();
        if (hugePage) ::madvise(chunk, bytes, MADV_HUGEPAGE);
        chunks_.emplace_back(static_cast<BlockRecord*>(chunk));
    }
}

void BlockTable::releaseUnused() {
    if (chunks_.size() > chunksFor(size_)) chunks_.resize(chunksFor(size_));
}

void BlockTable::resize(size_t n) {
    // Entries the table grows over may hold the values of entries it
    // dropped, or nothing yet: they must read as empty. A table that
    // shrinks (a scan trimmed to its blocks) clears nothing.
    holdChunks(n);
    for (size_t i = size_; i < n;) {
        const Place p = placeOf(i);
        const size_t run = std::min(chunkCapacity(p.chunk) - p.slot, n - i);
        std::uninitialized_fill_n(&chunks_[p.chunk].get()[p.slot], run, BlockRecord{});
        i += run;
    }
    size_ = n;
}

int64_t BlockTable::appendBlock(const BlockRecord& record) {
    ++lastIndex_;
    if (size_ <= static_cast<size_t>(lastIndex_)) {
        size_ += kGrowth;
        holdChunks(size_);
        if (older_) passOlderChunks();
    }
    (*this)[static_cast<size_t>(lastIndex_)] = record;
    return lastIndex_;
}

void BlockTable::clearErrorFields(int64_t index) {
    BlockRecord& r = (*this)[static_cast<uint32_t>(index)];
    r.broken = kSound;
    r.realSize = 0;
    r.repeatByte = 0;
    r.repeatLength = 0;
    r.repeatStart = 0;
}

void BlockTable::keepNewestOnly(OlderEntries older) {
    older_ = std::move(older);
}

size_t BlockTable::firstKept() const {
    size_t first = 0;
    for (size_t k = 0; k < passedChunks_; ++k) first += chunkCapacity(k);
    return std::min(first, size_);
}

void BlockTable::passOlderChunks() {
    // Only the last entry changes once the next is taken: every entry of
    // an earlier chunk is final.
    const size_t current = placeOf(static_cast<size_t>(lastIndex_)).chunk;
    for (; passedChunks_ < current; ++passedChunks_) {
        const BlockRecord* chunk = chunks_[passedChunks_].get();
        for (size_t slot = 0; slot < chunkCapacity(passedChunks_); ++slot) older_(chunk[slot]);
        chunks_[passedChunks_].reset();
    }
}

void BlockTable::clear() {
    older_ = nullptr;
    passedChunks_ = 0;
    chunks_.clear();
    plans_.clear();
    size_ = 0;
    lastIndex_ = -1;
}

void BlockTable::startFresh() {
    // Chunks handed on are gone: the table starts with none.
    if (passedChunks_ > 0) {
        chunks_.clear();
        passedChunks_ = 0;
    }
    plans_.clear();
    size_ = 0;
    lastIndex_ = -1;
    resize(kGrowth);
}

void BlockTable::resumeAfterLast() {
    lastIndex_ = static_cast<int64_t>(size_) - 1;
}

void BlockTable::trimToLast() {
    resize(static_cast<size_t>(lastIndex_ + 1));
    releaseUnused();
}

void BlockTable::dropLast() {
    if (size_ > 0) resize(size_ - 1);
    lastIndex_ = static_cast<int64_t>(size_) - 1;
    while (!plans_.empty() && plans_.back().index >= size_) plans_.pop_back();
}

void BlockTable::planWrite(size_t index, PlannedWrite how, uint32_t total) {
    const auto at = std::lower_bound(plans_.begin(), plans_.end(), index,
                                     [](const WritePlan& p, size_t i) { return p.index < i; });
    if (at != plans_.end() && at->index == index) {
        *at = {index, how, total};
    } else {
        plans_.insert(at, {index, how, total});
    }
}

void BlockTable::assign(const std::vector<BlockRecord>& entries) {
    clear();
    resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) (*this)[i] = entries[i];
    lastIndex_ = static_cast<int64_t>(size_) - 1;
}

void BlockTable::allocate(size_t count) {
    clear();
    resize(count);
    lastIndex_ = static_cast<int64_t>(size_) - 1;
}

void takeStreamCodes(StreamCodes& codes, ByteSpan header) {
    codes.takeFromHeader(header);
}

void StreamCodes::rebuildLiteral() {
    if (rules_ != StreamRules::Literal && listed_) return;
    // Under the sound rules the two initial codes stand until a system
    // header lists streams.
    packets_ = {};
    add(kPaddingStreamCode & 0xFF);
    add(first_ & 0xFF);
    add(second_ & 0xFF);
}

std::vector<uint32_t> StreamCodes::packetCodes() const {
    std::vector<uint32_t> codes;
    for (uint32_t id = 0; id < 256; ++id) {
        if (id != (kPaddingStreamCode & 0xFF) && ((packets_[id >> 6] >> (id & 63)) & 1))
            codes.push_back(kStartCodePrefix | id);
    }
    return codes;
}

void StreamCodes::takeFromHeader(ByteSpan bytes) {
    const SystemHeader header(bytes);
    if (header.hasEntry(0)) first_ = kStartCodePrefix | header.streamId(0);
    if (header.hasEntry(1)) second_ = kStartCodePrefix | header.streamId(1);
    if (rules_ == StreamRules::Literal) {
        rebuildLiteral();
        return;
    }
    for (size_t k = 0; header.hasEntry(k); ++k) {
        const uint32_t id = header.streamId(k);
        if ((id & 0x80) == 0) break;
        if (!listed_) {
            packets_ = {};
            add(kPaddingStreamCode & 0xFF);
            listed_ = true;
        }
        if (id == kAllAudioStreams) {
            for (uint32_t a = kFirstAudioStream; a <= kLastAudioStream; ++a) add(a);
        } else if (id == kAllVideoStreams) {
            for (uint32_t v = kFirstVideoStream; v <= kLastVideoStream; ++v) add(v);
        } else if (id >= kFirstListableStream) {
            add(id);
        }
    }
}

void StreamCodes::takePackHeader(ByteSpan head) {
    if (isMpeg2Pack(head)) openEveryStream();
}

void StreamCodes::openEveryStream(bool kept) {
    if (rules_ != StreamRules::Sound || listed_) return;
    listed_ = kept;
    add(kPrivateStream1);
    add(kPrivateStream2);
    for (uint32_t id = kFirstAudioStream; id <= kLastVideoStream; ++id) add(id);
}

}  // namespace mpg
