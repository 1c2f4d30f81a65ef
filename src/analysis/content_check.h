// The checks of the content: what the scan's walk hands on of each entry
// (a pack header's clock, a packet's payload and time stamps, a piece of
// fill, a broken stretch) goes to the checks that judge the clocks and the
// elementary streams, and they add what they find to the finding list. A
// walk from block to block sees only blocks whose sizes lead nowhere; these
// checks see what leaves every block whole: whole sectors lost (the clocks
// jump), zeros where packets were (a stream's frames skip across them),
// bytes of a frame changed (its chain or its CRC breaks).
//
// They ride on the scan's one walk: the scan hands each entry on once its
// size is known, and the checks read its bytes through the same source,
// whose window holds them already.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "model/block_iterator.h"
#include "model/finding.h"
#include "model/headers.h"

namespace mpg {

// What every check shares: the list it adds to, the stream's first clock,
// from which the times of findings count, and whether the streams are
// decoded as well.
class CheckContext {
  public:
    explicit CheckContext(FindingList& out, bool decode = false) : out_(out), decode_(decode) {}

    FindingList& findings() { return out_; }
    bool decodes() const { return decode_; }
    void add(const Finding& finding) { out_.add(finding); }

    // The first SCR (or, before any pack, the first stamp) sets the origin.
    void takeClock(uint64_t ticks) {
        if (!origin_) origin_ = ticks;
    }
    // Ticks of 90 kHz from the origin to a 33-bit clock value (which wraps
    // around after about 26.5 hours); kNoTime before any clock.
    int64_t since(uint64_t ticks) const {
        if (!origin_) return kNoTime;
        return static_cast<int64_t>((ticks - *origin_) & kClockMask);
    }

    static constexpr uint64_t kClockMask = (uint64_t{1} << 33) - 1;

  private:
    FindingList& out_;
    bool decode_;
    std::optional<uint64_t> origin_;
};

// A pack header as the checks see it.
struct PackEvent {
    Position pos = 0;
    PackHeader header;
};

// A packet's payload as a check of its elementary stream reads it. For a
// private stream 1 the substream's own header (its id byte, and for AC-3
// and DTS the frame count and first access unit pointer) is left out.
struct Payload {
    Position packet = 0;             // the packet's first byte
    Position at = 0;                 // the payload's first byte
    const uint8_t* bytes = nullptr;  // valid during the call only
    uint32_t size = 0;
    uint8_t stream = 0;
    uint8_t substream = 0;
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;
};

// One check. The system-layer checks are told of every event; a stream's
// checks only of that stream's payloads, and of every cut.
class ContentCheck {
  public:
    virtual ~ContentCheck() = default;

    virtual void takePack(const PackEvent& pack) { (void)pack; }
    virtual void takePayload(const Payload& payload) { (void)payload; }
    // Sector fill: zero bytes from `pos` on, `length` of them, between a
    // block and the next pack header.
    virtual void takeFill(Position pos, Position length) {
        (void)pos;
        (void)length;
    }
    // The stream was cut from `from` to `to`: a broken stretch (the scan
    // lists it) or junk. What follows does not continue what came before,
    // and the cut is no finding of the check's own: it starts afresh.
    virtual void interrupt(Position from, Position to) {
        (void)from;
        (void)to;
    }
    // The end of what was walked.
    virtual void finish(Position end) { (void)end; }
};

// The checks of one elementary stream, chosen by its stream id and
// substream: the checks of its frames (MPEG audio, AC-3, MPEG video) and of
// its time stamps, and the decode check when the context decodes. Empty for
// a stream no check knows.
std::vector<std::unique_ptr<ContentCheck>> checksForStream(CheckContext& context, uint8_t stream,
                                                           uint8_t substream);
// The checks of the system layer: the clocks of the pack headers against
// the bytes between them, and the fill between the streams.
std::vector<std::unique_ptr<ContentCheck>> systemChecks(CheckContext& context);

class FillLedger;

// The dispatcher the scan hands its entries to.
class ContentChecks {
  public:
    // With `decode`, every stream a decoder reads is decoded too.
    explicit ContentChecks(FindingList& out, bool decode = false);
    ~ContentChecks();

    // An entry whose size is known: a block (sound or broken), a piece of
    // fill, a search's continuation. Its bytes are read through `source`.
    // False when a read fails (the source keeps the reason).
    bool take(const WalkEntry& entry, ByteSource& source);
    // The walk ended at `end`.
    void finish(Position end);

  private:
    struct Stream;
    Stream& streamFor(uint8_t stream, uint8_t substream);
    bool takePacket(const WalkEntry& entry, ByteSource& source);
    void interruptAll(Position from, Position to);

    CheckContext context_;
    std::unique_ptr<FillLedger> fill_;
    std::vector<std::unique_ptr<ContentCheck>> system_;
    std::vector<std::unique_ptr<Stream>> streams_;
};

}  // namespace mpg
