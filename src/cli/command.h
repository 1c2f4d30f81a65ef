// A command of mpgmend-cli: its subcommand and options in the parser, and
// what it does once the command line is parsed. main() keeps a table of them.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli/session.h"

namespace mpg::cli {

class Command {
  public:
    virtual ~Command() = default;
    // Adds the subcommand, whose options fill this command and the session.
    virtual CLI::App* define(CLI::App& app, Session& s) = 0;
    // The exit code: 0 done, 1 failed (reported), 2 options that do not go
    // together, 3 broken blocks found (scan) or a written file that its
    // check finds wanting (repair --verify).
    virtual int run(Session& s) = 0;
};

// The repairs --apply takes, in the order the window offers them.
inline const std::vector<std::string> kStrategies = {"eq", "rescan", "sizes", "auto"};

// The commands, in the order the help lists them.
std::unique_ptr<Command> makeScanCommand();
std::unique_ptr<Command> makeRepairCommand();
std::unique_ptr<Command> makeDumpCommand();
std::unique_ptr<Command> makeJoinCommand();

}  // namespace mpg::cli
