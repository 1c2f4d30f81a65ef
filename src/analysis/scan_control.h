// The open check: is the named file an MPEG-1 system stream that starts with
// a pack header followed directly by a system header? Prepares an empty
// BlockTable and CutList and takes the stream codes from that header.
#pragma once

#include <string>

#include "stream/variables.h"

namespace mpg {

enum class CheckResult { Ok, NoName, OpenFailed, TooLarge, NoSignature, NoSystemHeader };

inline constexpr const char* kNeedFileNameText = "сюда надо положить имя файла";
inline constexpr const char* kOpenFailedText = "ошибка открытия файла";
inline constexpr const char* kTooLargeText = "файл слишком большой (4 ГБ и более)";

// The status text the window shows for a result.
const char* checkResultText(CheckResult result);

// Leaves the file closed on every outcome. Empties the table and the cut list
// and releases the cache once the file could be opened.
CheckResult openAndCheck(AppState& state, const std::string& path);

}  // namespace mpg
