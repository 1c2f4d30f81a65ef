// What ffmpeg makes of a stream, for the tests that check that a repaired
// or joined file plays.
#pragma once

#include <string>

namespace mpg::test {

// Whether ffmpeg and ffprobe are on the path.
bool haveFfmpeg();

// ffmpeg's complaints about a stream as it decodes every stream of it; empty
// when it decodes cleanly. The null muxer's notes about timestamps that go
// back are left out: two pieces joined each start their clock anew, as
// they do when simply concatenated.
std::string decodeErrors(const std::string& path);

// The number of video frames ffprobe decodes from a file; -1 when it fails.
int videoFrames(const std::string& path);

}  // namespace mpg::test
