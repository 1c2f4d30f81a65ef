// The writer of the repaired stream: every block of the BlockTable in order,
// read through the stream view (so that excised regions are left out), broken
// blocks put right, and one end code at the end. The input is only read.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/job_sink.h"
#include "repair/repair_report.h"
#include "stream/failure.h"
#include "stream/file_io.h"

namespace mpg {

struct SaveParams {
    std::string inputPath;
    std::string outputPath;
    // The blocks, ascending, whose positions in the output the writer
    // stores in `located` (one each, for those it reached), so that a
    // report can name where a repaired block now stands.
    const RepairLog* locate = nullptr;
    PositionRuns* located = nullptr;
    // Writes a video CD rip's repaired stream as a rip again: sectors with
    // fresh headers and EDCs behind a RIFF CDXA header (see CdxaWrapStage).
    // An input that is no rip is refused (NotADat). Positions in `located`
    // count stream bytes; after a stop the sectors written so far make a
    // whole rip, and the bytes kept are its size.
    bool wrapDat = false;
    // Whether a file at the output's name is replaced or fails the save
    // (OutputExists) and stays, even one that appeared while the save ran.
    // The front ends ask the user (the session's WriteParams keep a file
    // unless told).
    Existing existing = Existing::Replace;
};

// The body of the job "save", written through OutputFile. No failure when
// every block and the end code were written and the output took its name;
// otherwise the reason:
// - an output that is the input file itself, however it is named, is
//   refused (OutputIsInput) before anything is created;
// - a failed write, read or rename, or a table whose blocks lie far outside
//   the input (BadIndex: an absurd index file), leaves nothing new behind;
// - a stop keeps the blocks written so far, without end code (Stopped, with
//   the name and the bytes kept): under the output's name, or beside a file
//   of that name, which stays (OutputFile::keepStopped). A stop asked before
//   the save begins writes nothing.
// Reads state.headerFromRealSize anew for every broken block that the
// table's planned writes do not settle.
[[nodiscard]] Failure saveRepairedStream(AppState& state, const SaveParams& params, JobSink& sink);

}  // namespace mpg
