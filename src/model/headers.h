// The headers of a system stream and of the elementary streams its packets
// carry, each read in this one place: the pack header (MPEG-1 and MPEG-2),
// the system header, the packet (PES) header with its time stamps, the MPEG
// audio frame header and the video sequence header. The start codes that
// open them are named in stream/start_codes.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "stream/procedures.h"
#include "stream/start_codes.h"

namespace mpg {

// --- time stamps ----------------------------------------------------------------

// The 33-bit value of a 5-byte stamp (a PTS, a DTS or an MPEG-1 SCR): a
// 4-bit prefix, then the value in parts of 3, 15 and 15 bits, each closed by
// a marker bit. The rewrite keeps the prefix and the marker bits.
uint64_t readTimeStamp(const uint8_t* p);
void writeTimeStamp(uint8_t* p, uint64_t value);

// --- pack header ------------------------------------------------------------------

// The form of a pack header, told by the top bits of its byte 4: 0010 for
// MPEG-1, 01 for MPEG-2 (ISO/IEC 13818-1).
enum class PackForm : uint8_t { Mpeg1, Mpeg2, Neither };
inline PackForm packForm(const uint8_t* pack) {
    if ((pack[4] >> 6) == 1) return PackForm::Mpeg2;
    return (pack[4] >> 4) == 2 ? PackForm::Mpeg1 : PackForm::Neither;
}
// Whether a pack header's first bytes are those of an MPEG-2 pack header.
inline bool isMpeg2Pack(ByteSpan head) {
    return head.size() > 4 && (head[4] >> 6) == 1;
}

// The fields of a pack header. MPEG-1: the SCR as a 5-byte stamp from byte
// 4, then the mux rate between two marker bits (bytes 9 to 11). MPEG-2: the
// bits 01, the SCR base in parts of 3, 15 and 15 bits each closed by a
// marker, its 9-bit extension and a marker (bytes 4 to 9), the mux rate and
// two markers (10 to 12), then 5 reserved bits and the count of stuffing
// bytes that follow the 14 (byte 13).
struct PackHeader {
    bool mpeg2 = false;
    uint64_t scr = 0;           // the SCR base, 33 bits of 90 kHz
    uint16_t scrExtension = 0;  // MPEG-2: 300ths of a tick of the base
    uint32_t muxRate = 0;       // 22 bits, in 50 bytes a second
    uint8_t reserved = 0;       // MPEG-2: the 5 bits in front of the stuffing count
    uint8_t stuffing = 0;       // MPEG-2
    bool markersSet = false;    // every marker bit of the form is 1

    int32_t size() const { return mpeg2 ? kMpeg2PackHeaderSize + stuffing : kPackHeaderSize; }
};
// The pack header at `head` (from its start code): nothing when byte 4 has
// neither form or the fixed bytes of its form (12 or 14) are not there.
std::optional<PackHeader> parsePackHeader(ByteSpan head);
// The size of a pack header as its own bytes give it: 12 for MPEG-1 (and
// anything that is not MPEG-2), 14 and its stuffing for MPEG-2; 0 for an
// MPEG-2 header of fewer than 14 bytes.
inline int32_t packHeaderSize(ByteSpan head) {
    if (!isMpeg2Pack(head)) return kPackHeaderSize;
    if (head.size() < static_cast<size_t>(kMpeg2PackHeaderSize)) return 0;
    return kMpeg2PackHeaderSize + (head[kMpeg2PackHeaderSize - 1] & kPackStuffingMask);
}
// The SCR base of a pack header alone (at least 10 bytes), nothing when
// byte 4 has neither form; and its rewrite in the header's own form, which
// keeps the marker bits and the MPEG-2 extension.
std::optional<uint64_t> packScr(const uint8_t* pack);
void writePackScr(uint8_t* pack, uint64_t scr);

// --- system header ----------------------------------------------------------------

// A system header read in place: its length field, the rate bound and
// marker bits of its 6 fixed bytes behind it, and its stream entries of 3
// bytes each from byte 12 on (a stream_id, then the bits 11 and the STD
// buffer's scale and size). An entry counts when it lies wholly inside the
// declared size and its stream_id was read: a header that lists one stream
// (as video CD streams have) does not lend the next block's bytes as a
// second. The bytes must outlive the view.
class SystemHeader {
  public:
    static constexpr size_t kFixedSize = 12, kFirstEntry = 12, kEntrySize = 3;

