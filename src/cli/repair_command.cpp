// repair: the findings of a scan or of the index file, the chosen repairs in
// order, and the repaired stream saved into a new file; on request the
// automatic repair's report, a plan instead of a file, and a check of the
// file written.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/batch.h"
#include "cli/command.h"
#include "cli/output.h"
#include "cli/report.h"
#include "repair/index_file.h"
#include "repair/naming.h"
#include "repair/verify.h"
#include "repair/writer.h"
#include "stream/cdxa.h"
#include "stream/file_io.h"

namespace mpg::cli {

namespace {

class RepairCommand : public Command {
  public:
    CLI::App* define(CLI::App& app, Session&) override {
        CLI::App* repair = app.add_subcommand("repair", "repair streams, each into a new file");
        repair->add_option("FILE", files_, "the streams, or folders with --recursive")->required();
        repair->add_flag("-r,--recursive", recursive_,
                         "take the stream files (.mpg .mpeg .vob .dat) below the folders named");
        repair->add_option("-o,--output", output_,
                           "the repaired file, - for standard output (default: FILE with .001 "
                           "before the extension, .mpg for a .dat rip); one stream only");
        repair->add_option("--output-dir", outputDir_,
                           "an existing folder for the repaired files, named as beside their "
                           "streams");
        repair->add_flag("--wrap-dat", wrapDat_,
                         "write a video CD rip's repaired stream as a .dat again: RIFF CDXA "
                         "header, sectors with fresh headers and EDCs, the rip's addresses up "
                         "to the first cut and consecutive ones after it (default name .dat)");
        repair->add_flag("--skip-clean", skipClean_,
                         "write nothing for a stream without broken blocks");
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
        repair->add_flag("--resume", resume_,
                         "with --from-index: take the index of a stopped scan and scan on from "
                         "its end before the repairs");
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
            "written file. A --report that cannot be written once the stream is saved gives 1 and "
            "says so; the stream stays. Over several files: 1 if any failed, else 3 if any gave 3, "
            "else 0.");
        return repair;
    }

    int run(Session& s) override {
        Inputs inputs;
        if (const std::string refusal = gatherInputs(files_, recursive_, inputs);
            !refusal.empty()) {
            std::cerr << refusal << "\n";
            return 2;
        }
        // One stream's output is named before its scan, as it always was;
        // several are named each when its turn comes, past the files the
        // ones before it wrote.
        const std::string output = inputs.several    ? ""
                                   : output_.empty() ? nameFor(inputs.files.front())
                                                     : output_;
        const char* refusal = inputs.several ? refusedForSeveral() : nullptr;
        if (refusal == nullptr) refusal = refusedCombination(output);
        if (refusal != nullptr) {
            std::cerr << refusal << "\n";
            return 2;
        }
        // Only a rip has sectors to wrap the stream in again. A file that
        // cannot be read is left to the open, which names its reason.
        for (const std::string& file : inputs.files) {
            if (wrapDat_ && readsAsCdxaFile(file) == false) {
                std::cerr << "--wrap-dat writes a video CD rip again: " << file
                          << " is no .dat rip (RIFF CDXA)\n";
                return 2;
            }
        }
        if (apply_.empty()) apply_.push_back("eq");
        return runEach(s, inputs, true,
                       [&](Session& one) { return repairOne(one, output, inputs.several); });
    }

  private:
    FileOutcome repairOne(Session& s, std::string output, bool several) {
        FileOutcome outcome;
        outcome.status = 1;
        if (!(fromIndex_ ? checkAndLoadIndex(s, resume_) : checkAndScan(s).has_value())) {
            return outcome;
        }
        outcome.counted = true;
        outcome.blocks = s.state.table.size();
        outcome.broken = countListed(s.state.table);
        if (skipClean_ && outcome.broken == 0) {
            std::cerr << glossed([](Language l) {
                return translateTo(l, "Cli",
                                   MPG_TR_NOOP("Cli", "испорченных блоков нет: файл не записан"));
            }) << "\n";
            outcome.status = 0;
            return outcome;
        }
        const RepairOptions options{!anyByte_, !anyDelta_, parseMinRepeat(minRun_).value_or(100),
                                    !report_.empty() || dryRun_ || verify_};
        for (const std::string& strategy : apply_) {
            if (!hammer(s, strategy, options)) return outcome;
        }
        outcome.fixed = outcome.broken - std::min(outcome.broken, countListed(s.state.table));
        if (output.empty()) output = nameFor(s.path);
        outcome.status = dryRun_ ? planOnly(s, several) : save(s, output);
        // The summary closes what the command says, whatever came of the save.
        if (s.work.automatic()) saySummary(s.work.counted());
        if (!dryRun_ && outcome.status != 1) outcome.output = output;
        return outcome;
    }

    // The name proposed for a stream's output: beside it, or in
    // --output-dir under the name it would have beside it, numbered past
    // the files already in that folder.
    std::string nameFor(const std::string& input) const {
        if (outputDir_.empty()) return outputNameFor(input, fileExists, wrapDat_);
        const auto inDir = [&](const std::string& name) {
            return (std::filesystem::path(outputDir_) / std::filesystem::path(name).filename())
                .string();
        };
        return inDir(outputNameFor(
            input, [&](const std::string& name) { return fileExists(inDir(name)); }, wrapDat_));
    }

    // Why the options do not go with several streams, or nothing.
    const char* refusedForSeveral() const {
        if (!output_.empty()) return "-o names one output: not with several files or a folder";
        if (json_)
            return "--json prints the table of one stream: not with several files or a folder";
        if (!report_.empty()) {
            return "--report writes the report of one stream: not with several files or a folder";
        }
        return nullptr;
    }

