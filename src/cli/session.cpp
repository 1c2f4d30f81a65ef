#include "cli/session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

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

}  // namespace

void stopOnInterrupt(std::atomic<bool>& flag) {
    gStop.store(&flag);
    // Without SA_RESTART: a write blocked on a stalled reader returns EINTR,
    // and the writer sees the stop instead of waiting on.
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

uint64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

namespace {

// The open check, said when it refuses the file.
bool opened(Session& s) {
    const OpenResult open = s.work.open({s.path});
    if (open.check == CheckResult::Ok) return true;
    say(checkMessage(open.check), checkDetailText(open.check, open.failure));
    return false;
}

// A scan at high priority, fresh or going on from the table's end; nothing
// (reported) when it failed or was stopped.
std::optional<ScanResult> scanOnce(Session& s, bool resume) {
    ScanResult scan;
    {
        CliSink sink(s.quiet, fileSize(s.path));
        scan = s.work.scan({s.path, resume}, sink);
    }
    if (scan.failure) {
        sayFailure(scan.failure);
        return std::nullopt;
    }
    return scan;
}

bool resumeScan(Session& s) {
    return scanOnce(s, true).has_value();
}

}  // namespace

std::optional<ScanResult> checkAndScan(Session& s) {
    if (!opened(s)) return std::nullopt;
    return scanOnce(s, false);
}

bool checkAndLoadIndex(Session& s, bool resume) {
    if (!opened(s)) return false;
    const IndexResult load = s.work.loadIndex({"", resume});
    const Failure& f = load.failure;
    if (!f) return !load.stopped || resumeScan(s);
    // The index itself missing, unusable or a stopped scan's, a read of it
    // or of the input failed, or the input is gone.
    if (f.kind == FailureKind::NoIndex) {
        say(Message::NoIndex);
    } else if (f.kind == FailureKind::StoppedScan) {
        sayFailure(f);
        std::cerr << "--resume continues the scan from the end of this index\n";
    } else if (f.path == load.indexPath && f.kind != FailureKind::ReadFailed) {
        say(Message::BadIndex);
    } else {
        sayFailure(f);
    }
    return false;
}

bool hammer(Session& s, const std::string& strategy, const RepairOptions& options) {
    QuietRepairProgress progress;
    ApplyParams params;
    params.strategy = strategy == "eq"       ? Strategy::RemoveRunsEqualToDelta
                      : strategy == "rescan" ? Strategy::RemoveRunsAndRemeasure
                      : strategy == "auto"   ? Strategy::Automatic
                                             : Strategy::AcceptRealSizes;
    params.options = options;
    const Failure failure = s.work.apply(params, progress).failure;
    if (!failure || failure.kind == FailureKind::Stopped) return true;
    sayFailure(failure);
    return false;
}

// Only a regular file has contents to lose: a device, a FIFO or standard
// output takes the stream as it comes.
std::optional<Existing> overwriteChoice(const std::string& output, bool force) {
    if (force) return Existing::Replace;
    struct stat st {};
    if (output == OutputFile::kStandardOutput || ::stat(output.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return Existing::Keep;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        std::cerr << output << ": ";
        say(Message::FileExists);
        return std::nullopt;
    }
    const Message question = Message::OverwriteQuestion;
    std::cerr << output << ": " << glossed([&](Language l) { return messageIn(question, l); })
              << " [y/N] ";
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "y" || answer == "Y") return Existing::Replace;
    return std::nullopt;
}

}  // namespace mpg::cli
