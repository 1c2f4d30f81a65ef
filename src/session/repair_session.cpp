#include "session/repair_session.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

#include "analysis/error_list.h"
#include "analysis/progress_throttle.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"
#include "repair/index_file.h"
#include "repair/writer.h"

namespace mpg {

namespace {

// The verification's scan reports only its progress to the front end: its
// rows are the scratch state's, not the repair's. A stop asked of the
// session reaches the scratch state's own flag, which its scan polls.
class CheckSink : public ThrottledSink {
  public:
    CheckSink(JobSink& outer, const std::atomic<bool>& stopAsked, std::atomic<bool>& scanStop)
        : outer_(outer), stopAsked_(stopAsked), scanStop_(scanStop) {}
    void notify(const Notice& notice) override {
        if (notice.kind != Notify::Progress) return;
        outer_.notify(notice);
        // The scan asks for its stop right after a progress report.
        passStop();
    }
    void reportCheck(CheckResult) override {}
    void clearErrorList() override {}

  protected:
    // Asked about once a millisecond while the scan runs.
    bool refreshProgress() override {
        passStop();
        return ThrottledSink::refreshProgress();
    }

  private:
    void passStop() {
        if (stopAsked_.load()) scanStop_ = true;
    }

    JobSink& outer_;
    const std::atomic<bool>& stopAsked_;
    std::atomic<bool>& scanStop_;
};

Failure stopped() {
    return failureOf(FailureKind::Stopped, "");
}

// A job that runs out of memory ends as a failed job does, and says so; the
// writer's temporary file goes as the stack unwinds, so nothing half-written
// stays.
template <typename Result, typename Job>
Result unlessOutOfMemory(Job&& job) {
    try {
        return job();
    } catch (const std::bad_alloc&) {
        Result result;
        result.failure = failureOf(FailureKind::OutOfMemory, "");
        return result;
    }
}

}  // namespace

void mergeRepairs(RepairLog& report, RepairLog update) {
    // The automatic repair gives its accounts in ascending order; any other
    // list is sorted first.
    const auto byIndex = [](const BlockRepair& a, const BlockRepair& b) {
        return a.index < b.index;
    };
    if (!std::is_sorted(update.begin(), update.end(), byIndex)) {
        std::vector<BlockRepair> sorted(update.begin(), update.end());
        std::stable_sort(sorted.begin(), sorted.end(), byIndex);
        update.clear();
        for (const BlockRepair& r : sorted) update.push_back(r);
    }
    // The first run's accounts are the report: a stream broken throughout
    // gives millions, never held twice.
    if (report.empty()) {
        report = std::move(update);
        return;
    }
    RepairLog merged;
    auto old = report.begin();
    for (const BlockRepair& r : update) {
        for (; old != report.end() && (*old).index <= r.index; ++old) {
            if ((*old).index < r.index) merged.push_back(*old);
        }
        merged.push_back(r);
    }
    for (; old != report.end(); ++old) merged.push_back(*old);
    report = std::move(merged);
}

std::vector<size_t> entriesWithRepairs(const BlockTable& table, const RepairLog& repairs) {
    const std::vector<size_t> listed = listedInTable(table);
    std::vector<size_t> reported;
    reported.reserve(repairs.size());
    for (const BlockRepair& r : repairs) reported.push_back(r.index);
    std::vector<size_t> merged;
    merged.reserve(listed.size() + reported.size());
    std::set_union(listed.begin(), listed.end(), reported.begin(), reported.end(),
                   std::back_inserter(merged));
    return merged;
}

RepairSession::RepairSession() : owned_(std::make_unique<AppState>()), state_(*owned_) {}

RepairSession::RepairSession(AppState& shared) : state_(shared) {}

void RepairSession::forgetRepairs() {
    automatic_ = false;
    repairs_.clear();
    counted_ = {};
}

OpenResult RepairSession::open(const OpenParams& params) {
    OpenResult result;
    const OpenCheck open = openAndCheck(state_, params.path);
    result.check = open.result;
    result.failure = open.failure;
    if (!result.opened()) return result;
    // The table is empty again: nothing is found, repaired or written.
    path_ = params.path;
    findings_ = whole_ = false;
    forgetRepairs();
    saved_ = {};
    return result;
}

Position RepairSession::shownPosition(Position offset) const {
    if (state_.rules.load() == StreamRules::Literal) return offset;
    return state_.view.streamToFile(offset);
}

bool RepairSession::canResume() const {
    return !state_.table.empty() && state_.view.cuts().empty();
}

Failure RepairSession::openForScan(const std::string& path) {
    tableInput_ = state_.view.keptInput();
    if (state_.view.openStream(path) == OpenStatus::Failed) return state_.view.failure();
    path_ = path;
    openedForScan_ = true;
    return {};
}

ScanResult RepairSession::scan(const ScanParams& params, JobSink& sink) {
    return unlessOutOfMemory<ScanResult>([&] { return scanJob(params, sink); });
}

ScanResult RepairSession::scanJob(const ScanParams& params, JobSink& sink) {
    ScanResult result;
    StreamView& view = state_.view;
    // After a repair that excised regions the table's offsets count the
    // excised stream, while the scan reads the file as it is: continuing
    // would misplace every later block, so the scan starts afresh.
    const bool resume = params.resume && canResume();
    if (!std::exchange(openedForScan_, false) || path_ != params.path || !view.isOpen()) {
        if ((result.failure = openForScan(params.path))) return result;
        openedForScan_ = false;
    }
    // A scan continues the table of the file it was made of, or none.
    if (resume &&
        !(tableInput_.path == params.path && tableInput_.identity == view.keptInput().identity)) {
        view.closeFile();
        result.failure = failureOf(FailureKind::InputChanged, params.path);
        return result;
    }
    result.walked = true;
    result.rip = view.layout() != nullptr;
    view.resetCache();
    view.clearCuts();
    state_.resumeScan = resume ? 'y' : '0';
    // A fresh scan makes the table anew; a resumed one adds to it.
    if (!resume) {
        forgetRepairs();
        state_.sectorFaults.clear();
        state_.findings.clear();
    }
    findings_ = whole_ = false;
    result.failure = scanStream(state_, sink);
    view.closeFile();
    if (!result.failure && state_.job.stopRequested) result.failure = stopped();
    // What a scan recorded up to a stop describes the file that far.
    findings_ = !result.failure || result.failure.kind == FailureKind::Stopped;
    whole_ = !result.failure;
    result.blocks = state_.table.size();
    result.broken = countListed(state_.table);
    result.sectors = state_.sectorFaults.size();
    return result;
}

ApplyResult RepairSession::apply(const ApplyParams& params, RepairProgress& progress) {
    return unlessOutOfMemory<ApplyResult>([&] { return applyJob(params, progress); });
}

ApplyResult RepairSession::applyJob(const ApplyParams& params, RepairProgress& progress) {
    ApplyResult result;
    // Even a strategy that reads no byte changes a table made of the file.
    if ((result.failure = state_.view.checkInput(path_))) return result;
    const std::vector<size_t> listed =
        params.allListed ? listedInTable(state_.table) : params.listed;
    result.outcome =
        applyStrategy(state_, listed, params.strategy, params.options, path_, progress);
    result.failure = result.outcome.failure;
    if (!result.failure && state_.job.stopRequested) result.failure = stopped();
    // A repaired table is no scan's any more: its index would not fit the file.
    findings_ = false;
    if (params.strategy != Strategy::Automatic) return result;
    automatic_ = true;
    if (params.options.keepReport) {
        mergeRepairs(repairs_, std::move(result.outcome.repairs));
        counted_ = summarize(repairs_);
        return result;
    }
    // Without accounts, a later run is given the blocks the earlier ones
    // left unresolved.
    RepairSummary& c = counted_;
    c.exact += result.outcome.summary.exact;
    c.decodable += result.outcome.summary.decodable;
    c.unresolved = result.outcome.summary.unresolved;
    c.blocks = c.exact + c.decodable + c.unresolved;
    return result;
}

size_t WrittenRepairs::count(WrittenAs how) const {
    return static_cast<size_t>(std::count_if(
        blocks.begin(), blocks.end(), [how](const WrittenBlock& b) { return b.how == how; }));
}

WrittenRepairs RepairSession::accountOfWrites(const std::string& output,
                                              const PositionRuns& located) const {
    WrittenRepairs w{output, automatic_, {}, countListed(state_.table)};
    auto place = located.begin();
    size_t k = 0;
    for (const BlockRepair& r : repairs_) {
        std::optional<Position> at;
        if (k++ < located.size()) at = *place++;
        // The fallback changes only a block still broken whose header has a
        // length field (a system header or a packet); any other is copied as
        // it stands. The plan the repair made for a block wins over it.
        const BlockRecord& e = state_.table[r.index];
        const BlockKind kind = state_.codes.classify(e.code);
        const bool fallback = r.certainty == RepairCertainty::Unresolved && e.isBroken() &&
                              (kind == BlockKind::SystemHeader || kind == BlockKind::Packet);
        std::optional<WrittenAs> how;
        if (r.action == RepairAction::LengthFromFile) {
            how = WrittenAs::LengthRewritten;
        } else if (r.action == RepairAction::Padded) {
            how = WrittenAs::Padded;
        } else if (fallback) {
            how = state_.headerFromRealSize ? WrittenAs::LengthRewritten : WrittenAs::CutOrPadded;
        }
        if (!how) continue;
        w.blocks.push_back({r.index, *how, at});
    }
    return w;
}

WriteResult RepairSession::save(const WriteParams& params, JobSink& sink) {
    return unlessOutOfMemory<WriteResult>([&] { return saveJob(params, sink); });
}

WriteResult RepairSession::saveJob(const WriteParams& params, JobSink& sink) {
    WriteResult result;
    // A table that ends where a scan was stopped would give a stream cut
    // there, which scans clean: the rest of the file must be scanned first.
    if (!whole_) {
        result.failure = failureOf(FailureKind::StoppedScan, path_);
        saved_ = {};
        return result;
    }
    SaveParams save{path_, params.output};
    // Where the automatic repair's blocks stand in the output.
    if (!repairs_.empty()) {
        save.locate = &repairs_;
        save.located = &result.located;
    }
    save.wrapDat = params.wrapDat;
    save.existing = params.existing;
    result.failure = saveRepairedStream(state_, save, sink);
    state_.view.closeFile();
    result.written = accountOfWrites(params.output, result.located);
    // Only a file just written can be verified.
    saved_ = result.failure ? WrittenRepairs{} : result.written;
    return result;
}

VerifyResult RepairSession::verify(const VerifyParams& params, JobSink& sink) {
    return unlessOutOfMemory<VerifyResult>([&] {
        VerifyResult result;
        result.written = saved_;
        const std::string output = params.output.empty() ? saved_.output : params.output;
        if (output.empty()) {
            result.failure = failureOf(FailureKind::NothingSaved, "");
            return result;
        }
        // What the writer did is told of the input the table was made of.
        if ((result.failure = state_.view.checkInput(path_))) return result;
        auto scratch = std::make_unique<AppState>();
        scratch->rules = state_.rules.load();
        // The output is checked as the input was: decoded too when asked.
        scratch->decodeCheck = state_.decodeCheck.load();
        CheckSink check(sink, state_.job.stopRequested, scratch->job.stopRequested);
        result.check = checkWrittenStream(*scratch, output, check);
        result.failure = result.check.failure;
        if (!result.failure && result.check.stopped) result.failure = stopped();
        return result;
    });
}

IndexResult RepairSession::saveIndex() {
    return unlessOutOfMemory<IndexResult>([&] {
        IndexResult result;
        result.indexPath = indexFileName(path_);
        // An index of no scan, or of a table a repair has changed, would not
        // fit the file: written over a good one it would lose that.
        if (path_.empty() || !findings_) {
            result.failure = failureOf(FailureKind::NotScanned, path_);
            return result;
        }
        result.stopped = !whole_;
        if ((result.failure = state_.view.checkInput(path_))) return result;
        result.failure = saveIndexFile(state_.table, result.indexPath, {path_},
                                       state_.view.streamSize(), std::nullopt, result.stopped,
                                       &state_.job.stopRequested, state_.findings.items());
        result.listed = countListed(state_.table);
        return result;
    });
}

IndexResult RepairSession::loadIndex(const IndexParams& params) {
    return unlessOutOfMemory<IndexResult>([&] { return loadIndexJob(params); });
}

IndexResult RepairSession::loadIndexJob(const IndexParams& params) {
    IndexResult result;
    const std::string input = params.input.empty() ? path_ : params.input;
    result.indexPath = indexFileName(input);
    const size_t blocksBefore = state_.table.size();
    result.failure =
        loadIndexFile(result.indexPath, input, state_, {params.takeStopped, &result.stopped});
    if (result.failure) {
        // Nothing said of the old table stands once it is gone.
        result.tableLost = state_.table.size() != blocksBefore;
        if (result.tableLost) {
            findings_ = false;
            forgetRepairs();
        }
        return result;
    }
    path_ = input;
    state_.view.resetCache();
    state_.view.clearCuts();
    findings_ = true;
    whole_ = !result.stopped;
    forgetRepairs();
    result.listed = countListed(state_.table);
    return result;
}

const PieceCheck* PieceCheckResult::unreadable() const {
    for (const PieceCheck& piece : unsound) {
        if (piece.failure) return &piece;
    }
    return nullptr;
}

PieceCheckResult RepairSession::checkPieces(const PieceCheckParams& params, JobSink* progress) {
    return unlessOutOfMemory<PieceCheckResult>([&] {
        PieceCheckResult result;
        result.unsound = mpg::checkPieces(state_.job, params.inputs, params.rules, progress);
        if (state_.job.stopRequested) result.failure = stopped();
        return result;
    });
}

JoinOutcome RepairSession::join(const JoinRequest& request, JobSink& sink) {
    return unlessOutOfMemory<JoinOutcome>([&] {
        JoinOutcome outcome;
        outcome.failure =
            request.glue ? glueFiles(state_.job, request.params, sink)
                         : joinStructured(state_.job, request.params, sink, &outcome.innerEnds);
        return outcome;
    });
}

}  // namespace mpg
