// repair: the findings of a scan or of the index file, the chosen repairs in
// order, and the repaired stream saved into a new file; on request the
// automatic repair's report, a plan instead of a file, and a check of the
// file written.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/output.h"
#include "cli/report.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "repair/verify.h"
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
        repair->add_flag("--force", force_, "overwrite an existing output or report");
        repair
            ->add_option("--apply", apply_,
                         "a repair, in the order given: eq, rescan, sizes or auto (default: eq)")
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
        repair->add_option("--report", report_,
                           "write the automatic repair's report as JSON into this file (needs "
                           "--apply auto; with --dry-run it is the plan)");
        repair->add_flag("--dry-run", dryRun_,
                         "repair in memory only: print the plan (the automatic repair's blocks, "
                         "else the rows still listed) and write no stream; a --report is still "
                         "written");
        repair->add_flag("--verify", verify_,
                         "scan the written file and name the blocks whose length was rewritten or "
                         "that were padded, which a scan cannot judge");
        repair->footer(
            "Exit status: 0 done, 1 failed or stopped, 2 options that do not go together, 3 with "
            "--verify: blocks the automatic repair left unresolved, or broken blocks in the "
            "written file.");
        return repair;
    }

    int run(Session& s) override {
        const std::string output = output_.empty() ? outputNameFor(s.path) : output_;
        if (const char* refusal = refusedCombination(output)) {
            std::cerr << refusal << "\n";
            return 2;
        }
        if (!(fromIndex_ ? loadFindings(s) : checkAndScan(s))) return 1;
        const RepairOptions options{!anyByte_, !anyDelta_, parseMinRepeat(minRun_).value_or(100),
                                    !report_.empty() || dryRun_ || verify_};
        if (apply_.empty()) apply_.push_back("eq");
        for (const std::string& strategy : apply_) hammer(s, strategy, options);
        const int status = dryRun_ ? planOnly(s) : save(s, output);
        // The summary closes what the command says, whatever came of the save.
        if (s.automatic) saySummary(s.counted);
        return status;
    }

  private:
    // Why the options given do not go together, or nothing.
    const char* refusedCombination(const std::string& output) const {
        if (json_ && output_ == OutputFile::kStandardOutput) {
            return "--json prints to standard output: not with -o -";
        }
        const bool automatic = std::find(apply_.begin(), apply_.end(), "auto") != apply_.end();
        if (!report_.empty() && !automatic) {
            return "--report writes the automatic repair's report: only with --apply auto";
        }
        if (report_ == OutputFile::kStandardOutput) {
            return "--report needs a file: standard output carries the plan or the output's name";
        }
        if (dryRun_ && (json_ || verify_)) {
            return "--dry-run writes no file: not with --json or --verify";
        }
        if (verify_ && !isRegularOrNew(output)) {
            return "--verify reads the written file back: not with -o - or an output that is no "
                   "regular file";
        }
        if (!dryRun_ && !report_.empty() && sameName(report_, output)) {
            return "--report and the repaired stream cannot be one file";
        }
        return nullptr;
    }

    // An output that a check can read back once written: a regular file or
    // a name that does not exist yet.
    static bool isRegularOrNew(const std::string& path) {
        struct stat st {};
        return path != OutputFile::kStandardOutput &&
               (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode));
    }

    // Whether two names lead to one place, whether it exists or not yet.
    static bool sameName(const std::string& a, const std::string& b) {
        std::error_code error;
        const auto full = [&](const std::string& path) {
            return std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
        };
        return a == b || sameFile(a, b) || full(a) == full(b);
    }

    // --dry-run: the plan on standard output, and the report when asked.
    int planOnly(Session& s) const {
        s.state.view.closeFile();
        s.automatic ? printPlan(s.repairs) : printRows(s.state.table);
        if (report_.empty()) return 0;
        OutputFile report;
        if (!openReport(report, {s.path})) return 1;
        return finishReport(report, {s.path, ""}, s.repairs, {}) ? 0 : 1;
    }

    int save(Session& s, const std::string& output) {
        if (!mayOverwrite(output, force_)) return 1;
        // Opened before the save, so that a report that cannot be written
        // (the input's name, a folder that is not there) costs no stream.
        OutputFile report;
        if (!report_.empty() && !openReport(report, {s.path, output})) return 1;
        s.state.headerFromRealSize = !cutPad_;
        std::vector<size_t> reported(s.repairs.size());
        std::transform(s.repairs.begin(), s.repairs.end(), reported.begin(),
                       [](const BlockRepair& r) { return r.index; });
        std::vector<Position> located;
        bool saved = false;
        {
            CliSink sink(s.quiet, s.state.view.streamSize());
            saved = saveRepairedStream(s.state, {s.path, output, &reported, &located}, sink);
        }
        s.state.view.closeFile();
        if (json_) printJson(s.state);
        const Failure& failure = s.state.job.failure;
        say(saveMessage(failure), failureDetail(failure));
        if (!saved) return 1;
        // The one line on standard output, for `out=$(mpgmend-cli repair f.mpg)`.
        if (output != OutputFile::kStandardOutput) std::cout << output << "\n";
        if (!report_.empty() && !finishReport(report, {s.path, output}, s.repairs, located)) {
            return 1;
        }
        return verify_ ? verifyWritten(s, output, located) : 0;
    }

    // The report's file, refused when it is one of `taken`; false (told)
    // when it may not be overwritten or cannot be created.
    bool openReport(OutputFile& report, const std::vector<std::string>& taken) const {
        if (!mayOverwrite(report_, force_)) return false;
        if (report.create(report_, taken)) return true;
        say(saveMessage(report.failure()), failureDetail(report.failure()));
        return false;
    }

    static bool finishReport(OutputFile& report, const ReportFiles& files,
                             const std::vector<BlockRepair>& repairs,
                             const std::vector<Position>& located) {
        if (writeReport(report, files, repairs, located)) return true;
        say(saveMessage(report.failure()), failureDetail(report.failure()));
        return false;
    }

    // --verify: the written file scanned into a state of its own (the
    // repair's table stays as it is), what the scan found and the blocks it
    // cannot judge. 3 when a block stays unresolved or the file holds
    // broken blocks.
    int verifyWritten(Session& s, const std::string& output, const std::vector<Position>& located) {
        auto scratch = std::make_unique<AppState>();
        scratch->rules = s.state.rules.load();
        stopOnInterrupt(scratch->job.stopRequested);
        OutputCheck check;
        {
            CliSink sink(s.quiet, fileSize(output));
            check = checkWrittenStream(*scratch, output, sink);
        }
        stopOnInterrupt(s.state.job.stopRequested);
        if (check.failure) {
            sayFailure(check.failure);
            return 1;
        }
        if (check.stopped) {
            say(Message::Stopped);
            return 1;
        }
        sayOutputCheck(check);
        sayUncheckable(s.state, s.repairs, located);
        const bool unresolved = summarize(s.repairs).unresolved > 0;
        return unresolved || check.broken > 0 ? 3 : 0;
    }

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
    std::string report_;
    bool dryRun_ = false, verify_ = false;
};

}  // namespace

std::unique_ptr<Command> makeRepairCommand() {
    return std::make_unique<RepairCommand>();
}

}  // namespace mpg::cli