    explicit SystemHeader(ByteSpan bytes) : bytes_(bytes) {}

    // The declared size (length field + 6); 0 with fewer than 6 bytes.
    int32_t size() const;
    // The marker bits of the fixed part (false with fewer than 12 bytes).
    bool markersSet() const;
    uint32_t rateBound() const;  // 22 bits, in 50 bytes a second; 0 with fewer than 12 bytes
    // Whether entry k counts (see above), its stream_id, and whether its
    // bytes have the form of an entry (the first bit of the stream_id and
    // the bits 11 behind it set; the entry read whole).
    bool hasEntry(size_t k) const {
        const size_t at = kFirstEntry + kEntrySize * k;
        return at + 2 < static_cast<size_t>(size()) && at < bytes_.size();
    }
    uint8_t streamId(size_t k) const { return bytes_[kFirstEntry + kEntrySize * k]; }
    bool entryFormed(size_t k) const;

  private:
    ByteSpan bytes_;
};

// --- packet (PES) header ------------------------------------------------------------

// Where a packet's header ends and where its time stamps stand, counted from
// the packet's first byte, with their values; a stamp at 0 is absent (no
// stamp can begin at the start code).
struct PacketHeaderLayout {
    uint32_t payloadStart = 0;
    uint32_t ptsAt = 0;
    uint32_t dtsAt = 0;
    uint64_t pts = 0;  // when ptsAt is not 0
    uint64_t dts = 0;  // when dtsAt is not 0
};
// The header of the packet at `bytes` (its first bytes, `count` of them, no
// more than the packet holds). Padding and private stream 2 packets have no
// header past their length field. An MPEG-1 header is up to 16 stuffing
// bytes 0xFF, an optional STD buffer field, and a PTS, a PTS and DTS, or the
// byte 0x0F; an MPEG-2 header begins with the bits 10, and its header-length
// byte counts the rest. The time stamps' marker bits must be set. Nothing
// when the header does not parse or does not fit in `count` bytes.
std::optional<PacketHeaderLayout> parsePacketHeader(const uint8_t* bytes, uint32_t count);
// Where its payload begins, as parsePacketHeader finds it.
std::optional<uint32_t> packetPayloadStart(const uint8_t* bytes, uint32_t count);

// --- MPEG audio frame header ------------------------------------------------------------

// An MPEG audio frame header (layers I to III, MPEG-1, 2 and 2.5).
struct AudioFrameHeader {
    uint32_t length = 0;  // the whole frame, its header included
    // The bits that stay alike from frame to frame of one stream: version,
    // layer and sample rate.
    uint32_t fixedBits = 0;
    uint32_t samples = 0;     // per frame: 384 in layer I, 1152 in II, 1152 or 576 in III
    uint32_t sampleRate = 0;  // in Hz
};
// The frame header at `bytes` (four of them): a sync word, no reserved
// version, layer, bit rate or sample rate, and not the free format (whose
// length no header tells). Nothing otherwise.
std::optional<AudioFrameHeader> parseAudioFrameHeader(const uint8_t* bytes);

// --- video sequence header -----------------------------------------------------------------

// A video sequence header: its code, 12 bits each of width and height, the
// aspect ratio and the frame rate code in one byte, then 18 bits of bit rate.
struct SequenceHeader {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t aspect = 0;
    uint8_t frameRateCode = 0;
    uint32_t bitRate = 0;  // in 400 bits a second; 0 when its bytes were not there
};
inline constexpr uint32_t kSequenceHeaderFixedBytes = 8;
// The sequence header at `bytes` (`count` of them, from its code): nothing
// when its code is not there or fewer than its first 8 bytes.
std::optional<SequenceHeader> parseSequenceHeader(const uint8_t* bytes, uint32_t count);
// Ticks of 90 kHz a frame lasts at a frame rate code, rounded; 0 for a code
// outside 1 to 8.
uint64_t frameTicks(uint8_t frameRateCode);

}  // namespace mpg
