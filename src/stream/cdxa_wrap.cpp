#include "stream/cdxa_wrap.h"

#include <algorithm>
#include <cstring>

namespace mpg {

namespace {

constexpr uint8_t kModeTwo = 0x02;
constexpr uint8_t kSubmodeForm2 = 0x20;
constexpr uint8_t kStreamFile = 1, kStreamChannel = 1;
constexpr uint8_t kCodingVideo = 0x0F, kCodingAudio = 0x7F;
// The bytes of the RIFF sizes: the whole file but its first 8, and the data chunk's.
constexpr uint32_t kRiffSizeAt = 4, kDataSizeAt = 40;

void storeLE32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

uint8_t toBcd(uint32_t n) {
    return static_cast<uint8_t>((n / 10) << 4 | n % 10);
}

}  // namespace

std::array<uint8_t, 4> subheaderForPayload(const uint8_t* payload) {
    constexpr size_t n = kCdForm2Payload;
    bool video = false, audio = false;
    // Start codes one after another: a pack header is stepped over by its
    // length (MPEG-1 12 bytes, MPEG-2 14 plus stuffing), a packet by its
    // length field; bytes of a packet cut at the sector's start are searched.
    for (size_t at = 0; at + 4 <= n;) {
        const void* hit = ::memmem(payload + at, n - at, "\0\0\1", 3);
        if (hit == nullptr) break;
        at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - payload);
        if (at + 4 > n) break;
        const uint8_t id = payload[at + 3];
        if (id == 0xBA && at + 5 <= n) {
            const bool mpeg2 = (payload[at + 4] & 0xC0) == 0x40;
            at += mpeg2 ? 14 + (at + 14 <= n ? payload[at + 13] & 0x07 : 0) : 12;
        } else if (id >= 0xBB && at + 6 <= n) {
            video = video || (id >= 0xE0 && id <= 0xEF);
            audio = audio || (id >= 0xC0 && id <= 0xDF);
            at += 6 + (size_t{payload[at + 4]} << 8 | payload[at + 5]);
        } else {
            at += 3;
        }
    }
    const uint8_t submode = kSubmodeRealTime | kSubmodeForm2 |
                            (video   ? kSubmodeVideo
                             : audio ? kSubmodeAudio
                                     : uint8_t{0});
    const uint8_t coding = video ? kCodingVideo : audio ? kCodingAudio : uint8_t{0};
    return {kStreamFile, kStreamChannel, submode, coding};
}

CdxaWrapStage::CdxaWrapStage(const SectorLayout& layout, int fd, const std::string& path,
                             Position rawSize)
    : layout_(layout),
      input_(fd, path, rawSize),
      storage_(new uint8_t[kBatch * kCdSectorSize + 2 * kReadAlign]) {}

bool CdxaWrapStage::writeBatch(OutputFile& out) {
    const size_t bytes = batched_ * kCdSectorSize;
    batched_ = 0;
    return bytes == 0 || out.appendThrough(batch_, bytes);
}

