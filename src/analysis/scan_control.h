// The open check: is the named file an MPEG-1 system stream that starts with
// a pack header followed directly by a system header? Prepares an empty
// BlockTable and CutList and takes the stream codes from that header. Also
// the texts in which the window and the command line name why the input
// could not be opened or read.
#pragma once

#include <string>

#include "stream/failure.h"
#include "analysis/app_state.h"

namespace mpg {

enum class CheckResult {
    Ok,
    NoName,
    OpenFailed,
    TooLarge,
    NoSignature,
    NoSystemHeader,
    NotRegular,
    ReadFailed,
};

inline constexpr const char* kNeedFileNameText = "сюда надо положить имя файла";
inline constexpr const char* kOpenFailedText = "ошибка открытия файла";
inline constexpr const char* kTooLargeText = "файл слишком большой (4 ГБ и более)";
inline constexpr const char* kReadFailedText = "ошибка чтения файла";
inline constexpr const char* kInputChangedText = "входной файл изменился во время работы";
inline constexpr const char* kNoIndexText = "нет файла ошибок";
inline constexpr const char* kBadIndexText = "файл ошибок повреждён";

// The status text the window shows for a result, without the detail.
const char* checkResultText(CheckResult result);

// The fixed text of a failure ("ошибка чтения файла"), to which
// failureDetail adds the file, a failed read's position and the system's
// reason: ": film.mpg: позиция 123'456: Input/output error".
const char* failureHeadline(const Failure& failure);
// Both together, as a status line shows them.
std::string failureText(const Failure& failure);

// Leaves the file closed on every outcome. Empties the table and the cut list
// and releases the cache once the file could be opened. The stream codes
// start from the initial ones, whatever an earlier file or join left, and
// take those of the system header. For OpenFailed, NotRegular and
// ReadFailed, state.view.failure() says why.
CheckResult openAndCheck(AppState& state, const std::string& path);

// The detail of the view's failure where the check's result is that the
// file could not be opened or read, else nothing; and the status text with it.
std::string checkDetailText(CheckResult result, const Failure& failure);
std::string checkStatusText(CheckResult result, const Failure& failure);

}  // namespace mpg
