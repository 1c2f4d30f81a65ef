#include "analysis/audio_check.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "model/audio_frames.h"

namespace mpg {

namespace {

// A frame header as the chain reads it.
struct FrameHead {
    uint32_t length = 0;
    uint32_t key = 0;  // what stays alike from frame to frame of one stream
    uint32_t samples = 0;
    uint32_t sampleRate = 0;
};

// The first byte in [from, end) that equals `first`, or `end`.
const uint8_t* findByte(const uint8_t* from, const uint8_t* end, uint8_t first) {
    if (from >= end) return end;
    const void* hit = std::memchr(from, first, static_cast<size_t>(end - from));
    return hit == nullptr ? end : static_cast<const uint8_t*>(hit);
}

struct MpegAudioFormat {
    static constexpr uint32_t kHeaderBytes = 4;
    static constexpr FindingCause kChain = FindingCause::AudioChain;
    static constexpr FindingCause kCrc = FindingCause::AudioCrc;

    static const uint8_t* findSync(const uint8_t* from, const uint8_t* end) {
        return findByte(from, end, 0xFF);
    }
    static std::optional<FrameHead> readHeader(const uint8_t* p) {
        const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(p);
        if (!h) return std::nullopt;
        return FrameHead{h->length, h->fixedBits, h->samples, h->sampleRate};
    }
    static bool frameSound(const uint8_t* frame, uint32_t length) {
        const std::optional<AudioFrameHeader> h = parseAudioFrameHeader(frame);
        return h && audioCrcMatches(*h, frame, length);
    }
};

struct Ac3Format {
    static constexpr uint32_t kHeaderBytes = kAc3HeaderBytes;
    static constexpr FindingCause kChain = FindingCause::Ac3Sync;
    static constexpr FindingCause kCrc = FindingCause::Ac3Crc;

    static const uint8_t* findSync(const uint8_t* from, const uint8_t* end) {
        return findByte(from, end, 0x0B);
    }
    static std::optional<FrameHead> readHeader(const uint8_t* p) {
        const std::optional<Ac3FrameHeader> h = parseAc3FrameHeader(p);
        if (!h) return std::nullopt;
        return FrameHead{h->length, h->sampleRate, kAc3FrameSamples, h->sampleRate};
    }
    static bool frameSound(const uint8_t* frame, uint32_t length) {
        return ac3CrcsMatch(frame, length);
    }
};

// The chain of one audio stream's frames. The payloads of its packets are
// gathered in the order they come, a frame may span packets, and the first
// packet may begin inside a frame: the chain begins at the first header
// whose length leads to another. From there each frame's length must lead
// to the next header; where it does not, the bytes from that frame up to
// where the chain is found again are damage. Each whole frame must match
// its CRC.
//
// The PTS of a packet stands for the first frame that begins in it; between
// two PTS the frames received (their samples at the sample rate) tell how
// far the clock must advance. A PTS ahead of that by more than a frame and
// a half means frames were lost (a gap); one behind it means a seam where
// another recording goes on. Each PTS is the measure for the next, so that
// the rounding of the stamps never adds up.
template <class Format>
class FrameChainCheck final : public ContentCheck {
  public:
    FrameChainCheck(CheckContext& context, uint8_t stream, uint8_t substream)
        : context_(context), stream_(stream), substream_(substream) {}

    void takePayload(const Payload& payload) override {
        if (payload.pts && payload.size > 0) {
            stamps_.push_back({*payload.pts, end_, end_ + payload.size, lastEnd_, payload.at});
        } else if (payload.packet == lastPacket_ && !stamps_.empty() && stamps_.back().to == end_) {
            stamps_.back().to += payload.size;  // the packet's next piece
        }
        lastPacket_ = payload.packet;
        if (payload.size == 0) return;
        pieces_.push_back({end_, payload.at});
        bytes_.insert(bytes_.end(), payload.bytes, payload.bytes + payload.size);
        end_ += payload.size;
        lastEnd_ = payload.at + payload.size;
        advance(false);
    }

    void interrupt(Position from, Position to) override {
        (void)from;
        (void)to;
        // A break found before the cut is damage of its own; the cut is not.
        if (broken_) reportBreak(end_);
        reset();
    }

    void finish(Position end) override {
        (void)end;
        advance(true);
        if (broken_) reportBreak(end_);
        reset();
    }

  private:
    struct Piece {
        uint64_t offset;  // of its first byte among the bytes received
        Position pos;     // its first byte in the stream
    };
    struct Stamp {
        uint64_t pts;
        uint64_t from, to;  // the packet's payload among the bytes received
        Position before;    // the end of the stream's payload before the packet
        Position after;     // the packet's first payload byte
    };

