// The decode check: a stream's payload decoded as it is scanned, and every
// frame the decoder reports errors in a finding over that frame's bytes.
// It sees damage that leaves the frames' structure whole (bits flipped in a
// slice, a run of bytes written over an audio frame's samples), at the cost
// of decoding the whole stream; a scan runs it only when asked.
#pragma once

#include <cstdint>
#include <memory>

#include "analysis/content_check.h"

namespace mpg {

// The check of one stream; none for a stream that no decoder reads.
std::unique_ptr<ContentCheck> makeDecodeCheck(CheckContext& context, uint8_t stream,
                                              uint8_t substream);

}  // namespace mpg
