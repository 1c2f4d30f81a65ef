// What real_damage asks of other programs: ffmpeg's judgement of a file
// (error lines, frames decoded per kind of stream, whether it remuxes) and
// mpgmend-cli's (exit status, rows by kind, the repaired file).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace mpg::bench {

struct Ran {
    int status = -1;  // the exit status; -1 when the program could not run or was killed
    std::string out, err;
};

// Runs `argv` with no shell, standard input from /dev/null, its standard
// output and error read back through files named from `scratch`.
Ran runProgram(const std::vector<std::string>& argv, const std::string& scratch);

// ffmpeg's decode of a whole file: `ffmpeg -v error -i F -f null -`, its
// error lines counted, and the frames each kind of stream gave.
struct Decoded {
    bool ran = false;
    int errors = 0;
    int videoFrames = 0;
    int audioFrames = 0;
    int frames() const { return videoFrames + audioFrames; }
};
Decoded decodeFile(const std::string& ffmpeg, const std::string& file, const std::string& scratch);
// The same from what ffmpeg wrote at `-loglevel level+verbose` and its exit
// status: a run that failed without an error line counts one.
Decoded readDecode(const std::string& log, int status);

// How a file decodes beside another: worse when it gives more error lines
// or fewer frames of either kind, better when it gives fewer error lines and
// no fewer frames, or more frames and no more errors.
enum class Compared { Worse, Same, Better };
Compared compareDecodes(const Decoded& file, const Decoded& against);

// Whether ffmpeg remuxes the file without an error line, into `format`
// (mpeg, vob, dvd) at `to` (or /dev/null when empty); `ignoreErrors` adds
// -err_detect ignore_err, as a user's salvage does.
bool remuxFile(const std::string& ffmpeg, const std::string& file, const std::string& format,
               const std::string& to, bool ignoreErrors, const std::string& scratch);

// mpgmend-cli scan, and scan --decode: the exit status and the rows of its
// standard output counted by kind (the row's first field when it names a
// kind, else "block").
struct Scanned {
    bool ran = false;
    int status = -1;
    std::map<std::string, int> rows;
    int rowCount() const;
    std::string rowsText() const;  // "block:3 sector:1"
};
Scanned scanFile(const std::string& cli, const std::string& file, bool decode,
                 const std::string& scratch);
Scanned readScan(const std::string& rows, int status);
// Whether the CLI's scan takes --decode.
bool cliDecodes(const std::string& cli, const std::string& scratch);

}  // namespace mpg::bench
