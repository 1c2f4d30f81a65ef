#include "repair/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
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

}  // namespace

bool saveRepairedStream(AppState& state, const SaveParams& params, JobSink& sink) {
    Failure& failure = state.job.failure;
    failure = {};
    std::optional<CdxaWrapStage> wrap;
    OutputFile out;
    // The output's own failure (a write, the rename) is the first reason;
    // otherwise the input's. The unfinished output is removed.
    const auto failed = [&](FailureKind kind, int systemError = 0) {
        failure = out.failure() ? out.failure() : failureOf(kind, params.inputPath, systemError);
        out.discard();
        return false;
    };
    if (!out.create(params.outputPath, {params.inputPath})) return failed(FailureKind::WriteFailed);
    StreamView& view = state.view;
    if (!view.openFile(params.inputPath)) return failed(FailureKind::OpenFailed, errno);
    if (params.wrapDat) {
        if (view.layout() == nullptr) return failed(FailureKind::NotADat);
        wrap.emplace(*view.layout(), view.fileHandle(), params.inputPath, view.rawSize());
        out.setStage(&*wrap);
    }
    // The window may hold bytes read before the last repair changed the cuts.
    view.invalidateWindow();
    // The table describes the file as the scan found it: a file of another
    // size now would be written with invented zeros or cut short.
    if (view.fileLength() != view.streamSize()) {
        failure = failureOf(FailureKind::InputChanged, params.inputPath);
        out.discard();
        return false;
    }
    // A change while the save runs is looked for at each progress step and
    // at the end: the kernel copies of whole spans bypass the view's own
    // check on every window it reads.
    const auto changed = [&] {
        failure = view.verifyUnchanged();
        if (failure) out.discard();
        return static_cast<bool>(failure);
    };
    const uint64_t streamEnd = streamLength(view, view.fileLength());

    BlockTable& table = state.table;
    const size_t blocks = table.size();
    // Where the blocks the caller asks for begin in the output.
    std::vector<Position>* located = params.located;
    if (located != nullptr) located->clear();
    const size_t* locate = params.locate != nullptr ? params.locate->data() : nullptr;
    const size_t* locateEnd = locate != nullptr ? locate + params.locate->size() : nullptr;
    // A table from a scan of this input copies each stream byte at most once
    // (plus a last block cut short by the end of the file), and pads blocks
    // that lost bytes by no more than the stream could have lost. A table
    // beyond that does not belong to the input and would only write filler.
    const uint64_t limit = streamEnd + kLargestBlock;
    uint64_t copied = 0, padded = 0;
    PlainSpan span;
    // The automatic repair's plans, met in index order.
    const std::vector<WritePlan>& plans = table.plannedWrites();
    auto plan = plans.begin();
    for (size_t n = 0; n < blocks; ++n) {
        const BlockRecord& e = table[n];
        while (plan != plans.end() && plan->index < n) ++plan;
        // A plan holds for a block the repair left broken (accepted), and
        // says how it is written whatever the fallback for broken blocks.
        const bool hasPlan = plan != plans.end() && plan->index == n && e.isBroken();
        const PlannedWrite* planned = hasPlan ? &plan->how : nullptr;
        if (located != nullptr && locate != locateEnd && *locate == n) {
            located->push_back(out.written() + span.pending());
            ++locate;
        }
        if (planned != nullptr && *planned == PlannedWrite::Drop) {
            if (!span.flush(view, out, params.inputPath)) return failed(FailureKind::ReadFailed);
            continue;
        }
        // A broken block shorter than its own header has no known extent (its
        // search ran into the end of the stream): it is kept as it stands.
        const bool broken = e.isBroken() && e.realSize >= kLengthFieldEnd;
        const int64_t size = broken ? e.realSize : e.declaredSize;
        if (size < 0 || e.offset + static_cast<uint64_t>(size) > limit) {
            return failed(FailureKind::BadIndex);
        }
        copied += static_cast<uint64_t>(size);
        if (copied > limit) return failed(FailureKind::BadIndex);
        // Only a header with a length field can take a new length; padding
        // back to the declared size suits any block.
        const bool padPlanned = planned != nullptr && *planned == PlannedWrite::PadToDeclared;
        const bool plain = !broken || (!isRewritable(e.code, state.codes) && !padPlanned);
        bool ok = true;
        if (plain && span.extend(e.offset, static_cast<uint64_t>(size))) {
            // Written with the span.
        } else if (!span.flush(view, out, params.inputPath)) {
            return failed(FailureKind::ReadFailed);
        } else if (plain) {
            span.extend(e.offset, static_cast<uint64_t>(size));
        } else if (planned != nullptr ? *planned == PlannedWrite::LengthFromReal
                                      : state.headerFromRealSize.load(std::memory_order_relaxed)) {
            const uint16_t length = static_cast<uint16_t>(e.realSize - kLengthFieldEnd);
            ok = copyStream(view, e.offset, static_cast<uint64_t>(size), out, &length);
        } else {
            // Cut to the declared size, or padded to it with zeros (or to
            // the planned size).
            if (e.declaredSize < 0) return failed(FailureKind::BadIndex);
            const uint64_t declared =
                padPlanned && plan->total > static_cast<uint32_t>(e.declaredSize)
                    ? plan->total
                    : static_cast<uint64_t>(e.declaredSize);
            const uint64_t kept = std::min<uint64_t>(declared, static_cast<uint64_t>(size));
            padded += declared - kept;
            if (padded > limit) return failed(FailureKind::BadIndex);
            ok = copyStream(view, e.offset, kept, out, nullptr) && out.appendZeros(declared - kept);
        }
        if (!ok) return failed(FailureKind::ReadFailed);

        if (sink.progressDue()) {
            if (changed()) return false;
            sink.notify({Notify::Progress,
                         static_cast<int32_t>(progressPercent(n + 1, blocks)),
                         n + 1,
                         blocks,
                         {}});
        }
        if (state.job.stopRequested.load(std::memory_order_relaxed)) {
            // The blocks written so far stay, under the output's name.
            if (!span.flush(view, out, params.inputPath) || !out.finish()) {
                return failed(FailureKind::ReadFailed);
            }
            failure = failureOf(FailureKind::Stopped, params.outputPath, 0, out.written());
            return false;
        }
    }
    // One end code closes the stream. The strict walk appends it even behind
    // the stream's own, as it always did; the sound rules leave a stream
    // that ends with a sound end code as it is, so that a clean stream
    // comes back byte for byte. The fill of a last sector behind the end
    // code does not reopen it.
    size_t last = blocks;
    while (last > 0 && table[last - 1].code == kFillCode && !table[last - 1].isBroken()) --last;
    const bool endsClosed =
        last > 0 && table[last - 1].code == kEndCode && !table[last - 1].isBroken();
    const bool closeIt = state.codes.rules() == StreamRules::Literal || !endsClosed;
    if (!span.flush(view, out, params.inputPath) ||
        (closeIt && !out.append(kEndCodeBytes.data(), kEndCodeBytes.size()))) {
        return failed(FailureKind::ReadFailed);
    }
    if (changed()) return false;
    if (!out.finish()) return failed(FailureKind::ReadFailed);
    return true;
}

}  // namespace mpg
