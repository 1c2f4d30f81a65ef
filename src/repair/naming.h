// The name proposed for a repaired file: the input's name with a three-digit
// sequence number in front of its extension, raised past every file that
// already exists, so a repair never overwrites anything unasked. Repairing
// film.mpg gives film.001.mpg, and repairing that one in turn film.002.mpg.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mpg {

// true exactly when text has 4 characters: a dot and three decimal digits.
bool isNumberExtension(std::string_view text);

// A name ending in three digits: those digits + 1, zero-padded to at least 3
// (".009" -> ".010", ".999" -> ".1000", ".1999" -> ".11000"). A name that
// does not end in three digits gets ".001", the first number.
std::string nextNumberExtension(std::string_view name);

// Whether a file of that name exists (the default looks at the file system).
using ExistsFn = std::function<bool(const std::string&)>;
bool fileExists(const std::string& path);

// The folder, as typed and ending in '/', that the files made from an
// input's name (its repaired stream NAME.001..., its index NAME.index) go
// into: the input's own. A name with no folder of its own to write into
// gets "", the current folder: anything under /dev or /proc (/dev/stdin,
// /proc/self/fd/3, whose folder holds no files of ours) and a folder that
// exists but that the user cannot write (a mounted disc). A folder that
// does not exist is kept: the write then says why it fails.
std::string derivedFolderFor(const std::string& input);

// The output name for an input name, in derivedFolderFor(input). A name
// without a folder stays relative: it means the current folder, as it does
// for every command-line tool (the program's own folder, /usr/bin once
// installed, is never a place to write). The file name is lower-cased
// (UTF-8: ASCII, Latin-1 and Cyrillic capitals). The result names no file
// that exists. A video CD rip (.dat) is saved as a plain stream: ".mpg";
// re-wrapped into sectors (`wrapDat`) as a rip again: ".dat".
std::string outputNameFor(const std::string& input, const ExistsFn& exists = fileExists,
                          bool wrapDat = false);

}  // namespace mpg
