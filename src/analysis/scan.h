// The stream scan: walks the open stream from block to block, fills the
// BlockTable, and resynchronises byte by byte after a block whose declared
// size does not lead to a valid start code.
#pragma once

#include "analysis/job_sink.h"
#include "stream/variables.h"

namespace mpg {

inline constexpr const char* kNoSignatureText = "отсутствует сигнатура файла";

// The body of the job "scan". Reads through state.view, which the caller has
// opened; continues after the last entry when state.resumeScan is 'y'.
void EnumPacks(AppState& state, JobSink& sink);

// Opens `path`, drops the cut list and the cache, scans the file afresh and
// closes it again: a whole scan as batch work and tests run it.
OpenStatus scanFileAfresh(AppState& state, const std::string& path, JobSink& sink);

}  // namespace mpg
