#include "repair/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/scan_control.h"
#include "stream/cdxa_wrap.h"
#include "stream/file_io.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

bool isRewritable(uint32_t code, const StreamCodes& codes) {
    const BlockKind kind = codes.classify(code);
    return kind == BlockKind::SystemHeader || kind == BlockKind::Packet;
}

// Appends `count` stream bytes from `pos`. With `fixLength`, bytes 4 and 5
// are written as that 16-bit value instead of the bytes read.
bool copyStream(StreamView& view, Position pos, Position count, OutputFile& out,
                const uint16_t* fixLength) {
    return view.readPieces(pos, count, [&](const uint8_t* bytes, uint32_t piece, Position done) {
        if (done > 0 || fixLength == nullptr || piece < 6) return out.append(bytes, piece);
        const uint8_t field[2] = {static_cast<uint8_t>(*fixLength >> 8),
                                  static_cast<uint8_t>(*fixLength)};
        return out.append(bytes, 4) && out.append(field, 2) && out.append(bytes + 6, piece - 6);
    });
}

// Blocks written as they stand and lying back to back in the stream are
// copied as one span, file piece by file piece between the cut regions, by
// the kernel: a clean stream then costs about what a plain copy costs. A span
// is at most kSpan bytes, so that a stop request is still noticed soon.
class PlainSpan {
  public:
    static constexpr Position kSpan = Position{64} << 20;

    // Takes the block into the span, or says it does not fit there.
    bool extend(Position offset, Position size) {
        if (length_ == 0) start_ = offset;  // an empty span takes a block of any size
        if (start_ + length_ != offset || (length_ > 0 && length_ + size > kSpan)) return false;
        length_ += size;
        return true;
    }
    bool flush(StreamView& view, OutputFile& out, const std::string& inputPath) {
        Position f = view.streamToFile(start_), left = length_;
        length_ = 0;
        // A video CD rip's stream bytes are no span of the file: they come
        // through the view's sector layout, read in large pieces.
        if (view.layout() != nullptr) {
            return left == 0 || copyStream(view, start_, left, out, nullptr);
        }
        const CutList& cuts = view.cuts();
        auto next = std::upper_bound(cuts.begin(), cuts.end(), f,
                                     [](Position v, const CutRegion& r) { return v < r.start; });
        while (left > 0) {
            const Position piece = next == cuts.end() ? left : std::min(left, next->start - f);
            const int64_t got = out.copyFrom(view.fileHandle(), f, piece, inputPath);
            // Bytes past the end of the input (a last block cut short) are zeros.
            if (got < 0 ||
                !out.appendZeros(static_cast<size_t>(piece - static_cast<Position>(got)))) {
                return false;
            }
            left -= piece;
            if (next != cuts.end()) f = (next++)->end();
        }
        return true;
    }

    // The bytes taken and not yet written.
    Position pending() const { return length_; }

  private:
    Position start_ = 0, length_ = 0;
};

// The number of stream bytes the input holds once the cuts are left out.
uint64_t streamLength(const StreamView& view, uint64_t fileSize) {
    uint64_t cut = 0;
    for (const CutRegion& r : view.cuts()) {
        if (r.start >= fileSize) break;
        cut += std::min<uint64_t>(r.end(), fileSize) - r.start;
    }
    return fileSize - cut;
}

// One save: the output, the input seen through the cut list, and the walk
// over the table's blocks in order. A table from a scan of this input copies
// each stream byte at most once (plus a last block cut short by the end of
// the file), and pads blocks that lost bytes by no more than the stream
// could have lost: a table beyond that does not belong to the input and
// would only write filler. Each step returns false once the failure is set.
class SaveWalk {
  public:
    SaveWalk(AppState& state, const SaveParams& params, JobSink& sink)
        : state_(state), params_(params), sink_(sink), view_(state.view) {}

    bool start();
    bool writeBlock(size_t n);
    // Progress, a change of the input, a stop: after each block.
    bool reportAndPoll(size_t n);
    bool finish();
    const Failure& failure() const { return failure_; }

