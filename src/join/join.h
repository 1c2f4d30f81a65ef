// Joining pieces of a stream into one file: the structured join copies whole
// blocks, drops the inner end codes (and, on request, every system header but
// the first and every padding packet but the first) and closes with one end
// code; the plain glue concatenates the files byte for byte. Both read their
// inputs directly, not through the stream view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/job_sink.h"
#include "stream/variables.h"

namespace mpg {

inline constexpr int32_t JOIN_DONE = 0;
inline constexpr int32_t JOIN_FAILED = -1;
inline constexpr int32_t JOIN_STOPPED = -2;

inline constexpr const char* kJoinOpenFailedText = "ошибка открытия файла: ";
inline constexpr const char* kJoinOutputIsInputText = "выходной файл совпадает с одним из входных";

// Taken when the job starts: later edits of the list do not reach it.
struct JoinParams {
    std::vector<std::string> inputs;
    std::string output;
    bool oneSystemHeader = false;  // drop every system header but the first of the join
    bool onePadding = false;       // drop every padding packet but the first of the join
};

// Whether the output names one of the inputs, however it is spelled.
bool outputIsAnInput(const JoinParams& params);

// Both report progress per input as JoinProgress with state.job.progressText
// "идёт работа    [ k  >>  n ]", an input that cannot be opened through
// sink.showMessage, and poll state.job.stopRequested after each report. An
// output that is one of the inputs is refused before anything is created.
// The structured join starts from the initial stream codes and takes those of
// every system header it reads; state.codes stays as it was.
int32_t doJOIN(AppState& state, const JoinParams& params, JobSink& sink);
int32_t doGlue(AppState& state, const JoinParams& params, JobSink& sink);

}  // namespace mpg
