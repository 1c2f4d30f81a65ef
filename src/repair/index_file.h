// The error index file: the whole block table saved beside the input, so a
// long scan need not be repeated. The file is the table's 26-byte records
// back to back, in table order, with no header, count or checksum; an empty
// table gives an empty file.
#pragma once

#include <string>

#include "analysis/block_table.h"

namespace mpg {

inline std::string indexFileName(const std::string& input) {
    return input + ".index";
}

// Creates (truncates) the file and writes every entry; false when it cannot be
// created (or is not a regular file) or a write or the close fails. A file
// that could not be written whole is removed, so that it is never loaded as
// a shorter table.
bool saveIndexFile(const BlockTable& table, const std::string& path);

enum class IndexLoad { Loaded, Missing, Unreadable, BadSize };

// Replaces the table with the file's records only when the file exists, can
// be read and its size is a multiple of 26; otherwise the table is left as it
// was. Nothing else is checked: the records are taken as they stand.
IndexLoad loadIndexFile(const std::string& path, BlockTable& table);

}  // namespace mpg
