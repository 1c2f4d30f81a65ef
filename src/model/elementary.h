// What a packet carries, as far as a repair needs to read it: which
// elementary stream a packet code belongs to. The headers themselves (the
// packet header that tells where the payload begins, the MPEG audio frame
// header whose lengths chain the frames) are read in model/headers.h.
#pragma once

#include <cstdint>

#include "model/headers.h"

namespace mpg {

// Whether a packet code carries MPEG audio (stream ids 0xC0 to 0xDF) or
// MPEG video (0xE0 to 0xEF).
bool isAudioCode(uint32_t code);
bool isVideoCode(uint32_t code);

}  // namespace mpg
