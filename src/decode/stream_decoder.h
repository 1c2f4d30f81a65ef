// The decoder of one elementary stream: the stream's payload bytes, as the
// packets carry them, are cut into frames and decoded with FFmpeg's
// libavcodec, error recognition on, and every frame the decoder complains
// about comes back as numbers: the stream positions of its bytes, its time
// stamp, how many errors it drew. The decoder says far more than a parse of
// the frames can: a damaged slice, a motion vector pointing nowhere, an audio
// frame whose CRC or bit allocation fails.
//
// This layer alone includes FFmpeg's headers; the checks of a scan and a
// repair that compares candidates see only this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "stream/position.h"

namespace mpg {

// The decoder a stream takes, by its stream id and substream.
enum class DecoderKind : uint8_t {
    None,       // LPCM, subpictures, DTS, padding: nothing is decoded
    MpegVideo,  // 0xE0-0xEF: MPEG-1 and MPEG-2 video
    MpegAudio,  // 0xC0-0xDF: MPEG audio, layer I, II or III by its headers
    Ac3,        // private stream 1, substreams 0x80-0x87
};

DecoderKind decoderFor(uint8_t stream, uint8_t substream);

// A frame the decoder reported errors in.
struct DecodeFault {
    // Its bytes in stream positions: from the first to one past the last,
    // across the packet headers between the pieces that carried it.
    Position begin = 0;
    Position end = 0;
    // Where the packets that carried it begin: the first and the last.
    Position firstPacket = 0;
    Position lastPacket = 0;
    std::optional<uint64_t> pts;  // the stamp of its packet (90 kHz), or the last seen before
    uint32_t errors = 0;          // the decoder's error messages and failed calls

    bool operator==(const DecodeFault&) const = default;
};

class StreamDecoder {
  public:
    // The decoder of a stream; none for a stream of DecoderKind::None, or
    // when libavcodec lacks the decoder.
    static std::unique_ptr<StreamDecoder> make(uint8_t stream, uint8_t substream);
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // A piece of the stream's payload: `size` bytes from stream position
    // `at`, of the packet that begins at `packet`, with the packet's stamps
    // on its first piece. The bytes are copied; frames completed by them are
    // decoded at once.
    void feed(const uint8_t* bytes, uint32_t size, Position at, Position packet,
              std::optional<uint64_t> pts);
    // The stream was cut: what follows continues nothing before. The frame
    // the cut splits is dropped unjudged, and the decoder starts afresh, its
    // first frame after the cut unjudged as well.
    void restart();
    // The end of the stream: the last frame is cut and the decoder drained.
    void finish();

    // The faults found since the last call, in the order of their frames.
    std::vector<DecodeFault> takeFaults();
    uint64_t framesDecoded() const;
    uint64_t errorsSeen() const;

    // The FFmpeg side, defined where FFmpeg's headers are included.
    struct Impl;

  private:
    explicit StreamDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace mpg
