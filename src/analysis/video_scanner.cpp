#include "analysis/video_scanner.h"

#include <algorithm>

#include "model/headers.h"

namespace mpg {

uint32_t StartCodeScanner::headerBytes(const uint8_t* bytes, uint32_t have) const {
    if (have < 4) return 4;
    const uint8_t code = bytes[3];
    if (code == kPictureCode) return kPictureHeaderBytes;
    if (code <= kLastSliceCode) return tall_ ? 5 : 4;
    switch (code) {
        case kSequenceCode:
            return kSequenceHeaderFixedBytes;
        case kGopCode:
            return kGopHeaderBytes;
        case kExtensionCode:
            if (have < 5) return 5;
            if ((bytes[4] >> 4) == 1) return kSequenceExtensionBytes;
            if ((bytes[4] >> 4) == 8) return kPictureCodingExtensionBytes;
            return 5;
        default:
            return 4;
    }
}

uint32_t StartCodeScanner::startSplitPrefix(const uint8_t* bytes, uint32_t size) {
    static constexpr uint8_t kPrefix[] = {0, 0, 1};
    uint32_t inTail = 0;
    if (tailCount_ == 2 && tail_[0] == 0 && tail_[1] == 0 && bytes[0] == 1) {
        inTail = 2;
    } else if (tailCount_ >= 1 && tail_[1] == 0 && size >= 2 && bytes[0] == 0 && bytes[1] == 1) {
        inTail = 1;
    }
    if (inTail == 0) return 0;
    pendingPos_ = tailPos_[2 - inTail];
    std::memcpy(pending_.data(), kPrefix, 3);
    pendingCount_ = 3;
    pendingNeed_ = 4;
    return 3 - inTail;
}

uint32_t StartCodeScanner::completePending(const uint8_t* bytes, uint32_t size, uint32_t from) {
    while (pendingCount_ < pendingNeed_ && from < size) {
        pending_[pendingCount_++] = bytes[from++];
        pendingNeed_ = std::max(pendingNeed_, headerBytes(pending_.data(), pendingCount_));
    }
    return from;
}

void StartCodeScanner::keepTail(Position at, const uint8_t* bytes, uint32_t size) {
    if (size >= 2) {
        tail_ = {bytes[size - 2], bytes[size - 1]};
        tailPos_ = {at + size - 2, at + size - 1};
    } else {
        tail_ = {tail_[1], bytes[0]};
        tailPos_ = {tailPos_[1], at};
    }
    tailCount_ = std::min<uint32_t>(tailCount_ + size, 2);
}

}  // namespace mpg
