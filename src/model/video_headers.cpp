#include "model/video_headers.h"

#include <array>

namespace mpg {

namespace {

// `width` bits from bit `first` on, counted from the top bit of the byte
// behind the start code (the extension id's first bit is bit 0).
uint32_t bitsAfterCode(const uint8_t* bytes, uint32_t first, uint32_t width) {
    uint32_t value = 0;
    for (uint32_t bit = first; bit < first + width; ++bit) {
        value = (value << 1) | ((bytes[4 + bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return value;
}

bool isExtension(const uint8_t* bytes, uint32_t count, uint32_t need, uint8_t id) {
    return count >= need && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 &&
           bytes[3] == kExtensionCode && (bytes[4] >> 4) == id;
}

}  // namespace

std::optional<SequenceExtension> parseSequenceExtension(const uint8_t* bytes, uint32_t count) {
    if (!isExtension(bytes, count, kSequenceExtensionBytes, 1)) return std::nullopt;
    SequenceExtension e;
    e.progressive = bitsAfterCode(bytes, 12, 1) != 0;
    e.widthExtension = static_cast<uint8_t>(bitsAfterCode(bytes, 15, 2));
    e.heightExtension = static_cast<uint8_t>(bitsAfterCode(bytes, 17, 2));
    e.frameRateN = static_cast<uint8_t>(bitsAfterCode(bytes, 41, 2));
    e.frameRateD = static_cast<uint8_t>(bitsAfterCode(bytes, 43, 5));
    return e;
}

std::optional<PictureCodingExtension> parsePictureCodingExtension(const uint8_t* bytes,
                                                                  uint32_t count) {
    if (!isExtension(bytes, count, kPictureCodingExtensionBytes, 8)) return std::nullopt;
    PictureCodingExtension e;
    e.structure = static_cast<uint8_t>(bitsAfterCode(bytes, 22, 2));
    e.topFieldFirst = bitsAfterCode(bytes, 24, 1) != 0;
    e.repeatFirstField = bitsAfterCode(bytes, 30, 1) != 0;
    e.progressiveFrame = bitsAfterCode(bytes, 32, 1) != 0;
    return e;
}

std::optional<PictureHeader> parsePictureHeader(const uint8_t* bytes, uint32_t count) {
    if (count < kPictureHeaderBytes || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1 ||
        bytes[3] != kPictureCode) {
        return std::nullopt;
    }
    PictureHeader h;
    h.temporalReference = static_cast<uint16_t>(bitsAfterCode(bytes, 0, 10));
    h.codingType = static_cast<uint8_t>(bitsAfterCode(bytes, 10, 3));
    return h;
}

uint32_t sliceRow(const uint8_t* bytes, uint32_t height) {
    const uint32_t row = bytes[3] - 1u;
    return height > kTallPictureLines ? row + (bitsAfterCode(bytes, 0, 3) << 7) : row;
}

FrameRate frameRate(uint8_t frameRateCode) {
    static constexpr std::array<FrameRate, 9> kRates = {{{0, 1},
                                                         {24000, 1001},
                                                         {24, 1},
                                                         {25, 1},
                                                         {30000, 1001},
                                                         {30, 1},
                                                         {50, 1},
                                                         {60000, 1001},
                                                         {60, 1}}};
    return frameRateCode < kRates.size() ? kRates[frameRateCode] : kRates[0];
}

}  // namespace mpg
