// The hex dump of a block: lines of offset, bytes in hexadecimal and the
// bytes as characters, 16, 24 or 32 bytes to a line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/procedures.h"
#include "stream/variables.h"

namespace mpg {

// The character a byte shows as, in UTF-8: "." for 00, 09, 0A and 0D; the
// other control codes as their visible control pictures (a raw code would
// break the line or, on a terminal, start an escape sequence); bytes from
// 0x80 up as the Cyrillic code page shows them.
std::string dumpChar(uint8_t byte);

// "000001E0 41 42 43 44 | ... ABCD....": the line's offset in 8 hex digits,
// each byte and a "|" after every fourth, spaces up to 3n + 2(n/4) + 9
// characters, then the characters.
std::vector<std::string> dumpLines(ByteSpan bytes, uint32_t baseOffset, int perLine);

// The bytes of BlockTable entry `index` as the stream shows them through the
// cut list: the larger of its declared and real size, read in pieces when the
// block is longer than the cache, never more than the file can hold. False
// when the entry does not exist or the input cannot be opened.
bool readBlockForDump(AppState& state, const std::string& inputPath, size_t index,
                      std::vector<uint8_t>& out);

}  // namespace mpg
