#include "model/elementary.h"

#include "stream/start_codes.h"

namespace mpg {

bool isAudioCode(uint32_t code) {
    const uint32_t id = code & 0xFF;
    return (code >> 8) == (kStartCodePrefix >> 8) && id >= kFirstAudioStream &&
           id <= kLastAudioStream;
}

bool isVideoCode(uint32_t code) {
    const uint32_t id = code & 0xFF;
    return (code >> 8) == (kStartCodePrefix >> 8) && id >= kFirstVideoStream &&
           id <= kLastVideoStream;
}

}  // namespace mpg