bool CdxaWrapStage::start(OutputFile& out) {
    // The sizes are set once the sectors are counted, in close().
    uint8_t header[kCdxaHeaderSize] = {
        'R', 'I', 'F', 'F', 0, 0, 0, 0, 'C', 'D', 'X', 'A', 'f', 'm', 't', ' ', 16, 0, 0, 0,
        // The CD-XA attributes as rippers copy them from the
        // directory record: owner 0, the attribute word 0x1555
        // (Mode 2 Form 2, readable by all) big-endian, "XA",
        // file number 1, reserved.
        0, 0, 0, 0, 0x15, 0x55, 'X', 'A', 1, 0, 0, 0, 0, 0, 0, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    started_ = true;
    return out.appendThrough(header, sizeof header);
}

bool CdxaWrapStage::take(OutputFile& out, const uint8_t* bytes, size_t count) {
    if (!started_ && !start(out)) return false;
    while (count > 0) {
        // A full sector waits for the next byte: only close() knows the last one.
        if (filled_ == kCdForm2Payload) {
            if (!emit(out, false)) return false;
            filled_ = 0;
        }
        if (filled_ == 0) {
            if (batched_ == 0) batch_ = placeLikeFile(storage_.get(), out.writtenThrough());
            sector_ = batch_ + batched_ * kCdSectorSize;
        }
        const size_t n = std::min<size_t>(count, kCdForm2Payload - filled_);
        std::memcpy(sector_ + kCdUserDataAt + filled_, bytes, n);
        filled_ += static_cast<uint32_t>(n);
        taken_ += n;
        bytes += n;
        count -= n;
    }
    return true;
}

bool CdxaWrapStage::close(OutputFile& out) {
    if (!started_ && !start(out)) return false;
    if (filled_ > 0) {
        std::fill(sector_ + kCdUserDataAt + filled_, sector_ + kCdUserDataAt + kCdForm2Payload, 0);
        if (!emit(out, true)) return false;
        filled_ = 0;
    }
    if (!writeBatch(out)) return false;
    // emit() kept both sizes within 32 bits.
    uint8_t size[4];
    const Position data = sectors_ * kCdSectorSize;
    storeLE32(size, static_cast<uint32_t>(data + kCdxaHeaderSize - 8));
    if (!out.overwrite(kRiffSizeAt, size, 4)) return false;
    storeLE32(size, static_cast<uint32_t>(data));
    return out.overwrite(kDataSizeAt, size, 4);
}

bool CdxaWrapStage::emit(OutputFile& out, bool last) {
    const uint8_t* payload = sector_ + kCdUserDataAt;
    if (!narrowPosition<uint32_t>((sectors_ + 1) * kCdSectorSize + kCdxaHeaderSize - 8)) {
        return out.refuse(failureOf(FailureKind::NoRoomInDat, ""));
    }
    // The input's sector at the same stream position, when one starts there.
    const Position pos = sectors_ * kCdForm2Payload;
    const uint8_t* in = nullptr;
    if (const size_t e = layout_.extentOf(pos); e < layout_.extents().size()) {
        const SectorLayout::Extent& x = layout_.extents()[e];
        const Position rel = pos - x.streamStart;
        if (x.payload == kCdForm2Payload && rel % x.payload == 0) {
            const Position file = x.fileStart - kCdUserDataAt + rel / x.payload * x.stride;
            size_t avail = 0;
            in = input_.at(file, kCdSectorSize, file, avail);
            if (in == nullptr) return out.refuse(input_.failure());
            if (avail < kCdSectorSize) in = nullptr;
        }
    }
    const bool unchanged =
        in != nullptr && std::memcmp(in + kCdUserDataAt, payload, kCdForm2Payload) == 0;
    const std::optional<uint32_t> inputAddress =
        in != nullptr ? cdAddressFrames(in + kCdHeaderAt) : std::nullopt;
    uint32_t address = 0;
    if (following_ && unchanged && inputAddress &&
        (sectors_ == 0 || *inputAddress == address_ + 1)) {
        address = *inputAddress;
    } else {
        following_ = false;
        address = sectors_ == 0 ? inputAddress.value_or(kCdFirstTrackFrame) : address_ + 1;
    }
    if (address > kCdLastFrame) return out.refuse(failureOf(FailureKind::NoRoomInDat, ""));

    std::copy(kCdSync.begin(), kCdSync.end(), sector_);
    uint8_t* header = sector_ + kCdHeaderAt;
    header[0] = toBcd(address / (60 * kCdFramesPerSecond));
    header[1] = toBcd(address / kCdFramesPerSecond % 60);
    header[2] = toBcd(address % kCdFramesPerSecond);
    header[3] = kModeTwo;
    // An unchanged sector keeps a sound subheader of its own.
    uint8_t* sub = sector_ + kCdSubheaderAt;
    const bool keep = unchanged &&
                      std::memcmp(in + kCdSubheaderAt, in + kCdSubheaderAt + 4, 4) == 0 &&
                      (in[kCdSubheaderAt + 2] & kSubmodeForm2) != 0;
    if (keep) {
        std::memcpy(sub, in + kCdSubheaderAt, 4);
    } else {
        const std::array<uint8_t, 4> fresh = subheaderForPayload(payload);
        std::memcpy(sub, fresh.data(), 4);
    }
    constexpr uint8_t kEnds = kSubmodeEndOfRecord | kSubmodeEndOfFile;
    sub[2] = last ? sub[2] | kEnds : sub[2] & ~kEnds;
    std::memcpy(sub + 4, sub, 4);
    const uint32_t summed = kCdUserDataAt - kCdSubheaderAt + kCdForm2Payload;
    storeLE32(sector_ + kCdUserDataAt + kCdForm2Payload,
              cdSectorEdc(sector_ + kCdSubheaderAt, summed));
    ++sectors_;
    address_ = address;
    return ++batched_ < kBatch || writeBatch(out);
}

}  // namespace mpg
