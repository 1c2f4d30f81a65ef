// The checks of the audio streams' frames: MPEG audio (layers I to III) and
// AC-3. Both follow their frames from header to header across the packets
// that carry them, check each frame's CRC, and check the packets' PTS
// against the frames received (see FrameChainCheck).
#pragma once

#include <cstdint>
#include <memory>

#include "analysis/content_check.h"

namespace mpg {

// The check of an MPEG audio stream (stream ids 0xC0 to 0xDF).
std::unique_ptr<ContentCheck> mpegAudioCheck(CheckContext& context, uint8_t stream);
// The check of an AC-3 substream of private stream 1 (0x80 to 0x87).
std::unique_ptr<ContentCheck> ac3Check(CheckContext& context, uint8_t substream);

}  // namespace mpg
