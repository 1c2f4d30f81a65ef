// Numbers as the front ends write them: digits grouped by an apostrophe,
// and the progress of a job that reads a stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mpg {

// Puts an apostrophe between groups of three characters, counted from the
// right: "1234567" -> "1'234'567". The text is counted, not interpreted.
std::string groupDigits(std::string_view digits);

// "1'234 >> 5'678": the progress text of the scan and the save.
std::string progressOf(uint64_t pos, uint64_t total);

}  // namespace mpg