    const uint8_t* at(uint64_t offset) const { return bytes_.data() + (offset - base_); }

    Position positionOf(uint64_t offset) const {
        auto piece = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                      [](uint64_t o, const Piece& p) { return o < p.offset; });
        if (piece == pieces_.begin()) return pieces_.empty() ? 0 : pieces_.front().pos;
        --piece;
        return piece->pos + static_cast<Position>(offset - piece->offset);
    }
    Position endPositionOf(uint64_t offset) const {
        return offset == 0 ? positionOf(0) : positionOf(offset - 1) + 1;
    }

    void advance(bool finishing) {
        for (;;) {
            const bool moved = following_ ? follow(finishing) : seek();
            if (!moved) break;
        }
        consume();
    }

    // One frame of the chain. False when its bytes (and the next header's)
    // are not all there yet.
    bool follow(bool finishing) {
        if (next_ + Format::kHeaderBytes > end_) return false;
        const std::optional<FrameHead> head = Format::readHeader(at(next_));
        if (!head) {  // never so: the chain goes only to headers it has read
            following_ = false;
            return true;
        }
        const uint64_t frameEnd = next_ + head->length;
        if (frameEnd + Format::kHeaderBytes > end_) {
            if (!finishing || frameEnd != end_) return false;
            takeFrame(*head);
            return false;
        }
        const std::optional<FrameHead> following = Format::readHeader(at(frameEnd));
        if (following && following->key == head->key) {
            takeFrame(*head);
            return true;
        }
        // The length leads to no header: the chain breaks here.
        applyStamps(next_);
        broken_ = true;
        breakBegin_ = positionOf(next_);
        breakOffset_ = next_;
        following_ = false;
        next_ += 1;
        return true;
    }

    // A whole frame whose length leads to the next header.
    void takeFrame(const FrameHead& head) {
        applyStamps(next_);
        if (!Format::frameSound(at(next_), head.length)) {
            add(FindingKind::PayloadDamage, Format::kCrc, positionOf(next_),
                endPositionOf(next_ + head.length), frameTime(), kNoTime, 1);
        }
        samplesSince_ += head.samples;
        next_ += head.length;
    }

    // Looks for the header the chain begins (or begins again) at. False
    // when the bytes there do not tell yet.
    bool seek() {
        const uint8_t* const limit = bytes_.data() + bytes_.size();
        const uint8_t* const last =
            limit - std::min<size_t>(bytes_.size(), Format::kHeaderBytes - 1);
        for (const uint8_t* p = Format::findSync(at(next_), last); p < last;
             p = Format::findSync(p + 1, last)) {
            next_ = base_ + static_cast<uint64_t>(p - bytes_.data());
            const std::optional<FrameHead> head = Format::readHeader(p);
            if (!head) continue;
            if (next_ + head->length + Format::kHeaderBytes > end_) return false;
            const std::optional<FrameHead> following = Format::readHeader(at(next_ + head->length));
            if (following && following->key == head->key) {
                begin(*head);
                return true;
            }
        }
        next_ = std::max(next_, base_ + static_cast<uint64_t>(last - bytes_.data()));
        return false;
    }

    // The chain begins at next_ with a frame of `head`.
    void begin(const FrameHead& head) {
        if (broken_) {
            // The frames in the broken stretch, as many as its bytes hold
            // of the frame the chain goes on with (at least one): the
            // length of the frame it broke at may be the damage itself.
            const uint64_t span = next_ - breakOffset_;
            const uint64_t lost = std::max<uint64_t>(1, (span + head.length / 2) / head.length);
            reportBreak(next_, static_cast<uint32_t>(lost));
            samplesSince_ += lost * head.samples;
        }
        if (head.key != key_ || head.samples != samples_ || head.sampleRate != sampleRate_) {
            anchor_.reset();
            key_ = head.key;
            samples_ = head.samples;
            sampleRate_ = head.sampleRate;
        }
        following_ = true;
    }

    void reportBreak(uint64_t until, uint32_t frames = 1) {
        const Position end = until == end_ ? lastEnd_ : positionOf(until);
        add(FindingKind::PayloadDamage, Format::kChain, breakBegin_, std::max(end, breakBegin_ + 1),
            frameTime(), kNoTime, frames);
        broken_ = false;
    }

