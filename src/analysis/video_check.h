// The check of an MPEG-1 or MPEG-2 video stream (stream ids 0xE0-0xEF):
//
// - its start codes come in their order: a sequence header with its
//   extensions, groups of pictures, each picture's header, extensions and
//   slices, user data where headers are, the sequence end; anything else,
//   or a slice whose row goes back or lies below the picture, damaged the
//   picture it is found in (PayloadDamage over its bytes);
// - the pictures of each group of pictures carry the temporal references 0
//   to n-1, each once (TemporalReference over the group);
// - the time stamps of the pictures follow the pictures received at the
//   sequence's frame rate: a stamp ahead of them tells pictures lost whole
//   (a Gap between the payloads that lost them).
//
// After a cut, and at a recording's first bytes, it waits for the next
// sequence header, group of pictures or picture and reports nothing for
// the seam.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>

#include "analysis/content_check.h"
#include "analysis/video_scanner.h"

namespace mpg {

class VideoCheck : public ContentCheck {
  public:
    VideoCheck(CheckContext& context, uint8_t stream) : context_(context), stream_(stream) {}

    void takePayload(const Payload& payload) override;
    void interrupt(Position from, Position to) override;
    void finish(Position end) override;

    // One start code with its header bytes (`count` of them, from the
    // prefix on), in stream order.
    void takeCode(Position pos, const uint8_t* bytes, uint32_t count);

  private:
    // Where in the stream's syntax the last start code left it.
    enum class Place : uint8_t { Unsynced, Sequence, Gop, Picture, Slices, Ended, Damaged };

    struct Sequence {
        bool known = false;
        bool mpeg2 = false;
        bool progressive = false;
        uint32_t height = 0;
        FrameRate rate;
    };
    struct Picture {
        bool open = false;
        bool headerRead = false;
        PictureHeader header;
        PictureCodingExtension coding;
        int64_t lastRow = -1;
    };
    struct Group {
        bool checked = false;  // begun with its header while in step
        bool spoiled = false;  // another finding explains its count
        bool brokenLink = false;
        Position start = 0;
        std::bitset<1024> seen;
        uint32_t distinct = 0;
        uint32_t doubled = 0;
        uint32_t highest = 0;
    };
    struct Stamp {
        Position packet = 0;
        Position at = 0;   // the packet's first payload byte
        Position end = 0;  // one past its last payload byte so far
        std::optional<uint64_t> pts, dts;
    };
    struct Seam {
        Position before = 0;  // the end of the payload before it
        Position after = 0;   // the first payload byte after it
    };

    void restart();
    bool inStep(uint8_t code) const;
    void takeInStep(Position pos, const uint8_t* bytes, uint32_t count);
    void takeSequence(Position pos, const uint8_t* bytes, uint32_t count);
    void takeExtension(const uint8_t* bytes, uint32_t count);
    void takePicture(Position pos, const uint8_t* bytes, uint32_t count);
    void takeSlice(const uint8_t* bytes, uint32_t count);
    void startDamage(FindingCause cause);
    void endDamage(Position end);
    void endPicture();
    void countReference();
    void closeGroup(Position end, bool whole);
    void checkStamp(Position pos);
    uint64_t ticksOf(uint64_t fields) const;
    uint32_t fieldsOf(const Picture& picture) const;
    uint32_t rowsOf(const Picture& picture) const;
    std::optional<uint64_t> expectedTime() const;
    void releaseReference();
    void emit(Position begin, Position end, FindingKind kind, FindingCause cause, uint32_t frames,
              std::optional<uint64_t> from, std::optional<uint64_t> to);
    Finding finding(Position begin, Position end, FindingKind kind, FindingCause cause,
                    uint32_t frames, std::optional<uint64_t> from,
                    std::optional<uint64_t> to) const;

    CheckContext& context_;
    uint8_t stream_;
    StartCodeScanner scanner_;
    Place place_ = Place::Unsynced;
    // A picture's slices have followed a sequence header in order: the
    // stream is MPEG-1 or MPEG-2 video, and what breaks the order from now
    // on is damage.
    bool confirmed_ = false;
    Sequence sequence_;
    Picture picture_;
    Group group_;
    // The start of what a finding in the current picture covers: the
    // picture's start code, or the header in front of it.
    Position unitStart_ = 0;
    Position damageStart_ = 0;
    FindingCause damageCause_ = FindingCause::None;
    std::optional<uint64_t> damageTime_;
    bool firstFieldOpen_ = false;  // the last picture was a field whose pair is to come
    uint16_t firstFieldReference_ = 0;

    // The pictures' time: the decode time of the last picture that carried
    // a stamp, and the fields shown since.
    std::optional<uint64_t> anchor_;
    uint64_t fieldsSince_ = 0;
    bool sawB_ = false;
    bool sawRepeat_ = false;
    std::optional<Stamp> stamp_;
    Position payloadEnd_ = 0;
    // Where pictures lost between two stamps may lie: from the end of the
    // payload of the packet that carried the stamp before to the payload
    // that carries this one. Zeros there make the loss a hole.
    Seam stampSeam_;
    // The last packet that carried a stamp, and the end of its payload.
    Position stampedPacket_ = 0;
    Position stampedEnd_ = 0;
    // A group's broken count of references, held until the next stamp.
    std::optional<Finding> heldReference_;
};

}  // namespace mpg
