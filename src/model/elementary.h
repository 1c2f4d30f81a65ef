// What a packet carries, as far as a repair needs to read it: where its
// header ends and its payload begins, and the frames of an MPEG audio
// stream, whose headers give each frame's length so that a chain of them
// shows where bytes were inserted or lost.
#pragma once

#include <cstdint>
#include <optional>

#include "stream/procedures.h"

namespace mpg {

// The end of a packet's header, counted from its first byte (the start
// code), read from `bytes` (the packet's first bytes, `count` of them, no
// more than the packet holds): the payload begins there. Padding and
// private stream 2 packets have no header past their length field. An
// MPEG-1 header is up to 16 stuffing bytes 0xFF, an optional STD buffer
// field, and a PTS, a PTS and DTS, or the byte 0x0F; an MPEG-2 header
// begins with the bits 10, and its header-length byte counts the rest. The
// time stamps' marker bits must be set. Nothing when the header does not
// parse or does not fit in `count` bytes.
std::optional<uint32_t> packetPayloadStart(const uint8_t* bytes, uint32_t count);

// Where a packet's header ends and where its time stamps stand, counted from
// the packet's first byte; a stamp at 0 is absent (no stamp can begin at the
// start code). Each stamp is 5 bytes: a 4-bit prefix, then 33 bits in three
// parts each closed by a marker bit.
struct PacketHeaderLayout {
    uint32_t payloadStart = 0;
    uint32_t ptsAt = 0;
    uint32_t dtsAt = 0;
};
// As packetPayloadStart, with the places of the stamps.
std::optional<PacketHeaderLayout> parsePacketHeader(const uint8_t* bytes, uint32_t count);

// Whether a packet code carries MPEG audio (stream ids 0xC0 to 0xDF) or
// MPEG video (0xE0 to 0xEF).
bool isAudioCode(uint32_t code);
bool isVideoCode(uint32_t code);

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

}  // namespace mpg
