// repair: the findings of a scan or of the index file, the chosen repairs in
// order, and the repaired stream saved into a new file.
#include <iostream>

#include "cli/command.h"
#include "cli/output.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "repair/writer.h"
#include "stream/file_io.h"

namespace mpg::cli {

namespace {

class RepairCommand : public Command {
  public:
    CLI::App* define(CLI::App& app, Session& s) override {
        CLI::App* repair = app.add_subcommand("repair", "repair a stream into a new file");
        repair->add_option("FILE", s.path, "the stream")->required();
        repair->add_option("-o,--output", output_,
                           "the repaired file, - for standard output (default: FILE with .001 "
                           "before the extension)");
        repair->add_flag("--force", force_, "overwrite an existing output");
        repair
            ->add_option("--apply", apply_,
                         "a repair, in the order given: eq, rescan or sizes (default: eq)")
            ->check(CLI::IsMember(kStrategies))
            ->take_last()
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        repair->add_flag("--any-byte", anyByte_, "runs of any byte, not only zeros");
        repair->add_flag("--any-delta", anyDelta_, "rescan: blocks shorter than declared too");
        repair->add_option("--min-run", minRun_, "rescan: the least run length (default 100)")
            ->allow_extra_args(false);
        repair->add_flag("--cut-pad", cutPad_, "cut or pad broken blocks to their declared size");
        repair->add_flag("--from-index", fromIndex_,
                         "take the findings from FILE.index instead of a scan");
        repair->add_flag("--json", json_, "print the block table after the repairs as JSON");
        return repair;
    }

    int run(Session& s) override {
        if (json_ && output_ == OutputFile::kStandardOutput) {
            std::cerr << "--json prints to standard output: not with -o -\n";
            return 2;
        }
        if (!(fromIndex_ ? loadFindings(s) : checkAndScan(s))) return 1;
        const RepairOptions options{!anyByte_, !anyDelta_, parseMinRepeat(minRun_).value_or(100)};
        if (apply_.empty()) apply_.push_back("eq");
        for (const std::string& strategy : apply_) hammer(s, strategy, options);

        const std::string output = output_.empty() ? outputNameFor(s.path) : output_;
        if (!mayOverwrite(output, force_)) return 1;
        s.state.headerFromRealSize = !cutPad_;
        bool saved = false;
        {
            CliSink sink(s.quiet, s.state.view.streamSize());
            saved = saveRepairedStream(s.state, {s.path, output}, sink);
        }
        s.state.view.closeFile();
        if (json_) printJson(s.state);
        const Failure& failure = s.state.job.failure;
        say(saveMessage(failure), failureDetail(failure));
        // The one line on standard output, for `out=$(mpgmend-cli repair f.mpg)`.
        if (saved && output != OutputFile::kStandardOutput) std::cout << output << "\n";
        return saved ? 0 : 1;
    }

  private:
    // The open check, then the findings from the index file instead of a
    // scan; false (reported) when either fails.
    static bool loadFindings(Session& s) {
        const CheckResult check = openAndCheck(s.state, s.path);
        if (check != CheckResult::Ok) {
            sayCheck(s, check);
            return false;
        }
        Failure inputFailure;
        const IndexLoad load = loadIndexFile(indexFileName(s.path), s.path, s.state, &inputFailure);
        if (load == IndexLoad::InputFailed) sayFailure(inputFailure);
        if (load == IndexLoad::Missing) say(Message::NoIndex);
        if (load == IndexLoad::Damaged || load == IndexLoad::Unreadable) say(Message::BadIndex);
        return load == IndexLoad::Loaded;
    }

    std::string output_;
    bool force_ = false;
    std::vector<std::string> apply_;
    bool anyByte_ = false, anyDelta_ = false, cutPad_ = false, fromIndex_ = false, json_ = false;
    std::string minRun_ = kDefaultMinRepeat;
};

}  // namespace

std::unique_ptr<Command> makeRepairCommand() {
    return std::make_unique<RepairCommand>();
}

}  // namespace mpg::cli
