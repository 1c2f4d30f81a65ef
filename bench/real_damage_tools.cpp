#include "real_damage_tools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace mpg::bench {

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The number in `line` right in front of `word` ("50 frames decoded").
int numberBefore(const std::string& line, const std::string& word) {
    const size_t at = line.find(word);
    if (at == std::string::npos || at < 2) return 0;
    size_t from = at - 1;
    while (from > 0 && std::isdigit(static_cast<unsigned char>(line[from - 1]))) --from;
    return std::atoi(line.c_str() + from);
}

}  // namespace

Ran runProgram(const std::vector<std::string>& argv, const std::string& scratch) {
    Ran ran;
    const std::string outPath = scratch + ".out", errPath = scratch + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return ran;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return ran;
    }
    if (WIFEXITED(status)) ran.status = WEXITSTATUS(status);
    ran.out = readAll(outPath);
    ran.err = readAll(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return ran;
}

Decoded readDecode(const std::string& log, int status) {
    Decoded d;
    d.ran = status >= 0;
    for (const std::string& line : lines(log)) {
        if (line.find("[error] ") != std::string::npos ||
            line.find("[fatal] ") != std::string::npos ||
            line.find("[panic] ") != std::string::npos) {
            ++d.errors;
            continue;
        }
        if (line.find("Input stream #") == std::string::npos) continue;
        if (line.find("(video):") != std::string::npos)
            d.videoFrames += numberBefore(line, " frames decoded");
        if (line.find("(audio):") != std::string::npos)
            d.audioFrames += numberBefore(line, " frames decoded");
    }
    // A file ffmpeg gives up on is an error even when it says nothing.
    if (status != 0 && d.errors == 0) d.errors = 1;
    return d;
}

Decoded decodeFile(const std::string& ffmpeg, const std::string& file, const std::string& scratch) {
    // At the verbose level with each line's level in front: the lines
    // `-v error` prints are those marked error or fatal, and the closing
    // statistics give the frames of each input stream.
    const Ran ran = runProgram({ffmpeg, "-nostdin", "-hide_banner", "-loglevel", "level+verbose",
                                "-i", file, "-f", "null", "-"},
                               scratch);
    return readDecode(ran.err, ran.status);
}

Compared compareDecodes(const Decoded& file, const Decoded& against) {
    if (file.errors > against.errors || file.videoFrames < against.videoFrames ||
        file.audioFrames < against.audioFrames) {
        return Compared::Worse;
    }
    if (file.errors < against.errors || file.frames() > against.frames()) return Compared::Better;
    return Compared::Same;
}

bool remuxFile(const std::string& ffmpeg, const std::string& file, const std::string& format,
               const std::string& to, bool ignoreErrors, const std::string& scratch) {
    std::vector<std::string> argv = {ffmpeg, "-nostdin", "-hide_banner", "-v", "error", "-y"};
    if (ignoreErrors) argv.insert(argv.end(), {"-err_detect", "ignore_err"});
    argv.insert(argv.end(),
                {"-i", file, "-c", "copy", "-f", format, to.empty() ? "/dev/null" : to});
    const Ran ran = runProgram(argv, scratch);
    return ran.status == 0 && ran.err.empty();
}

int Scanned::rowCount() const {
    int n = 0;
    for (const auto& [kind, count] : rows) n += count;
    return n;
}

std::string Scanned::rowsText() const {
    std::string text;
    for (const auto& [kind, count] : rows) {
        if (!text.empty()) text += ' ';
        text += kind + ":" + std::to_string(count);
    }
    return text;
}

Scanned readScan(const std::string& rows, int status) {
    Scanned s;
    s.ran = status >= 0;
    s.status = status;
    for (const std::string& line : lines(rows)) {
        if (line.empty()) continue;
        // A row of a kind begins with its name; a broken block's row with
        // its number.
        const std::string first = line.substr(0, line.find('\t'));
        const bool named = !first.empty() && std::isalpha(static_cast<unsigned char>(first[0])) &&
                           first.size() < 24 && first.find(' ') == std::string::npos;
        ++s.rows[named ? first : "block"];
    }
    return s;
}

Scanned scanFile(const std::string& cli, const std::string& file, bool decode,
                 const std::string& scratch) {
    std::vector<std::string> argv = {cli, "--quiet", "scan", file};
    if (decode) argv.push_back("--decode");
    const Ran ran = runProgram(argv, scratch);
    return readScan(ran.out, ran.status);
}

bool cliDecodes(const std::string& cli, const std::string& scratch) {
    const Ran ran = runProgram({cli, "scan", "--help"}, scratch);
    return ran.out.find("--decode") != std::string::npos;
}

}  // namespace mpg::bench