  private:
    // The output's own failure (a write, the rename, a read it made of the
    // input) is the first reason; then a failed read of the view, which
    // names its position and the system's reason, or a change of the input
    // it noticed; otherwise the input's.
    // The unfinished output is removed.
    bool failed(FailureKind kind, int systemError = 0) {
        if (out_.failure().kind == FailureKind::Stopped) {  // a write the stop interrupted
            failure_ = out_.keepStopped();
            return false;
        }
        const Failure& read = view_.failure();
        failure_ = out_.failure() ? out_.failure()
                   : kind == FailureKind::ReadFailed && read
                       ? read
                       : failureOf(kind, params_.inputPath, systemError);
        out_.discard();
        return false;
    }
    // A change while the save runs is looked for at each progress step and
    // at the end, where the edges are read again too: the kernel copies of
    // whole spans bypass the view's own check on every window it reads.
    bool changed(bool atEnd = false) {
        failure_ = atEnd ? view_.verifyIdentity() : view_.verifyUnchanged();
        if (failure_) out_.discard();
        return static_cast<bool>(failure_);
    }
    // The automatic repair's plan for a block it left broken (accepted): how
    // it is written whatever the fallback for broken blocks.
    const WritePlan* planFor(size_t n, const BlockRecord& e);
    void locate(size_t n);
    // A broken block of a code with a length field: its length rewritten,
    // or cut or padded to its declared (or planned) size.
    bool writeFixed(const BlockRecord& e, uint64_t size, const WritePlan* plan, bool padPlanned);
    bool flush() { return span_.flush(view_, out_, params_.inputPath); }

    AppState& state_;
    const SaveParams& params_;
    JobSink& sink_;
    StreamView& view_;
    Failure failure_;
    OutputFile out_;
    std::optional<CdxaWrapStage> wrap_;
    PlainSpan span_;
    uint64_t limit_ = 0, copied_ = 0, padded_ = 0;
    bool dropped_ = false;
    std::vector<WritePlan>::const_iterator plan_;
    // Where the blocks the caller asks for begin in the output.
    RepairLog::const_iterator locate_;
    // The index of the block at locate_, or none left.
    std::optional<size_t> next_;
};

bool SaveWalk::start() {
    std::atomic<bool>& stop = state_.job.stopRequested;
    if (stop.load(std::memory_order_relaxed)) {
        failure_ = failureOf(FailureKind::Stopped, "");
        return false;
    }
    if (out_.create(params_.outputPath, {params_.inputPath}, params_.existing, &stop))
        return failed(FailureKind::WriteFailed);
    // The view refuses a file that is no longer the one the table was made of.
    if (!view_.openFile(params_.inputPath)) {
        failure_ = view_.failure();
        out_.discard();
        return false;
    }
    if (params_.wrapDat) {
        if (view_.layout() == nullptr) return failed(FailureKind::NotADat);
        // The header's sizes are known only once the sectors are written:
        // an output that cannot go back to them is refused before the first.
        if (!out_.seekable()) {
            failure_ = failureOf(FailureKind::NotSeekable, params_.outputPath);
            out_.discard();
            return false;
        }
        wrap_.emplace(*view_.layout(), view_.fileHandle(), params_.inputPath, view_.rawSize());
        out_.setStage(&*wrap_);
    }
    // The window may hold bytes read before the last repair changed the cuts.
    view_.invalidateWindow();
    // The table describes the file as the scan found it: a file of another
    // size now would be written with invented zeros or cut short.
    if (view_.fileLength() != view_.streamSize()) {
        failure_ = failureOf(FailureKind::InputChanged, params_.inputPath);
        out_.discard();
        return false;
    }
    limit_ = streamLength(view_, view_.fileLength()) + kLargestBlock;
    if (params_.located != nullptr) params_.located->clear();
    if (params_.locate != nullptr) {
        locate_ = params_.locate->begin();
        if (!params_.locate->empty()) next_ = (*locate_).index;
    }
    plan_ = state_.table.plannedWrites().begin();
    return true;
}

const WritePlan* SaveWalk::planFor(size_t n, const BlockRecord& e) {
    const std::vector<WritePlan>& plans = state_.table.plannedWrites();
    while (plan_ != plans.end() && plan_->index < n) ++plan_;
    return plan_ != plans.end() && plan_->index == n && e.isBroken() ? &*plan_ : nullptr;
}

void SaveWalk::locate(size_t n) {
    if (params_.located == nullptr || next_ != n) return;
    params_.located->push_back(out_.written() + span_.pending());
    next_.reset();
    if (++locate_ != params_.locate->end()) next_ = (*locate_).index;
}

