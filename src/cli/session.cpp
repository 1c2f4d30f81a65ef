#include "cli/session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <iterator>

#include "analysis/scan.h"
#include "cli/output.h"
#include "stream/file_io.h"

namespace mpg::cli {

namespace {

// Where Ctrl-C stops a job: the session's own stop flag, or that of the
// check of a written file while it runs.
std::atomic<std::atomic<bool>*> gStop{nullptr};

extern "C" void onInterrupt(int) {
    if (std::atomic<bool>* flag = gStop.load()) flag->store(true);
}

// The accounts of a block given to the automatic repair again replace its
// earlier ones; both lists ascend by index.
void keepLatest(std::vector<BlockRepair>& kept, const std::vector<BlockRepair>& latest) {
    std::vector<BlockRepair> merged;
    merged.reserve(kept.size() + latest.size());
    const auto byIndex = [](const BlockRepair& a, const BlockRepair& b) {
        return a.index < b.index;
    };
    // Of equal indices, std::merge puts the first range's first, and
    // std::unique keeps the first of a row.
    std::merge(latest.begin(), latest.end(), kept.begin(), kept.end(), std::back_inserter(merged),
               byIndex);
    const auto sameIndex = [](const BlockRepair& a, const BlockRepair& b) {
        return a.index == b.index;
    };
    merged.erase(std::unique(merged.begin(), merged.end(), sameIndex), merged.end());
    kept = std::move(merged);
}

}  // namespace

void stopOnInterrupt(std::atomic<bool>& flag) {
    gStop.store(&flag);
    std::signal(SIGINT, onInterrupt);
}

uint64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void sayCheck(const Session& s, CheckResult check) {
    say(checkMessage(check), checkDetailText(check, s.state.view.failure()));
}

bool checkAndScan(Session& s) {
    const CheckResult check = openAndCheck(s.state, s.path);
    if (check != CheckResult::Ok) {
        sayCheck(s, check);
        return false;
    }
    Failure failure;
    {
        CliSink sink(s.quiet, fileSize(s.path));
        failure = scanFileAfresh(s.state, s.path, sink);
    }
    if (failure) {
        sayFailure(failure);
        return false;
    }
    if (s.state.job.stopRequested) {
        say(Message::Stopped);
        return false;
    }
    return true;
}

void hammer(Session& s, const std::string& strategy, const RepairOptions& options) {
    QuietRepairProgress progress;
    const Strategy kind = strategy == "eq"       ? Strategy::RemoveRunsEqualToDelta
                          : strategy == "rescan" ? Strategy::RemoveRunsAndRemeasure
                          : strategy == "auto"   ? Strategy::Automatic
                                                 : Strategy::AcceptRealSizes;
    const StrategyOutcome outcome =
        applyStrategy(s.state, listedInTable(s.state.table), kind, options, s.path, progress);
    if (kind != Strategy::Automatic) return;
    s.automatic = true;
    if (options.keepReport) {
        keepLatest(s.repairs, outcome.repairs);
        s.counted = summarize(s.repairs);
        return;
    }
    // A later run is given the blocks the earlier ones left unresolved.
    RepairSummary& c = s.counted;
    c.exact += outcome.summary.exact;
    c.decodable += outcome.summary.decodable;
    c.unresolved = outcome.summary.unresolved;
    c.blocks = c.exact + c.decodable + c.unresolved;
}

// Only a regular file has contents to lose: a device, a FIFO or standard
// output takes the stream as it comes.
bool mayOverwrite(const std::string& output, bool force) {
    struct stat st {};
    if (force || output == OutputFile::kStandardOutput || ::stat(output.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return true;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        std::cerr << output << ": ";
        say(Message::FileExists);
        return false;
    }
    const Message question = Message::OverwriteQuestion;
    std::cerr << output << ": " << glossed([&](Language l) {
        return messageIn(question, l);
    }) << " [y/N] ";
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y";
}

}  // namespace mpg::cli
