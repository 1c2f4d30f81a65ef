// The start codes of a video elementary stream read from the payloads of
// its packets, one piece after another. A start code, and the header bytes
// behind it that a check reads, may be split across two packets: the last
// bytes of a piece are kept until the next piece completes them. Within a
// piece the search for coded video (stream/dense_search.h) finds the codes,
// so the bytes between them are not looked at one by one.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "model/video_headers.h"
#include "stream/dense_search.h"
#include "stream/position.h"

namespace mpg {

class StartCodeScanner {
  public:
    // Hands every start code in `bytes` (the stream's next `size` payload
    // bytes, the first at position `at`) to onCode(Position, const uint8_t*
    // bytes, uint32_t count): its position and its bytes from the prefix on,
    // as many as its header needs (see headerBytes), in stream order.
    template <class OnCode>
    void take(Position at, const uint8_t* bytes, uint32_t size, OnCode&& onCode) {
        if (size == 0) return;
        uint32_t from = 0;
        if (pendingCount_ == 0) from = startSplitPrefix(bytes, size);
        if (pendingCount_ > 0) {
            from = completePending(bytes, size, from);
            if (pendingCount_ < pendingNeed_) {
                keepTail(at, bytes, size);
                return;
            }
            onCode(pendingPos_, pending_.data(), pendingCount_);
            pendingCount_ = 0;
        }
        if (size >= 3) {
            for (uint32_t code = nextStartCodePrefixDense(bytes, from, size - 2); code < size - 2;
                 code = nextStartCodePrefixDense(bytes, code + 4, size - 2)) {
                const uint32_t have = size - code;
                const uint32_t need = headerBytes(bytes + code, have);
                if (have < need) {
                    pendingPos_ = at + code;
                    pendingCount_ = have;
                    pendingNeed_ = need;
                    std::memcpy(pending_.data(), bytes + code, have);
                    break;
                }
                onCode(at + code, bytes + code, need);
            }
        }
        keepTail(at, bytes, size);
    }

    // The stream ends: a start code still short of its header's bytes goes
    // to onCode with what there is, when its value byte is there.
    template <class OnCode>
    void flush(OnCode&& onCode) {
        if (pendingCount_ >= 4) onCode(pendingPos_, pending_.data(), pendingCount_);
        reset();
    }

    // What follows does not continue what came before.
    void reset() {
        pendingCount_ = 0;
        tailCount_ = 0;
    }

    // Pictures taller than 2800 lines: a slice's start code needs the byte
    // behind it for its row.
    void setTall(bool tall) { tall_ = tall; }

    // How many bytes from the prefix on the header of the start code at
    // `bytes` needs (`have` of them are there): no more than the shortest
    // header of its kind holds, so that in a sound stream no start code
    // lies inside the bytes taken.
    uint32_t headerBytes(const uint8_t* bytes, uint32_t have) const;

  private:
    // A prefix that began in the last bytes of the piece before: from the
    // next piece's first bytes, where they end it. Returns how many bytes
    // of this piece the prefix took.
    uint32_t startSplitPrefix(const uint8_t* bytes, uint32_t size);
    // Appends this piece's bytes from `from` to the pending header;
    // returns where in the piece the search goes on.
    uint32_t completePending(const uint8_t* bytes, uint32_t size, uint32_t from);
    void keepTail(Position at, const uint8_t* bytes, uint32_t size);

    std::array<uint8_t, kVideoHeaderBytes> pending_{};
    Position pendingPos_ = 0;
    uint32_t pendingCount_ = 0;
    uint32_t pendingNeed_ = 0;
    // The stream's last two bytes before this piece, and their positions.
    std::array<uint8_t, 2> tail_{};
    std::array<Position, 2> tailPos_{};
    uint32_t tailCount_ = 0;
    bool tall_ = false;
};

}  // namespace mpg
