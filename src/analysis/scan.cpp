#include "analysis/scan.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "stream/procedures.h"

namespace mpg {

namespace {

// The longest run of equal bytes stepped over while resynchronising. The
// search starts as if inside a run of zero bytes of length 0, so a run of
// zeros that begins at once is counted from its first byte; of two equally
// long runs the earlier one wins.
struct RunTracker {
    uint8_t byte = 0;
    int64_t length = 0;
    uint64_t start = 0;
    uint8_t maxByte = 0;
    int64_t maxLength = 0;
    uint64_t maxStart = 0;

    void restart(uint64_t at) {
        byte = maxByte = 0;
        length = maxLength = 0;
        start = at;
    }
    // Called at the end of a run, and before the longest run is read: a run
    // still growing counts with the length it has reached.
    void keepLongest() {
        if (length > maxLength) {
            maxByte = byte;
            maxLength = length;
            maxStart = start;
        }
    }
    void take(uint8_t b, uint64_t at) {
        if (b == byte) {
            ++length;
            return;
        }
        keepLongest();
        byte = b;
        length = 1;
        start = at;
    }
};

// The quiet steps of a resynchronisation in one tight loop over the window:
// steps whose byte cannot begin a valid start code and after which no
// progress report is due. Stops before `limit` steps, at the first position
// that may hold a start code, or where fewer than 6 window bytes remain (the
// general step then refills the window). Returns the number of steps taken.
uint32_t quietResync(const uint8_t* bytes, uint32_t limit, uint64_t pos, const StreamCodes& codes,
                     RunTracker& run) {
    uint32_t i = 0;
    for (; i < limit; ++i) {
        const uint8_t b = bytes[i];
        if (b == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
            codes.isValidStartCode(loadBE32(bytes + i))) {
            break;
        }
        run.take(b, pos + i);
    }
    return i;
}

// Where a resumed scan goes on. The last entry of an earlier scan is either
// complete (go on behind it) or a broken block whose search reached the end
// of the stream (realSize 0): that search is taken up again from its start
// rather than recording the block a second time, which would make the writer
// emit it twice.
struct ResumePoint {
    uint64_t pos = 0;
    bool inResync = false;
};

ResumePoint resumePoint(const BlockRecord& last) {
    if (last.broken == kBrokenListed && last.realSize == 0) {
        return {uint64_t{last.offset} + kLengthFieldEnd, true};
    }
    const int32_t size = last.broken == kBrokenListed ? last.realSize : last.declaredSize;
    const int64_t pos = int64_t{last.offset} + size;
    return {pos < 0 ? 0 : static_cast<uint64_t>(pos), false};
}

}  // namespace

void EnumPacks(AppState& state, JobSink& sink) {
    StreamView& view = state.view;
    BlockTable& table = state.table;
    if (!view.isOpen()) return;

    RunTracker run;
    const uint8_t* head = view.view(0, 29);
    if (head == nullptr || loadBE32(head) != kPackStartCode) {
        sink.setTitle(kNoSignatureText);
        return;
    }

    uint64_t pos = 0;
    bool inResync = false;
    if (state.resumeScan == 'y' && !table.empty()) {
        table.resumeAfterLast();
        const ResumePoint resume = resumePoint(table.last());
        pos = resume.pos;
        inResync = resume.inResync;
        run.restart(pos);
    } else {
        sink.clearErrorList();
        table.startFresh();
    }

    static constexpr uint8_t kNoBytes[20] = {};
    const uint32_t size = view.streamSize();
    while (pos < size) {
        if (!state.highPriority.load(std::memory_order_relaxed)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // A failed read is not acted upon: the step goes on with zeros.
        const uint8_t* bytes = view.view(static_cast<uint32_t>(pos), 6);
        if (bytes != nullptr && inResync && sink.quietSteps() > 0 &&
            state.highPriority.load(std::memory_order_relaxed)) {
            const uint64_t inWindow = uint64_t{view.windowStart()} + view.windowLength() - 5 - pos;
            const uint64_t limit =
                std::min<uint64_t>({inWindow, size - pos, uint64_t(sink.quietSteps())});
            const uint32_t steps =
                quietResync(bytes, static_cast<uint32_t>(limit), pos, state.codes, run);
            sink.skipQuietSteps(static_cast<int32_t>(steps));
            pos += steps;
            if (pos >= size) break;
            bytes = view.view(static_cast<uint32_t>(pos), 6);
        }
        if (bytes == nullptr) bytes = kNoBytes;
        const uint32_t code = loadBE32(bytes);

        bool record = true;
        if (inResync) {
            if (bytes[0] == 0 && state.codes.isValidStartCode(code)) {
                BlockRecord& broken = table.last();
                run.keepLongest();
                broken.realSize = static_cast<int32_t>(pos - broken.offset);
                broken.repeatByte = run.maxByte;
                broken.repeatLength = static_cast<uint32_t>(run.maxLength);
                broken.repeatStart = static_cast<uint32_t>(run.maxStart - broken.offset);
                sink.notify(Notify::Resolved, static_cast<int32_t>(table.lastIndex()));
                inResync = false;
            } else {
                run.take(bytes[0], pos);
                ++pos;
                record = false;
            }
        }

        if (record) {
            const BlockKind kind = state.codes.classify(code);
            if (kind == BlockKind::None) {
                // The last entry's declared size led here: it is broken. The
                // search starts right behind its start code and length field,
                // so a block shorter than declared is found as well as a longer one.
                if (table.lastIndex() < 0) break;
                sink.notify(Notify::Broken, static_cast<int32_t>(table.lastIndex()));
                inResync = true;
                BlockRecord& broken = table.last();
                pos = uint64_t{broken.offset} + kLengthFieldEnd;
                broken.broken = kBrokenListed;
                run.restart(pos);
            } else {
                ByteSpan block(bytes, 6);
                if (kind == BlockKind::SystemHeader) {
                    const uint8_t* header = view.view(static_cast<uint32_t>(pos), 20);
                    block = ByteSpan(header ? header : kNoBytes, 20);
                }
                const int64_t index = table.appendBlock();
                BlockRecord& entry = table[static_cast<size_t>(index)];
                entry.code = code;
                entry.offset = static_cast<uint32_t>(pos);
                entry.declaredSize = blockSize(kind, block);
                table.zerpack(index);
                pos += static_cast<uint64_t>(entry.declaredSize);
                if (kind == BlockKind::SystemHeader) takeStreamCodes(state.codes, block);
            }
        }

        if (pos >= size) break;
        if (sink.progressDue()) {
            const uint32_t at = static_cast<uint32_t>(pos);
            state.job.progressText = progressOf(at, size);
            sink.notify(Notify::Progress, static_cast<int32_t>(progressPercent(at, size)));
        }
        if (state.job.stopRequested.load(std::memory_order_relaxed)) break;
    }
    state.scanPos = pos;
    table.trimToLast();
}

OpenStatus scanFileAfresh(AppState& state, const std::string& path, JobSink& sink) {
    const OpenStatus status = state.view.openStream(path);
    if (status != OpenStatus::Opened) return status;
    state.view.clearCuts();
    state.view.resetCache();
    state.resumeScan = '0';
    EnumPacks(state, sink);
    state.view.closeFile();
    return status;
}

}  // namespace mpg
