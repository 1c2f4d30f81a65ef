// The repair workflow, once, under both front ends: a session owns the state
// of one repair (the input's stream view, its block table, the automatic
// repair's accounts, what the writer did beyond copying, the last output
// written) and offers the steps a user takes, in the order a user takes
// them: open, scan, apply a strategy, save, verify, save or load the index,
// join. Each step takes a parameters struct and returns a result struct that
// carries its failure (with the reason) and its counts; the front ends only
// turn those into texts and rows. A step runs on whatever thread calls it,
// the window's job thread or the command line's one; it polls the state's
// stop flag, which another thread may set.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/check_result.h"
#include "analysis/job_sink.h"
#include "join/join.h"
#include "join/precheck.h"
#include "repair/repair_report.h"
#include "repair/strategies.h"
#include "repair/verify.h"
#include "stream/failure.h"

namespace mpg {

struct OpenParams {
    std::string path;
};

struct OpenResult {
    CheckResult check = CheckResult::Ok;
    // Why the file could not be opened or read, when it could not.
    Failure failure;
    // The file could be opened: the table, the cut list and the accounts
    // start anew.
    bool opened() const {
        return check != CheckResult::NoName && check != CheckResult::OpenFailed &&
               check != CheckResult::NotRegular;
    }
};

struct ScanParams {
    std::string path;
    // Continue after the table's last entry (only where canResume()).
    bool resume = false;
};

struct ScanResult {
    Failure failure;      // a failed open or read, a changed input; Stopped after a stop
    bool walked = false;  // the file was opened and the walk began
    bool rip = false;     // the file is a video CD rip: its faulty sectors count
    size_t blocks = 0;
    size_t broken = 0;   // of them listed broken
    size_t sectors = 0;  // faulty sectors of a rip
};

struct ApplyParams {
    Strategy strategy = Strategy::RemoveRunsEqualToDelta;
    RepairOptions options;
    // The table entries to repair, ascending; all those listed broken when
    // none are named.
    std::vector<size_t> listed;
    bool allListed = true;
};

struct ApplyResult {
    Failure failure;  // Stopped when the user stopped the walk
    // The automatic repair's accounts go to repairs(), not here.
    StrategyOutcome outcome;
};

// How the writer wrote a block other than by copying it.
enum class WrittenAs : uint8_t {
    LengthRewritten,  // its length field set to its real size
    Padded,           // padded with zeros
    CutOrPadded,      // the fallback: cut or padded to its declared size
};

struct WrittenBlock {
    size_t index = 0;  // BlockTable entry
    WrittenAs how = WrittenAs::LengthRewritten;
    std::optional<Position> at;  // where it begins in the output, when located
    bool operator==(const WrittenBlock&) const = default;
};

// What the writer did beyond copying, as the reports tell it: a rewritten
// length or a padded block scans clean whatever its payload holds, and so
// does a block the fallback wrote, so a verification names them apart.
struct WrittenRepairs {
    std::string output;
    bool automatic = false;  // an automatic repair reported on the table
    // The automatic repair's blocks the writer did not copy as they stand,
    // in the report's order.
    Runs<WrittenBlock, IndexedSteps<WrittenBlock, &WrittenBlock::at>> blocks;
    size_t unresolved = 0;  // still listed broken: the fallback wrote them

    size_t count(WrittenAs how) const;
};

struct WriteParams {
    std::string output;
    bool wrapDat = false;  // write a video CD rip's repaired stream as a rip again
    // A file at the output's name is replaced only when the user said so.
    Existing existing = Existing::Keep;
};

struct WriteResult {
    Failure failure;
    WrittenRepairs written;
    // The output positions of the automatic repair's blocks, in the order
    // of repairs(), as far as the writer reached.
    PositionRuns located;
};

struct VerifyParams {
    // The file to check; the last one saved when empty.
    std::string output;
};

struct VerifyResult {
    Failure failure;  // the output could not be read, none was saved, or Stopped
    OutputCheck check;
    WrittenRepairs written;  // what the scan of it cannot judge
};

struct IndexParams {
    // The input the index describes; the session's input when empty.
    std::string input;
    // The index of a stopped scan is taken, to be continued; refused
    // (StoppedScan) otherwise.
    bool takeStopped = false;
};

struct IndexResult {
    Failure failure;
    std::string indexPath;
    size_t listed = 0;  // the broken blocks of a loaded index
    // The index loaded, or refused, is a stopped scan's: the table does not
    // reach the end of the file.
    bool stopped = false;
    // A load that failed after the table was given up (the index changed
    // between its check and its reading): the table is empty.
    bool tableLost = false;
};

struct JoinRequest {
    JoinParams params;
    bool glue = false;  // bytes as they are, no structure
};

struct JoinOutcome {
    Failure failure;  // none when the join is done; Stopped with the bytes kept
    // The end codes a structured join met inside its pieces and went on behind.
    std::vector<InnerEndCode> innerEnds;
};

struct PieceCheckParams {
    std::vector<std::string> inputs;
    StreamRules rules = StreamRules::Sound;
};

struct PieceCheckResult {
    Failure failure;  // Stopped when the user stopped the check
    // The pieces with broken blocks or a failure, in order; those not yet
    // checked at a stop are not among them.
    std::vector<PieceCheck> unsound;