    // Why the options given do not go together, or nothing.
    const char* refusedCombination(const std::string& output) const {
        if (resume_ && !fromIndex_) {
            return "--resume continues the scan of an index: only with --from-index";
        }
        if (!output_.empty() && !outputDir_.empty()) {
            return "-o and --output-dir both name where the output goes: give one";
        }
        std::error_code error;
        if (!outputDir_.empty() && !std::filesystem::is_directory(outputDir_, error)) {
            return "--output-dir needs an existing folder";
        }
        if (wrapDat_ && output_ == OutputFile::kStandardOutput) {
            return "--wrap-dat sets the header's sizes once the sectors are written: not with -o -";
        }
        if (wrapDat_ && dryRun_) return "--dry-run writes no file: not with --wrap-dat";
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
        if (!dryRun_ && !report_.empty() && sameName(report_, output) &&
            !sameDevice(report_, output)) {
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

    // Whether two names lead to one device (/dev/null, a terminal): it takes
    // both outputs as they come, and neither holds anything to lose.
    static bool sameDevice(const std::string& a, const std::string& b) {
        struct stat st {};
        return sameFile(a, b) && ::stat(a.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    }

    // --dry-run: the plan on standard output, and the report when asked.
    int planOnly(Session& s, bool several) const {
        s.state.view.closeFile();
        const std::string prefix = several ? s.path + "\t" : "";
        s.work.automatic() ? printPlan(s.work.repairs(), prefix)
                           : printRows(s.state.table, prefix, &s.work);
        printFindingRows(s.state, prefix);
        sayJunkLeftOut(s.state.findings);
        if (report_.empty()) return 0;
        OutputFile report;
        if (!openReport(report, {s.path})) return 1;
        return finishReport(report, {s.path, ""}, s.work.repairs(), {}) ? 0 : 1;
    }

    int save(Session& s, const std::string& output) {
        const std::optional<Existing> existing = overwriteChoice(output, force_);
        if (!existing) return 1;
        // Opened before the save, so that a report that cannot be written
        // (the input's name, a folder that is not there) costs no stream.
        OutputFile report;
        std::vector<std::string> taken = {s.path};
        if (!sameDevice(report_, output)) taken.push_back(output);
        if (!report_.empty() && !openReport(report, taken)) return 1;
        s.state.headerFromRealSize = !cutPad_;
        WriteResult saved;
        {
            CliSink sink(s.quiet, s.state.view.streamSize());
            saved = s.work.save({output, wrapDat_, *existing}, sink);
        }
        if (json_) printJson(s.state);
        const Failure& failure = saved.failure;
        say(saveMessage(failure), failureDetail(failure));
        if (failure) return 1;
        sayJunkLeftOut(s.state.findings);
        // The one line on standard output, for `out=$(mpgmend-cli repair f.mpg)`.
        if (output != OutputFile::kStandardOutput) printOut(output + "\n");
        if (!report_.empty() &&
            !writeReport(report, {s.path, output}, s.work.repairs(), saved.located)) {
            // The stream is whole and stays: only the report is missing.
            const Failure& lost = report.failure();
            std::cerr << glossed([](Language l) {
                return translateTo(
                    l, "Cli", MPG_TR_NOOP("Cli", "отчёт не записан, исправленный поток сохранён"));
            }) << failureDetail(lost)
                      << "\n";
            return 1;
        }
        return verify_ ? verifyWritten(s) : 0;
    }

    // The report's file, refused when it is one of `taken`; false (told)
    // when it may not be overwritten or cannot be created.
    bool openReport(OutputFile& report, const std::vector<std::string>& taken) const {
        const std::optional<Existing> existing = overwriteChoice(report_, force_);
        if (!existing) return false;
        if (!report.create(report_, taken, *existing)) return true;
        say(saveMessage(report.failure()), failureDetail(report.failure()));
        return false;
    }

    static bool finishReport(OutputFile& report, const ReportFiles& files, const RepairLog& repairs,
                             const PositionRuns& located) {
        if (writeReport(report, files, repairs, located)) return true;
        say(saveMessage(report.failure()), failureDetail(report.failure()));
        return false;
    }

    // --verify: the written file scanned into a state of its own (the
    // repair's table stays as it is), what the scan found and the blocks it
    // cannot judge. 3 when a block stays unresolved or the file holds
    // broken blocks or any other damage the checks find.
    int verifyWritten(Session& s) {
        VerifyResult verified;
        {
            CliSink sink(s.quiet, fileSize(s.work.lastSaved().output));
            verified = s.work.verify({}, sink);
        }
        if (verified.failure) {
            sayFailure(verified.failure);
            return 1;
        }
        sayOutputCheck(verified.check, countFindings(s.state));
        sayUncheckable(verified.written);
        const bool unresolved = summarize(s.work.repairs()).unresolved > 0;
        return unresolved || !verified.check.clean() ? 3 : 0;
    }

    std::vector<std::string> files_;
    bool recursive_ = false;
    std::string output_;
    std::string outputDir_;
    bool skipClean_ = false;
    bool wrapDat_ = false;
    bool force_ = false;
    std::vector<std::string> apply_;
    bool anyByte_ = false, anyDelta_ = false, cutPad_ = false, fromIndex_ = false, json_ = false;
    bool resume_ = false;
    std::string minRun_ = kDefaultMinRepeat;
    std::string report_;
    bool dryRun_ = false, verify_ = false;
};

}  // namespace

std::unique_ptr<Command> makeRepairCommand() {
    return std::make_unique<RepairCommand>();
}

}  // namespace mpg::cli
