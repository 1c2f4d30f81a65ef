// The writer of the repaired stream: every block of the BlockTable in order,
// read through the stream view (so that excised regions are left out), broken
// blocks put right, and one end code at the end. The input is only read.
#pragma once

#include <atomic>
#include <string>

#include "analysis/job_sink.h"
#include "stream/variables.h"

namespace mpg {

struct SaveParams {
    std::string inputPath;
    std::string outputPath;
};

// The body of the job "save". True when every block and the end code were
// written and the output closed. Refuses (false, nothing created) an output
// that is the input file itself, however it is named; fails on any short or
// failed write, on a stop request, and on a table whose blocks lie far
// outside the input (an absurd index file). Reads state.headerFromRealSize
// anew for every broken block.
bool SaveOutFile(AppState& state, const SaveParams& params, JobSink& sink);

// Whether two paths name the same existing file (device and inode).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace mpg
