#include "repair/auto_repair_parts.h"

namespace mpg::autorepair {

// --- what the stream format can tell of a block's bytes ---------------------

std::optional<PackHeader> soundPackHeader(ByteSpan b) {
    std::optional<PackHeader> h = parsePackHeader(b);
    if (h && !h->markersSet) h.reset();
    return h;
}

namespace {

// The marker bits of a system header and the form of its stream entries.
bool systemHeaderParses(ByteSpan b) {
    const SystemHeader header(b);
    if (b.size() < SystemHeader::kFixedSize || !header.markersSet()) return false;
    for (size_t k = 0; header.hasEntry(k); ++k) {
        if (!header.entryFormed(k)) return false;
    }
    return true;
}

}  // namespace

bool headerParses(const std::vector<uint8_t>& b, int32_t declared, const StreamCodes& codes) {
    if (b.size() < 4 || static_cast<int64_t>(b.size()) != declared) return false;
    const uint32_t code = loadBE32(b.data());
    const BlockKind kind = codes.classify(code);
    const ByteSpan head(b.data(), std::min<size_t>(b.size(), kSystemHeaderReadSize));
    if (kind == BlockKind::Pack) {
        return soundPackHeader(b) &&
               codes.sizeOf(kind,
                            ByteSpan(b.data(), std::min<size_t>(b.size(), kMpeg2PackHeaderSize))) ==
                   declared;
    }
    if (kind == BlockKind::End) return true;
    if (b.size() < static_cast<size_t>(kLengthFieldEnd) || codes.sizeOf(kind, head) != declared) {
        return false;
    }
    if (kind == BlockKind::SystemHeader) return systemHeaderParses(b);
    if (kind == BlockKind::Packet) {
        return packetPayloadStart(b.data(), static_cast<uint32_t>(b.size())).has_value();
    }
    return true;
}

// --- the frame chain of an MPEG audio stream ---------------------------------

namespace {

// Whether a frame header stands at `p` whose fixed bits are `fixed` (any,
// when 0): they and its length are then taken.
bool headerFits(const uint8_t* p, uint32_t& fixed, uint32_t& length) {
    const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(p);
    if (!h || (fixed != 0 && h->fixedBits != fixed)) return false;
    fixed = h->fixedBits;
    length = h->length;
    return true;
}

}  // namespace

ChainWalk walkChain(const uint8_t* p, uint32_t n, uint32_t at, uint32_t fixed) {
    while (at + 4 <= n) {
        uint32_t length = 0;
        if (!headerFits(p + at, fixed, length)) return {false, 0, at};
        at += length;
    }
    return {true, static_cast<int64_t>(at) - n, 0};
}

std::optional<uint32_t> chainStart(const uint8_t* p, uint32_t n, uint32_t fixed) {
    for (uint32_t h = 0; h + 4 <= n; ++h) {
        uint32_t f = fixed, length = 0;
        if (p[h] != 0xFF || !headerFits(p + h, f, length)) continue;
        uint32_t next = 0;
        if (h + length + 4 > n || headerFits(p + h + length, f, next)) return h;
    }
    return std::nullopt;
}

namespace {

// The length of the frame whose header begins `split` (1 to 3) bytes before
// the end of `head`'s bytes and goes on in `tail`'s.
std::optional<uint32_t> splitFrameLength(const uint8_t* head, uint32_t split, const uint8_t* tail,
                                         uint32_t fixed) {
    uint8_t h[4];
    for (uint32_t k = 0; k < 4; ++k) h[k] = k < split ? head[k] : tail[k - split];
    uint32_t length = 0;
    if (!headerFits(h, fixed, length)) return std::nullopt;
    return length;
}

}  // namespace

std::optional<int64_t> firstHeaderOf(const uint8_t* p, uint32_t n, const AudioContext& ctx) {
    if (!ctx.carry || *ctx.carry >= 0) return ctx.carry;
    const uint32_t split = static_cast<uint32_t>(-*ctx.carry);
    if (n < 4) return std::nullopt;
    const std::optional<uint32_t> length =
        splitFrameLength(ctx.before.data() + 3 - split, split, p, ctx.fixed);
    if (!length) return std::nullopt;
    return *ctx.carry + *length;
}

ChainVerdict chainFits(const uint8_t* p, uint32_t n, const AudioContext& ctx) {
    std::optional<int64_t> carry;
    const std::optional<int64_t> first = firstHeaderOf(p, n, ctx);
    if (ctx.carry && !first) return ChainVerdict::Fails;
    if (first) {
        if (*first >= n) {
            carry = *first - n;
        } else {
            const ChainWalk w = walkChain(p, n, static_cast<uint32_t>(*first), ctx.fixed);
            if (!w.whole) return ChainVerdict::Fails;
            carry = w.carry;
        }
    } else if (const std::optional<uint32_t> h = chainStart(p, n, ctx.fixed)) {
        const ChainWalk w = walkChain(p, n, *h, ctx.fixed);
        if (!w.whole) return ChainVerdict::Fails;
        carry = w.carry;
    }
    if (!carry) return ChainVerdict::Unknown;
    if (!ctx.nextFirst) return first ? ChainVerdict::Fits : ChainVerdict::Unknown;
    int64_t expected = *carry;
    if (expected < 0) {
        // The last header is split: the packet after holds its rest.
        const uint32_t split = static_cast<uint32_t>(-expected);
        const std::optional<uint32_t> length =
            splitFrameLength(p + n - split, split, ctx.after.data(), ctx.fixed);
        if (!length) return ChainVerdict::Fails;
        expected += *length;
    }
    return expected == static_cast<int64_t>(*ctx.nextFirst) ? ChainVerdict::Fits
                                                            : ChainVerdict::Fails;
}

bool PackContext::fits(ByteSpan b) const {
    const std::optional<PackHeader> h = soundPackHeader(b);
    if (!h) return false;
    if (before) {
        if (h->mpeg2 != before->mpeg2 || h->muxRate != before->muxRate) return false;
        if (h->mpeg2 && (h->reserved != before->reserved || h->stuffing != before->stuffing))
            return false;
        if (h->scr < before->scr) return false;
    }
    return !after || h->scr <= after->scr;
}

}  // namespace mpg::autorepair
