#include "support/decode.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "support/temp_dir.h"

namespace mpg::test {

bool haveFfmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") ==
           0;
}

std::string decodeErrors(const std::string& path) {
    const std::string log = path + ".log";
    const std::string cmd =
        "ffmpeg -nostdin -v error -i '" + path + "' -map 0 -f null - 2>'" + log + "'";
    const int rc = std::system(cmd.c_str());
    const std::vector<uint8_t> text = readFile(log);
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string errors;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("[null @", 0) == 0 &&
            line.find("non monotonically increasing dts") != std::string::npos) {
            continue;
        }
        errors += line + "\n";
    }
    return errors + (rc == 0 ? "" : " (exit status)");
}

int videoFrames(const std::string& path) {
    const std::string cmd =
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=nb_read_frames -of csv=p=0 '" +
        path + "'";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    int frames = -1;
    if (pipe != nullptr && std::fscanf(pipe, "%d", &frames) != 1) frames = -1;
    if (pipe != nullptr) ::pclose(pipe);
    return frames;
}

}  // namespace mpg::test
