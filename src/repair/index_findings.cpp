#include "repair/index_findings.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "stream/procedures.h"
#include "stream/start_codes.h"

namespace mpg {

namespace {

void putLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void putLE64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t getLE32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

bool isFindingsOpening(const BlockRecord& r) {
    return r.code == kFillCode && r.broken == kFindingsMark;
}

std::optional<BlockRecord> findingsOpening(size_t count) {
    if (count > size_t{std::numeric_limits<int32_t>::max()}) return std::nullopt;
    BlockRecord r;
    r.broken = kFindingsMark;
    r.declaredSize = static_cast<int32_t>(count);
    return r;
}

std::optional<size_t> findingsAnnounced(const BlockRecord& r) {
    if (!isFindingsOpening(r) || r.offset != 0 || r.declaredSize <= 0 || r.realSize != 0 ||
        r.repeatByte != 0 || r.repeatLength != 0 || r.repeatStart != 0) {
        return std::nullopt;
    }
    return static_cast<size_t>(r.declaredSize);
}

// 0-7 first byte, 8-15 one past the last, 16-23 and 24-31 the time from and
// to (int64, -1 none), 32-35 frames, 36 kind, 37 cause, 38 stream, 39
// substream; all little-endian.
void encodeFinding(const Finding& f, uint8_t* out, size_t entrySize) {
    std::memset(out, 0, entrySize);
    putLE64(out, f.begin);
    putLE64(out + 8, f.end);
    putLE64(out + 16, static_cast<uint64_t>(f.timeFrom));
    putLE64(out + 24, static_cast<uint64_t>(f.timeTo));
    putLE32(out + 32, f.frames);
    out[36] = static_cast<uint8_t>(f.kind);
    out[37] = static_cast<uint8_t>(f.cause);
    out[38] = f.stream;
    out[39] = f.substream;
}

std::optional<Finding> decodeFinding(const uint8_t* in, size_t entrySize, Position streamSize) {
    if (entrySize < kFindingBytes ||
        std::any_of(in + kFindingBytes, in + entrySize, [](uint8_t b) { return b != 0; })) {
        return std::nullopt;
    }
    Finding f;
    f.begin = loadLE64(in);
    f.end = loadLE64(in + 8);
    f.timeFrom = static_cast<int64_t>(loadLE64(in + 16));
    f.timeTo = static_cast<int64_t>(loadLE64(in + 24));
    f.frames = getLE32(in + 32);
    if (in[36] >= kFindingKinds || in[37] >= kFindingCauses) return std::nullopt;
    f.kind = static_cast<FindingKind>(in[36]);
    f.cause = static_cast<FindingCause>(in[37]);
    f.stream = in[38];
    f.substream = in[39];
    if (f.begin > f.end || f.end > streamSize || f.timeFrom < kNoTime || f.timeTo < kNoTime) {
        return std::nullopt;
    }
    return f;
}

}  // namespace mpg
