// Joining pieces of a stream into one file: the structured join copies whole
// blocks, drops the inner end codes (and, on request, every system header but
// the first and every padding packet but the first) and closes with one end
// code; the plain glue concatenates the files byte for byte. Both read their
// inputs directly, not through the stream view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/job_sink.h"
#include "stream/failure.h"
#include "stream/file_io.h"

namespace mpg {

// Taken when the job starts: later edits of the list do not reach it.
struct JoinParams {
    std::vector<std::string> inputs;
    std::string output;
    bool oneSystemHeader = false;            // drop every system header but the first of the join
    bool onePadding = false;                 // drop every padding packet but the first of the join
    StreamRules rules = StreamRules::Sound;  // how the inputs are walked
    // Shift the clock (SCR, PTS and DTS) of every piece after the first so
    // that it runs on from where the previous piece ended.
    bool continuous = false;
    // Whether a file at the output's name is replaced or fails the join
    // (OutputExists) and stays, even one that appeared while the join ran.
    Existing existing = Existing::Keep;
};

// An end code a structured join met before the end of a piece, with more of
// the stream behind it (two recordings copied into one file): the join goes
// on with the block behind it and drops it, as it drops every piece's own.
struct InnerEndCode {
    size_t piece = 0;       // from 0
    uint64_t position = 0;  // in the piece's stream
    bool operator==(const InnerEndCode&) const = default;
};

// Whether the output names one of the inputs, however it is spelled.
bool outputIsAnInput(const JoinParams& params);

// Both report progress as JoinProgress, the percentage of all the inputs'
// bytes read so far with the current input's number and the count, and poll
// job.stopRequested after each report. They write through OutputFile, and
// every input must be a regular file that can be opened: all of them are checked before the output
// is touched, and one that is not refuses the join through sink.reportRefusal, as does an output
// that is one of the inputs. A failed join leaves nothing new behind (an output it was to replace
// stays whole); a stopped one keeps what it wrote (Stopped, with the name and the bytes kept),
// never in place of a file (OutputFile::keepStopped), and one stopped before it began writes
// nothing. No failure means the join is done. The structured join starts from the initial
// stream codes and takes those of every system header it reads; the repair's own stream codes
// are not touched. The end codes met inside a piece go to `innerEnds`, when
// given. A piece without a single block (empty, or end codes and fill only)
// fails the join (EmptyPiece): it would join nothing of a stream.
[[nodiscard]] Failure joinStructured(JobState& job, const JoinParams& params, JobSink& sink,
                                     std::vector<InnerEndCode>* innerEnds = nullptr);
[[nodiscard]] Failure glueFiles(JobState& job, const JoinParams& params, JobSink& sink);

}  // namespace mpg
