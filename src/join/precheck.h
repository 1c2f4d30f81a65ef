// The quick look at each piece before a structured join: a piece with broken
// blocks joins into a film that stalls at them, and one that cannot be read
// or has no stream in it makes the join fail, so the user hears of both
// before anything is written.
#pragma once

#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/job_sink.h"
#include "stream/failure.h"

namespace mpg {

// What the scan found in one piece that is not sound.
struct PieceCheck {
    size_t piece = 0;  // its number among the inputs, from 0
    std::string path;
    uint64_t blocks = 0;
    uint64_t broken = 0;  // blocks whose size does not lead to the next start code
    Failure failure;      // a piece that could not be opened or read
};

// Scans each input afresh under `rules`, with the same scan as the repair
// page, and lists the pieces with broken blocks or a failure, in order. A
// stop request (job.stopRequested) ends the check between pieces and
// within one; the pieces not yet checked are then not listed. With a
// `progress` sink the check reports PieceCheck notices there, at each
// piece's start and as the piece's scan goes on, as often as that sink
// takes them.
std::vector<PieceCheck> checkPieces(JobState& job, const std::vector<std::string>& inputs,
                                    StreamRules rules, JobSink* progress = nullptr);

}  // namespace mpg
