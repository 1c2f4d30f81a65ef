#include "repair/index_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "stream/file_io.h"
#include "stream/procedures.h"
#include "stream/stream_view.h"

namespace mpg {

namespace {

// Whole records per read or write: about kIoBuffer bytes. A table of a
// million blocks is never held twice in encoded form.
constexpr size_t kRecordsPerChunk = kIoBuffer / kBlockRecordSize;

// A record whose offset the format cannot hold is a failed write (EFBIG):
// a cut-short or wrapped offset would describe another block.
Failure writeRecords(OutputFile& out, const BlockTable& table, const std::string& path) {
    std::vector<uint8_t> buffer(std::min(table.size(), kRecordsPerChunk) * kBlockRecordSize);
    for (size_t first = 0; first < table.size(); first += kRecordsPerChunk) {
        const size_t n = std::min(kRecordsPerChunk, table.size() - first);
        for (size_t i = 0; i < n; ++i) {
            if (!encodeBlockRecord(table[first + i], buffer.data() + i * kBlockRecordSize)) {
                return failureOf(FailureKind::WriteFailed, path, EFBIG);
            }
        }
        if (!out.append(buffer.data(), n * kBlockRecordSize)) return out.failure();
    }
    return {};
}

// Empty for anything but a regular file: directories, pipes and devices.
std::optional<uint64_t> regularFileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

// Checks the records one by one, in table order, against the input they
// claim to describe, as the scan would have recorded them.
class RecordCheck {
  public:
    RecordCheck(StreamView& input, StreamRules rules)
        : input_(input), size_(input.streamSize()), codes_(rules) {}

    bool fits(const BlockRecord& r) {
        // A broken block whose search ran to the end (real size 0, as scans
        // once recorded it) has no known end: nothing can follow it.
        if (ended_ || r.offset != next_ || r.offset >= size_) return false;
        if (r.code == kFillCode) return fillFits(r);
        const BlockKind kind = codes_.classify(r.code);
        if (kind == BlockKind::None) return false;
        const uint8_t* head = input_.view(r.offset, kHeadBytes);
        if (head == nullptr) {
            readFailed_ = true;
            return false;
        }
        if (loadBE32(head) != r.code || r.declaredSize != codes_.sizeOf(kind, {head, kHeadBytes})) {
            return false;
        }
        if (kind == BlockKind::SystemHeader) takeStreamCodes(codes_, {head, kHeadBytes});
        if (kind == BlockKind::Pack) codes_.takePackHeader({head, kHeadBytes});
        Position extent = static_cast<Position>(r.declaredSize);
        if (r.broken == kSound) {
            if (r.realSize != 0 || r.repeatByte != 0 || r.repeatLength != 0 || r.repeatStart != 0)
                return false;
        } else if (r.broken == kBrokenListed || r.broken == kBrokenAccepted) {
            if (r.realSize < 0 || !declaredEndIsNoBlock(r)) return false;
            extent = static_cast<Position>(r.realSize);
            ended_ = r.realSize == 0;
            if (r.repeatLength > 0 && !runStandsThere(r)) return false;
        } else {
            return false;
        }
        lastBroken_ = r.isBroken();
        next_ = r.offset + extent;
        return next_ <= size_;
    }
    // After the last record: a broken one's search ended where a search
    // ends, at the end of the file or at a valid start code. The block found
    // at that start code is missing when the scan was stopped inside that
    // block's own search: the window drops its unfinished entry.
    bool complete() {
        if (!lastBroken_ || ended_ || next_ == size_) return true;
        const uint8_t* there = input_.view(next_, 4);
        if (there == nullptr) readFailed_ = true;
        return there != nullptr && codes_.isValidStartCode(loadBE32(there));
    }
    bool readFailed() const { return readFailed_; }
    const StreamCodes& codes() const { return codes_; }

  private:
    // The bytes the scan reads of a system header (fewer of any other block).
    static constexpr uint32_t kHeadBytes = kSystemHeaderReadSize;

    // A block is broken because no block begins where its header says it
    // ends: its real size differs, and the file there holds no start code.
    bool declaredEndIsNoBlock(const BlockRecord& r) {
        if (r.realSize == r.declaredSize) return false;
        const Position end = r.offset + static_cast<Position>(r.declaredSize);
        if (end >= size_) return true;
        const uint8_t* there = input_.view(end, 4);
        if (there == nullptr) readFailed_ = true;
        return there != nullptr && !codes_.isValidStartCode(loadBE32(there));
    }

    // The longest run lies behind the start code and length field, inside
    // the block, and is made of its byte: the index of another file with
    // blocks of the same sizes still differs there.
    bool runStandsThere(const BlockRecord& r) {
        if (r.repeatStart < kLengthFieldEnd ||
            uint64_t{r.repeatStart} + r.repeatLength > static_cast<uint64_t>(r.realSize)) {
            return false;
        }
        bool same = true;
        const bool read =
            input_.readPieces(r.offset + r.repeatStart, r.repeatLength,
                              [&](const uint8_t* bytes, uint32_t piece, uint64_t) {
                                  same = endOfRun(bytes, 0, piece, r.repeatByte) == piece;
                                  return same;
                              });
        if (!read && same) readFailed_ = true;
        return read && same;
    }

