// mpgmend-cli run as a process, for the end-to-end tests: its exit status
// and what it printed.
#pragma once

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

}  // namespace mpg::test
