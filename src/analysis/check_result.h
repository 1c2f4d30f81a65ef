// What the open check found at the start of a file, as a value: the front
// ends name it in their own words.
#pragma once

#include <cstdint>

namespace mpg {

enum class [[nodiscard]] CheckResult{
    Ok, NoName, OpenFailed, NoSignature, NoSystemHeader, NotRegular, ReadFailed,
};

// What the open check learned of a stream's layout under the sound rules:
// an MPEG-2 program stream or an MPEG-1 system stream, and the sector size
// its pack headers follow (0 when they follow none), and its container.
struct StreamKind {
    bool mpeg2 = false;
    // A video CD rip: the stream is the user data of raw CD sectors behind
    // a RIFF CDXA header.
    bool cdxa = false;
    uint32_t sectorSize = 0;
    bool operator==(const StreamKind&) const = default;
};

}  // namespace mpg
