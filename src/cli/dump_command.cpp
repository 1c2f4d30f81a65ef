// dump: the hex dump of one block after the scan and the chosen repairs.
#include <iostream>

#include "analysis/dump.h"
#include "cli/command.h"
#include "cli/output.h"
#include "text/messages.h"

namespace mpg::cli {

namespace {

class DumpCommand : public Command {
  public:
    CLI::App* define(CLI::App& app, Session& s) override {
        CLI::App* dump =
            app.add_subcommand("dump", "the hex dump of one block after the scan and the repairs");
        dump->add_option("FILE", s.path, "the stream")->required();
        dump->add_option("--block", block_,
                         "the block's index in the table (a block over 128 KiB shows its first "
                         "and last 64 KiB)")
            ->required();
        dump->add_option("--width", width_, "bytes per line")->check(CLI::IsMember({16, 24, 32}));
        dump->add_option("--apply", apply_, "a repair first: eq, rescan, sizes or auto")
            ->check(CLI::IsMember(kStrategies))
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        dump->add_option("--charset", charset_,
                         "how the character column shows bytes from 0x80 up: ascii (each as '.', "
                         "the default) or cp1251 (as the Cyrillic code page shows them, as the "
                         "window does)")
            ->check(CLI::IsMember({"ascii", "cp1251"}));
        return dump;
    }

    int run(Session& s) override {
        if (!checkAndScan(s)) return 1;
        RepairOptions options;
        for (const std::string& strategy : apply_) {
            if (!hammer(s, strategy, options)) return 1;
        }
        BlockDump bytes;
        if (block_ < 0 || static_cast<size_t>(block_) >= s.state.table.size()) {
            std::cerr << "no block " << block_ << " (the stream has " << s.state.table.size()
                      << ")\n";
            return 1;
        }
        Failure failed;
        if (!readBlockForDump(s.state, s.path, static_cast<size_t>(block_), bytes, &failed)) {
            sayFailure(failed);
            return 1;
        }
        const DumpCharset charset = charset_ == "cp1251" ? DumpCharset::Cp1251 : DumpCharset::Ascii;
        std::string text;
        for (const std::string& line : dumpLines(bytes, width_, charset)) text += line + "\n";
        printOut(text);
        return 0;
    }

  private:
    int64_t block_ = -1;
    int width_ = 16;
    std::vector<std::string> apply_;
    std::string charset_ = "ascii";
};

}  // namespace

std::unique_ptr<Command> makeDumpCommand() {
    return std::make_unique<DumpCommand>();
}

}  // namespace mpg::cli
