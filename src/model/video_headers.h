// The headers of an MPEG-1 or MPEG-2 video elementary stream beyond the
// sequence header (model/headers.h): the sequence and picture coding
// extensions, the picture header, and the vertical position a slice's
// start code tells. Each is read from its start code on, in this one place.
#pragma once

#include <cstdint>
#include <optional>

#include "stream/start_codes.h"

namespace mpg {

// The start code values (the byte behind 00 00 01) of a video stream.
inline constexpr uint8_t kPictureCode = 0x00;
inline constexpr uint8_t kFirstSliceCode = 0x01;
inline constexpr uint8_t kLastSliceCode = 0xAF;
inline constexpr uint8_t kUserDataCode = 0xB2;
inline constexpr uint8_t kSequenceCode = kSequenceHeaderCode & 0xFF;
inline constexpr uint8_t kExtensionCode = 0xB5;
inline constexpr uint8_t kSequenceEndCode = 0xB7;
inline constexpr uint8_t kGopCode = 0xB8;

// The most bytes, from the start code on, any of the readers below needs.
inline constexpr uint32_t kVideoHeaderBytes = 10;

// The MPEG-2 sequence extension (extension id 1): the top bits of the
// picture's size, whether every picture is progressive, and the factor
// n+1 / d+1 on the sequence header's frame rate.
struct SequenceExtension {
    uint8_t widthExtension = 0;   // 2 bits above the sequence header's 12
    uint8_t heightExtension = 0;  // 2 bits above the sequence header's 12
    bool progressive = false;
    uint8_t frameRateN = 0;  // 2 bits
    uint8_t frameRateD = 0;  // 5 bits
};
inline constexpr uint32_t kSequenceExtensionBytes = 10;
// The extension at `bytes` (from its start code, `count` bytes): nothing
// unless it is a sequence extension read whole.
std::optional<SequenceExtension> parseSequenceExtension(const uint8_t* bytes, uint32_t count);

// The MPEG-2 picture coding extension (extension id 8): whether the picture
// is one field or a frame, and the flags that make a frame last more than
// two fields.
struct PictureCodingExtension {
    uint8_t structure = 3;  // 1 top field, 2 bottom field, 3 frame
    bool topFieldFirst = false;
    bool repeatFirstField = false;
    bool progressiveFrame = false;
};
inline constexpr uint32_t kPictureCodingExtensionBytes = 9;
std::optional<PictureCodingExtension> parsePictureCodingExtension(const uint8_t* bytes,
                                                                  uint32_t count);

// The picture header's first fields: the picture's place in display order
// within its group of pictures, and its coding type (1 I, 2 P, 3 B, 4 D).
struct PictureHeader {
    uint16_t temporalReference = 0;  // 10 bits
    uint8_t codingType = 0;
};
inline constexpr uint32_t kPictureHeaderBytes = 6;
std::optional<PictureHeader> parsePictureHeader(const uint8_t* bytes, uint32_t count);

// Whether a group of pictures header (from its start code, 8 bytes) says
// that the pictures in front of its first I picture lost what they refer
// to: an editor cut them off, and the group's count need not start at 0.
inline constexpr uint32_t kGopHeaderBytes = 8;
inline bool gopBrokenLink(const uint8_t* bytes) {
    return (bytes[7] & 0x20) != 0;
}

// The macroblock row a slice starts in: its start code's value less one,
// and above a height of 2800 lines the 3 bits of the slice's first byte as
// bits 7 to 9 (the picture then has more rows than slice codes). `bytes`
// holds the start code and, for such a height, the byte behind it.
inline constexpr uint32_t kTallPictureLines = 2800;
uint32_t sliceRow(const uint8_t* bytes, uint32_t height);

// The frame rate of a frame rate code as a fraction, frames in `seconds`
// seconds (24000/1001 for 23.976); {0, 1} for a code outside 1 to 8.
struct FrameRate {
    uint32_t frames = 0;
    uint32_t seconds = 1;
};
FrameRate frameRate(uint8_t frameRateCode);

}  // namespace mpg