    // The PTS of the packet a frame beginning at `offset` is the first of.
    void applyStamps(uint64_t offset) {
        while (!stamps_.empty() && stamps_.front().to <= offset) stamps_.pop_front();
        if (stamps_.empty() || stamps_.front().from > offset) return;
        checkStamp(stamps_.front());
        stamps_.pop_front();
    }

    void checkStamp(const Stamp& stamp) {
        if (anchor_ && sampleRate_ != 0) {
            const uint64_t expected = *anchor_ + samplesSince_ * 90000 / sampleRate_;
            // The difference of two 33-bit clocks, with its sign.
            const uint64_t wrapped = (stamp.pts - expected) & CheckContext::kClockMask;
            const int64_t delta = wrapped >= (uint64_t{1} << 32)
                                      ? static_cast<int64_t>(wrapped) - (int64_t{1} << 33)
                                      : static_cast<int64_t>(wrapped);
            const int64_t frame = static_cast<int64_t>(uint64_t{samples_} * 90000 / sampleRate_);
            if (frame > 0 && 2 * delta > 3 * frame) {
                add(FindingKind::Gap, FindingCause::StampJump, stamp.before, stamp.after,
                    context_.since(expected), context_.since(stamp.pts),
                    static_cast<uint32_t>((delta + frame / 2) / frame));
            } else if (frame > 0 && 2 * delta < -3 * frame) {
                add(FindingKind::Gap, FindingCause::StampBack, stamp.before, stamp.after,
                    context_.since(expected), context_.since(stamp.pts), 0);
            }
        }
        anchor_ = stamp.pts;
        samplesSince_ = 0;
    }

    // The time of the frame the chain is at, as the last PTS tells it.
    int64_t frameTime() const {
        if (!anchor_ || sampleRate_ == 0) return kNoTime;
        return context_.since(*anchor_ + samplesSince_ * 90000 / sampleRate_);
    }

    void add(FindingKind kind, FindingCause cause, Position begin, Position end, int64_t from,
             int64_t to, uint32_t frames) {
        Finding finding;
        finding.begin = begin;
        finding.end = end;
        finding.timeFrom = from;
        finding.timeTo = to;
        finding.frames = frames;
        finding.kind = kind;
        finding.cause = cause;
        finding.stream = stream_;
        finding.substream = substream_;
        context_.add(finding);
    }

    // Drops the bytes the chain has gone past, and the pieces they were in.
    void consume() {
        const uint64_t keep = std::min(next_, end_);
        const size_t dropped = static_cast<size_t>(keep - base_);
        if (dropped > 4096 && dropped * 2 > bytes_.size()) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(dropped));
            base_ = keep;
        }
        while (!stamps_.empty() && stamps_.front().to <= keep) stamps_.pop_front();
        size_t first = 0;
        while (first + 1 < pieces_.size() && pieces_[first + 1].offset <= keep) ++first;
        if (first > 16)
            pieces_.erase(pieces_.begin(), pieces_.begin() + static_cast<ptrdiff_t>(first));
    }

    void reset() {
        bytes_.clear();
        pieces_.clear();
        stamps_.clear();
        base_ = end_ = next_ = 0;
        following_ = broken_ = false;
        anchor_.reset();
        samplesSince_ = 0;
    }

    CheckContext& context_;
    uint8_t stream_;
    uint8_t substream_;
    std::vector<uint8_t> bytes_;  // received from base_ on
    uint64_t base_ = 0;
    uint64_t end_ = 0;  // the bytes received
    std::vector<Piece> pieces_;
    std::deque<Stamp> stamps_;
    Position lastPacket_ = ~Position{0};
    Position lastEnd_ = 0;  // the end of the last payload received
    // The chain: the next frame's header when following_, else where the
    // search for a header goes on.
    uint64_t next_ = 0;
    bool following_ = false;
    bool broken_ = false;  // a break is open: its bytes run to where the chain begins again
    Position breakBegin_ = 0;
    uint64_t breakOffset_ = 0;
    uint32_t key_ = 0;
    uint32_t samples_ = 0;
    uint32_t sampleRate_ = 0;
    std::optional<uint64_t> anchor_;  // the last PTS
    uint64_t samplesSince_ = 0;       // the samples of the frames since it
};

}  // namespace

std::unique_ptr<ContentCheck> mpegAudioCheck(CheckContext& context, uint8_t stream) {
    return std::make_unique<FrameChainCheck<MpegAudioFormat>>(context, stream, 0);
}

std::unique_ptr<ContentCheck> ac3Check(CheckContext& context, uint8_t substream) {
    return std::make_unique<FrameChainCheck<Ac3Format>>(context, 0xBD, substream);
}

}  // namespace mpg