    // Sector fill, which only the sound rules know: zero bytes behind a
    // block, up to a pack header, an end code or the end of the file.
    bool fillFits(const BlockRecord& r) {
        if (codes_.rules() != StreamRules::Sound || r.offset == 0 || r.declaredSize <= 0 ||
            r.broken != kSound || r.realSize != 0 || r.repeatByte != 0 || r.repeatLength != 0 ||
            r.repeatStart != 0) {
            return false;
        }
        const Position end = r.offset + static_cast<Position>(r.declaredSize);
        if (end > size_) return false;
        bool zeros = true;
        const bool read = input_.readPieces(r.offset, static_cast<Position>(r.declaredSize),
                                            [&](const uint8_t* bytes, uint32_t piece, uint64_t) {
                                                zeros = endOfRun(bytes, 0, piece, 0) == piece;
                                                return zeros;
                                            });
        if (!read && zeros) readFailed_ = true;
        if (!read || !zeros) return false;
        if (end < size_) {
            const uint8_t* there = input_.view(end, 4);
            if (there == nullptr) readFailed_ = true;
            if (there == nullptr ||
                (loadBE32(there) != kPackStartCode && loadBE32(there) != kEndCode)) {
                return false;
            }
        }
        lastBroken_ = false;
        next_ = end;
        return true;
    }

    StreamView& input_;
    Position size_;
    Position next_ = 0;
    bool ended_ = false;
    bool lastBroken_ = false;
    bool readFailed_ = false;
    StreamCodes codes_;
};

// The file's size was checked: exactly `count` records, each checked as it
// is decoded into its place in `table`.
IndexLoad readRecords(int fd, size_t count, RecordCheck& check, BlockTable& table) {
    table.allocate(count);
    std::vector<uint8_t> buffer(std::min(count, kRecordsPerChunk) * kBlockRecordSize);
    for (size_t first = 0; first < count; first += kRecordsPerChunk) {
        const size_t n = std::min(kRecordsPerChunk, count - first);
        const size_t bytes = n * kBlockRecordSize;
        if (readFully(fd, buffer.data(), bytes) != static_cast<int64_t>(bytes)) {
            return IndexLoad::Unreadable;
        }
        for (size_t i = 0; i < n; ++i) {
            BlockRecord& r = table[first + i];
            r = decodeBlockRecord(buffer.data() + i * kBlockRecordSize);
            if (!check.fits(r))
                return check.readFailed() ? IndexLoad::InputFailed : IndexLoad::Damaged;
        }
    }
    if (check.complete()) return IndexLoad::Loaded;
    return check.readFailed() ? IndexLoad::InputFailed : IndexLoad::Damaged;
}

IndexLoad loadChecked(int fd, const std::string& inputPath, AppState& state, Failure& why) {
    const std::optional<uint64_t> size = regularFileSize(fd);
    if (!size) return IndexLoad::Unreadable;
    if (*size == 0 || *size % kBlockRecordSize != 0) return IndexLoad::Damaged;
    // The input is read through a view of its own: the state's view, its cut
    // list and its window stay as they are when the file is refused.
    StreamView input;
    switch (input.openStream(inputPath)) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::TooLarge:
            why = failureOf(FailureKind::OpenFailed, inputPath, EFBIG);
            return IndexLoad::InputFailed;
        case OpenStatus::Failed:
            why = input.failure();
            return IndexLoad::InputFailed;
    }
    BlockTable loaded;
    RecordCheck check(input, state.rules.load());
    IndexLoad result =
        readRecords(fd, static_cast<size_t>(*size / kBlockRecordSize), check, loaded);
    if (result == IndexLoad::InputFailed) why = input.failure();
    if (result == IndexLoad::Loaded && (why = input.verifyUnchanged())) {
        result = IndexLoad::InputFailed;
    }
    if (result != IndexLoad::Loaded) return result;
    state.table = std::move(loaded);
    state.codes = check.codes();
    return result;
}

}  // namespace

Failure saveIndexFile(const BlockTable& table, const std::string& path,
                      const std::vector<std::string>& inputs) {
    OutputFile out;
    if (!out.create(path, inputs)) return out.failure();
    // The unfinished output is removed when `out` goes.
    if (Failure failed = writeRecords(out, table, path)) return failed;
    if (!out.finish()) return out.failure();
    return {};
}

IndexLoad loadIndexFile(const std::string& path, const std::string& inputPath, AppState& state,
                        Failure* inputFailure) {
    Failure failure;
    const int fd = openRegularForRead(path, failure);
    if (fd < 0) {
        const int reason = failure.systemError;
        return reason == ENOENT || reason == ENOTDIR ? IndexLoad::Missing : IndexLoad::Unreadable;
    }
    Failure why;
    const IndexLoad result = loadChecked(fd, inputPath, state, why);
    ::close(fd);
    if (result == IndexLoad::InputFailed && inputFailure != nullptr) *inputFailure = why;
    return result;
}

}  // namespace mpg
