// Start codes of an MPEG-1 system stream (ISO/IEC 11172-1) that this program
// walks. Every block of the stream begins with one of them; the two
// elementary-stream codes are not fixed here: they come from the system header
// (see model/block_table.h).
#pragma once

#include <array>
#include <cstdint>

namespace mpg {

inline constexpr uint32_t kPackStartCode = 0x000001BA;          // pack_start_code
inline constexpr uint32_t kSystemHeaderStartCode = 0x000001BB;  // system_header_start_code
inline constexpr uint32_t kPaddingStreamCode = 0x000001BE;      // padding_stream
inline constexpr uint32_t kEndCode = 0x000001B9;                // iso_11172_end_code

// Start codes inside a video elementary stream (ISO/IEC 11172-2), which a
// packet's payload carries: a picture begins each frame, a sequence header
// gives the frame size and rate.
inline constexpr uint32_t kPictureStartCode = 0x00000100;    // picture_start_code
inline constexpr uint32_t kSequenceHeaderCode = 0x000001B3;  // sequence_header_code

// The code of a table entry that is no block: sector fill, the zero bytes a
// video CD or DVD muxer puts between a sector's last packet and the next
// sector's pack header; or, listed as broken, the bytes of a broken block
// beyond the 2 GiB one entry can span. No start code is zero.
inline constexpr uint32_t kFillCode = 0x00000000;

// The elementary-stream codes in force before any system header has been read.
inline constexpr uint32_t kInitialFirstStreamCode = 0x000001C0;   // audio stream 0
inline constexpr uint32_t kInitialSecondStreamCode = 0x000001E0;  // video stream 0

// stream_ids a system header lists: the two that stand for all audio or all
// video streams, and the ranges they cover. Ids from 0xBC on name one stream
// each (0xBD and 0xBF, the private streams, and 0xBE, padding, among them).
inline constexpr uint32_t kAllAudioStreams = 0xB8;
inline constexpr uint32_t kAllVideoStreams = 0xB9;
inline constexpr uint32_t kFirstAudioStream = 0xC0, kLastAudioStream = 0xDF;
inline constexpr uint32_t kFirstVideoStream = 0xE0, kLastVideoStream = 0xEF;
inline constexpr uint32_t kFirstListableStream = 0xBC;
inline constexpr uint32_t kPrivateStream1 = 0xBD, kPrivateStream2 = 0xBF;

// Every start code is the prefix 00 00 01 followed by one identifying byte.
inline constexpr uint32_t kStartCodePrefix = 0x00000100;

// A pack header of MPEG-1 is always 12 bytes; an end code is the bare 4-byte code.
inline constexpr int32_t kPackHeaderSize = 12;
// An MPEG-2 pack header (ISO/IEC 13818-1) is 14 bytes and up to 7 stuffing
// bytes, their count in the low 3 bits of its last byte.
inline constexpr int32_t kMpeg2PackHeaderSize = 14;
inline constexpr uint8_t kPackStuffingMask = 0x07;
inline constexpr int32_t kEndCodeSize = 4;
// Start code (4) + 16-bit length field (2) precede the counted bytes of a
// system header or a packet.
inline constexpr int32_t kLengthFieldEnd = 6;
// The bytes of a system header that can list streams: its 12 fixed bytes and
// one 3-byte entry for each of the 72 stream_ids from 0xB8 to 0xFF.
inline constexpr uint32_t kSystemHeaderReadSize = 12 + 3 * 72;
// The end code as it stands in the stream, for the writers that close one.
inline constexpr std::array<uint8_t, 4> kEndCodeBytes = {
    static_cast<uint8_t>(kEndCode >> 24), static_cast<uint8_t>(kEndCode >> 16),
    static_cast<uint8_t>(kEndCode >> 8), static_cast<uint8_t>(kEndCode)};
// The largest block a header can declare: a 16-bit length and those 6 bytes.
inline constexpr uint32_t kLargestBlock = 65'541;

}  // namespace mpg