    // The first piece that could not be read, which fails any join; none
    // when every piece listed was read.
    const PieceCheck* unreadable() const;
};

class RepairSession {
  public:
    // With a state of its own, or on one the front end shares with its
    // other parts (the window's settings and its join).
    RepairSession();
    explicit RepairSession(AppState& shared);
    RepairSession(const RepairSession&) = delete;
    RepairSession& operator=(const RepairSession&) = delete;

    AppState& state() { return state_; }
    const AppState& state() const { return state_; }
    // The input the session opened or scanned last.
    const std::string& path() const { return path_; }

    // The open check. A file that can be opened starts a new repair: the
    // table, the cut list, the accounts and the last output are forgotten.
    OpenResult open(const OpenParams& params);
    // Whether a scan may continue the table: it holds entries and no repair
    // has cut regions out of the stream since.
    bool canResume() const;
    // Opens the file a scan is to read; its failure is the scan's whole
    // result. A front end that opens it first refuses a file that cannot be
    // read at once, before it starts the job; scan() opens it otherwise.
    Failure openForScan(const std::string& path);
    ScanResult scan(const ScanParams& params, JobSink& sink);
    // One press of the hammer. The automatic repair's accounts of the blocks
    // it was given replace their earlier ones in repairs().
    ApplyResult apply(const ApplyParams& params, RepairProgress& progress);
    WriteResult save(const WriteParams& params, JobSink& sink);
    // A scan of the output just written, into a state of its own: the
    // repair's table stays as it is, for another save.
    VerifyResult verify(const VerifyParams& params, JobSink& sink);
    // The table as an index beside the input; refused (NotScanned) unless a
    // scan or an index load made the table and no repair changed it since.
    // The index of a stopped scan says so.
    IndexResult saveIndex();
    IndexResult loadIndex(const IndexParams& params = {});
    // The scan of every piece before a structured join, each into a scratch
    // state of its own: the session's table stays as it is. With a
    // `progress` sink it reports its PieceCheck notices there.
    PieceCheckResult checkPieces(const PieceCheckParams& params, JobSink* progress = nullptr);
    JoinOutcome join(const JoinRequest& request, JobSink& sink);

    // Where the block at table offset `offset` stands as a user reads it: in
    // the input file, before the cuts a repair made. Under the literal rules
    // the design's lowered offsets (the stream after the cuts) stay.
    Position shownPosition(Position offset) const;

    // Whether the table is one that saveIndex() writes.
    bool hasFindings() const { return findings_; }
    // Whether the table reaches the end of the file: its scan was not
    // stopped, nor was the one whose index was loaded. Only such a table is
    // saved as the repaired stream; another one is continued first.
    bool scannedWhole() const { return whole_; }
    // Whether an automatic repair ran on the table, and its accounts of the
    // blocks it was given, ascending by index (kept only when its options
    // asked for them), and its counts.
    bool automatic() const { return automatic_; }
    const RepairLog& repairs() const { return repairs_; }
    const RepairSummary& counted() const { return counted_; }
    // The last output saved and what the writer did to it; an empty name
    // when none was saved since the input was opened.
    const WrittenRepairs& lastSaved() const { return saved_; }

  private:
    ScanResult scanJob(const ScanParams& params, JobSink& sink);
    ApplyResult applyJob(const ApplyParams& params, RepairProgress& progress);
    WriteResult saveJob(const WriteParams& params, JobSink& sink);
    IndexResult loadIndexJob(const IndexParams& params);
    // The table is made anew: what was said of the old one goes.
    void forgetRepairs();
    WrittenRepairs accountOfWrites(const std::string& output, const PositionRuns& located) const;

    std::unique_ptr<AppState> owned_;
    AppState& state_;
    std::string path_;
    // openForScan() opened the file the next scan reads.
    bool openedForScan_ = false;
    // The input as it was before that open: a resumed scan must find it.
    KeptInput tableInput_;
    bool findings_ = false;
    bool whole_ = false;
    bool automatic_ = false;
    RepairLog repairs_;
    RepairSummary counted_;
    WrittenRepairs saved_;
};

// `update` merged into `report`, both in ascending index order: an entry of
// the update replaces the report's for the same block.
void mergeRepairs(RepairLog& report, RepairLog update);

// The table entries an automatic repair's list shows: those it reported on,
// whether made sound or not, and those still listed broken.
std::vector<size_t> entriesWithRepairs(const BlockTable& table, const RepairLog& repairs);

}  // namespace mpg