bool SaveWalk::writeBlock(size_t n) {
    const BlockRecord& e = state_.table[n];
    const WritePlan* plan = planFor(n, e);
    locate(n);
    if (plan != nullptr && plan->how == PlannedWrite::Drop) {
        // A block left out reports no progress and is no place to stop.
        dropped_ = true;
        return flush() || failed(FailureKind::ReadFailed);
    }
    // A broken block shorter than its own header has no known extent (its
    // search ran into the end of the stream): it is kept as it stands.
    const bool broken = e.isBroken() && e.realSize >= kLengthFieldEnd;
    const int64_t size = broken ? e.realSize : e.declaredSize;
    if (size < 0 || e.offset + static_cast<uint64_t>(size) > limit_) {
        return failed(FailureKind::BadIndex);
    }
    copied_ += static_cast<uint64_t>(size);
    if (copied_ > limit_) return failed(FailureKind::BadIndex);
    // Only a header with a length field can take a new length; padding
    // back to the declared size suits any block.
    const bool padPlanned = plan != nullptr && plan->how == PlannedWrite::PadToDeclared;
    const bool plain = !broken || (!isRewritable(e.code, state_.codes) && !padPlanned);
    if (plain && span_.extend(e.offset, static_cast<uint64_t>(size))) return true;
    if (!flush()) return failed(FailureKind::ReadFailed);
    if (plain) {
        span_.extend(e.offset, static_cast<uint64_t>(size));
        return true;
    }
    return writeFixed(e, static_cast<uint64_t>(size), plan, padPlanned);
}

bool SaveWalk::writeFixed(const BlockRecord& e, uint64_t size, const WritePlan* plan,
                          bool padPlanned) {
    bool ok = true;
    if (plan != nullptr ? plan->how == PlannedWrite::LengthFromReal
                        : state_.headerFromRealSize.load(std::memory_order_relaxed)) {
        const uint16_t length = static_cast<uint16_t>(e.realSize - kLengthFieldEnd);
        ok = copyStream(view_, e.offset, size, out_, &length);
    } else {
        // Cut to the declared size, or padded to it with zeros (or to the
        // planned size).
        if (e.declaredSize < 0) return failed(FailureKind::BadIndex);
        const uint64_t declared = padPlanned && plan->total > static_cast<uint32_t>(e.declaredSize)
                                      ? plan->total
                                      : static_cast<uint64_t>(e.declaredSize);
        const uint64_t kept = std::min<uint64_t>(declared, size);
        padded_ += declared - kept;
        if (padded_ > limit_) return failed(FailureKind::BadIndex);
        ok = copyStream(view_, e.offset, kept, out_, nullptr) && out_.appendZeros(declared - kept);
    }
    return ok || failed(FailureKind::ReadFailed);
}

bool SaveWalk::reportAndPoll(size_t n) {
    if (std::exchange(dropped_, false)) return true;
    const size_t blocks = state_.table.size();
    if (sink_.progressDue()) {
        if (changed()) return false;
        sink_.notify({Notify::Progress,
                      static_cast<int32_t>(progressPercent(n + 1, blocks)),
                      n + 1,
                      blocks,
                      {}});
    }
    if (!state_.job.stopRequested.load(std::memory_order_relaxed)) return true;
    // The blocks written so far stay.
    if (!flush()) return failed(FailureKind::ReadFailed);
    failure_ = out_.keepStopped();
    return false;
}

bool SaveWalk::finish() {
    // One end code closes the stream. The strict walk appends it even behind
    // the stream's own, as it always did; the sound rules leave a stream
    // that ends with a sound end code as it is, so that a clean stream
    // comes back byte for byte. The fill of a last sector behind the end
    // code does not reopen it.
    const BlockTable& table = state_.table;
    size_t last = table.size();
    while (last > 0 && table[last - 1].code == kFillCode && !table[last - 1].isBroken()) --last;
    const bool endsClosed =
        last > 0 && table[last - 1].code == kEndCode && !table[last - 1].isBroken();
    const bool closeIt = state_.codes.rules() == StreamRules::Literal || !endsClosed;
    if (!flush() || (closeIt && !out_.append(kEndCodeBytes.data(), kEndCodeBytes.size()))) {
        return failed(FailureKind::ReadFailed);
    }
    if (changed(true)) return false;
    return !out_.finish() || failed(FailureKind::ReadFailed);
}

}  // namespace

Failure saveRepairedStream(AppState& state, const SaveParams& params, JobSink& sink) {
    SaveWalk walk(state, params, sink);
    if (!walk.start()) return walk.failure();
    for (size_t n = 0; n < state.table.size(); ++n) {
        if (!walk.writeBlock(n) || !walk.reportAndPoll(n)) return walk.failure();
    }
    walk.finish();
    return walk.failure();
}

}  // namespace mpg
