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
#include "analysis/scan_control.h"
#include "stream/failure.h"
#include "analysis/app_state.h"

namespace mpg {

inline constexpr int32_t kJoinDone = 0;
inline constexpr int32_t kJoinFailed = -1;
inline constexpr int32_t kJoinStopped = -2;

inline constexpr const char* kJoinDoneText = "операция завершена";
inline constexpr const char* kJoinBrokenText = "нарушена структура файла";
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
// "идёт работа    [ k  >>  n ]" and poll state.job.stopRequested after each
// report. They write through OutputFile, and every input must be a regular
// file that can be opened: all of them are checked before the output is
// touched, and one that is not refuses the join with its own text through
// sink.showMessage, as does an output that is one of the inputs. A failed
// join leaves nothing new behind (an output it was to replace stays whole);
// a stopped one keeps what it wrote under the output's name. The reason of
// anything but kJoinDone is in state.job.failure. The structured join starts
// from the initial stream codes and takes those of every system header it
// reads; state.codes stays as it was.
int32_t joinStructured(AppState& state, const JoinParams& params, JobSink& sink);
int32_t glueFiles(AppState& state, const JoinParams& params, JobSink& sink);

// The text the front ends show for a join's result, with
// failureDetail(failure) behind it for anything but kJoinDone.
const char* joinResultText(int32_t result, const Failure& failure);

}  // namespace mpg
