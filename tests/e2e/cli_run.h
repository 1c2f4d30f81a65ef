// mpgmend-cli run as a process, for the end-to-end tests: its exit status
// and what it printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace mpg::test {

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Runs the CLI with the arguments (shell-quoted here) and no standard input,
// from the folder `cwd` when one is given; its standard error passes through
// the file stderr.txt of `dir`.
CliRun cli(const std::vector<std::string>& args, const TempDir& dir, const std::string& cwd = "");

// The bytes with `length` bytes of value `byte` inserted at `at`, or a
// little further, where neither neighbour has that value: the run is then
// exactly as long as inserted.
std::vector<uint8_t> withRun(std::vector<uint8_t> bytes, size_t at, size_t length, uint8_t byte);

// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text);

}  // namespace mpg::test
