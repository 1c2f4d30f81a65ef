// The error index file: the whole block table saved beside the input, so a
// long scan need not be repeated. The file is the table's 26-byte records
// back to back, in table order, with no header, count or checksum; an empty
// table gives an empty file.
#pragma once

#include <string>
#include <vector>

#include "analysis/block_table.h"
#include "stream/failure.h"

namespace mpg {

inline std::string indexFileName(const std::string& input) {
    return input + ".index";
}

// Writes every entry to `path` through OutputFile, so the file takes its
// name only once it is whole: a failed save leaves the index that was there
// before, never a shorter table that would load as the whole one. An index
// that would be one of `inputs` (the stream it describes), by whatever link,
// is refused (OutputIsInput). Returns why it failed; none after success.
Failure saveIndexFile(const BlockTable& table, const std::string& path,
                      const std::vector<std::string>& inputs);

enum class IndexLoad { Loaded, Missing, Unreadable, BadSize };

// Replaces the table with the file's records only when the file exists, can
// be read and its size is a multiple of 26; otherwise the table is left as it
// was. Nothing else is checked: the records are taken as they stand.
IndexLoad loadIndexFile(const std::string& path, BlockTable& table);

}  // namespace mpg
