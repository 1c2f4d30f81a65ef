#include "repair/index_file.h"

#include "repair/index_findings.h"
#include "repair/naming.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/scan.h"
#include "model/block_walk.h"
#include "model/sector_grid.h"
#include "model/stream_edges.h"
#include "stream/file_io.h"
#include "stream/procedures.h"
#include "stream/stream_view.h"

namespace mpg {

namespace {

// How a load went, within this file; its entry point turns it into a Failure.
enum class [[nodiscard]] IndexLoad{
    Loaded,
    Missing,      // no index file of that name
    Unreadable,   // the index file cannot be opened or read, or is no regular file
    Damaged,      // empty, not whole records, a wide header that is not ours or names
                  // an input of another size, or records that do not fit the input
    Stopped,      // the index of a stopped scan, where a whole one was asked for
    InputFailed,  // the input could not be opened or read to check the records, or a
                  // read of the index file failed: the failure says which and why
    Section,      // the findings section begins: no block record follows
};

// Whole records per read or write: about kIoBuffer bytes. A table of a
// million blocks is never held twice in encoded form.
constexpr size_t kRecordsPerChunk = kIoBuffer / kWideBlockRecordSize;

void putLE64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The wide format's header: its magic text, its version, the size of its
// records, the size of the input it describes and how many records follow.
std::array<uint8_t, kWideIndexHeaderSize> wideHeader(Position inputSize, uint64_t records) {
    std::array<uint8_t, kWideIndexHeaderSize> head{};
    std::copy(kWideIndexMagic.begin(), kWideIndexMagic.end(), head.begin());
    putLE64(head.data() + 8, kWideIndexVersion | (uint64_t{kWideBlockRecordSize} << 32));
    putLE64(head.data() + 16, inputSize);
    putLE64(head.data() + 24, records);
    return head;
}

bool isStoppedScanRecord(const BlockRecord& r) {
    return r.code == kFillCode && r.broken == kStoppedScanMark;
}

// The entries a stopped scan's index holds: all but a last broken block
// whose search the stop cut short (no real size yet), which a resumed scan
// reaches again from the end of the entry before it.
size_t finishedEntries(const BlockTable& table) {
    const size_t n = table.size();
    return n > 0 && table[n - 1].isBroken() && table[n - 1].realSize == 0 ? n - 1 : n;
}

// The record that closes a stopped scan's index: where the scan stopped.
BlockRecord stoppedScanRecord(const BlockTable& table, size_t entries) {
    BlockRecord r;
    r.broken = kStoppedScanMark;
    if (entries > 0) {
        const BlockRecord& last = table[entries - 1];
        r.offset = last.offset +
                   static_cast<Position>(last.isBroken() ? last.realSize : last.declaredSize);
    }
    return r;
}

// A record whose offset the format cannot hold is a failed write (EFBIG):
// a cut-short or wrapped offset would describe another block. The first
// `entries` of the table are written, then `closing` when there is one.
Failure writeRecords(OutputFile& out, const BlockTable& table, size_t entries,
                     const std::optional<BlockRecord>& closing, const std::string& path,
                     IndexFormat format) {
    const size_t size = format == IndexFormat::Wide ? kWideBlockRecordSize : kBlockRecordSize;
    const size_t records = entries + (closing ? 1 : 0);
    std::vector<uint8_t> buffer(std::min(records, kRecordsPerChunk) * size);
    for (size_t first = 0; first < records; first += kRecordsPerChunk) {
        const size_t n = std::min(kRecordsPerChunk, records - first);
        for (size_t i = 0; i < n; ++i) {
            uint8_t* at = buffer.data() + i * size;
            const BlockRecord& r = first + i < entries ? table[first + i] : *closing;
            if (format == IndexFormat::Wide) {
                encodeWideBlockRecord(r, at);
            } else if (!encodeBlockRecord(r, at)) {
                return failureOf(FailureKind::WriteFailed, path, EFBIG);
            }
        }
        if (!out.append(buffer.data(), n * size)) return out.failure();
    }
    return {};
}

// The findings section behind the block records: its opening record, then
// each finding in the place of kFindingRecords records. None for no finding.
Failure writeFindings(OutputFile& out, const std::vector<Finding>& findings,
                      const std::string& path, IndexFormat format) {
    if (findings.empty()) return {};
    const size_t size = format == IndexFormat::Wide ? kWideBlockRecordSize : kBlockRecordSize;
    const std::optional<BlockRecord> opening = findingsOpening(findings.size());
    if (!opening) return failureOf(FailureKind::WriteFailed, path, EFBIG);
    std::vector<uint8_t> buffer(size);
    if (format == IndexFormat::Wide) {
        encodeWideBlockRecord(*opening, buffer.data());
    } else if (!encodeBlockRecord(*opening, buffer.data())) {
        return failureOf(FailureKind::WriteFailed, path, EFBIG);
    }
    if (!out.append(buffer.data(), size)) return out.failure();
    const size_t entry = size * kFindingRecords;
    const size_t perChunk = std::max<size_t>(1, kIoBuffer / entry);
    buffer.resize(std::min(findings.size(), perChunk) * entry);
    for (size_t first = 0; first < findings.size(); first += perChunk) {
        const size_t n = std::min(perChunk, findings.size() - first);
        for (size_t i = 0; i < n; ++i)
            encodeFinding(findings[first + i], &buffer[i * entry], entry);
        if (!out.append(buffer.data(), n * entry)) return out.failure();
    }
    return {};
}

// The records a findings section of `count` findings takes, its opening
// record included.
uint64_t findingsRecords(size_t count) {
    return count == 0 ? 0 : 1 + uint64_t{count} * kFindingRecords;
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
    // The first record stands at `start`, where the scan found the stream
    // to begin (behind the junk in front of it).
    RecordCheck(StreamView& input, StreamRules rules, Position start)
        : input_(input),
          size_(input.streamSize()),
          start_(start),
          next_(start),
          codes_(rules),
          source_(input),
          walker_(source_, codes_) {
        // As the scan takes a stream whose head junk took.
        if (start > 0) codes_.openEveryStream(true);
    }

    bool fits(const BlockRecord& r) {
        // A broken block whose search ran to the end (real size 0, as scans
        // once recorded it) has no known end: nothing can follow it.
        if (ended_ || endsStream_ || r.offset != next_ || r.offset >= size_) return false;
        if (r.code == kFillCode) return r.isBroken() ? continuationFits(r) : fillFits(r);
        if (fillGoesOn_) return false;
        if (codes_.classify(r.code) == BlockKind::None) return false;
        // The block the scan would have met there, and what it learnt from it.
        const std::optional<WalkedBlock> block = walker_.blockAt(r.offset);
        if (!block) {
            readFailed_ = true;
            return false;
        }
        if (block->code != r.code || r.declaredSize != block->declared) return false;
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
        lastExtent_ = extent;
        next_ = r.offset + extent;
        return next_ <= size_;
    }
    // After the last record: a broken one's search ended where a search
    // ends, at the end of the file or at a valid start code. The block found
    // at that start code is missing when the scan was stopped inside that
    // block's own search: the window drops its unfinished entry.
    bool complete() {
        if (fillGoesOn_) return false;
        if (endsStream_) return junkFollows();
        if (!lastBroken_ || ended_ || next_ == size_) return true;
        // A search the tags appended to the file ended, under the sound rules.
        if (codes_.rules() == StreamRules::Sound) {
            const std::optional<Position> tags = tailTagsStart(source_, start_);
            if (!tags) readFailed_ = true;
            if (!tags || next_ == *tags) return tags.has_value();
        }
        const uint8_t* there = input_.view(next_, 4);
        if (there == nullptr) readFailed_ = true;
        return there != nullptr && codes_.isValidStartCode(loadBE32(there));
    }
    // The stopped scan's closing record stands where the last entry ends.
    bool stoppedHere(const BlockRecord& r) const {
        return next_ > start_ && !ended_ && !fillGoesOn_ && r.offset == next_ &&
               r.declaredSize == 0 && r.realSize == 0 && r.repeatByte == 0 && r.repeatLength == 0 &&
               r.repeatStart == 0;
    }
    bool readFailed() const { return readFailed_; }
    const StreamCodes& codes() const { return codes_; }

  private:
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

    // Under the sound rules the stream may end in junk: bytes up to the
    // tags appended to the file, near the end, that hold no start code.
    bool junkFollows() {
        if (codes_.rules() != StreamRules::Sound) return false;
        const std::optional<Position> tags = tailTagsStart(source_, start_);
        if (!tags) readFailed_ = true;
        if (!tags || next_ > *tags || *tags - next_ > kJunkReach) return false;
        const std::optional<Position> code = nextValidStartCode(source_, codes_, next_, *tags);
        if (!code) readFailed_ = true;
        return code == tags;
    }

    // The longest run lies behind the start code and length field, inside
    // the block, and is made of its byte: the index of another file with
    // blocks of the same sizes still differs there.
    bool runStandsThere(const BlockRecord& r, uint32_t least = kLengthFieldEnd) {
        if (r.repeatStart < least ||
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

    // The bytes of a broken block beyond the 2 GiB an entry spans: behind a
    // broken entry that spans all of it, with no header of their own.
    bool continuationFits(const BlockRecord& r) {
        if (!lastBroken_ || lastExtent_ != kLargestExtent || r.declaredSize != 0 ||
            r.realSize <= 0 || (r.repeatLength > 0 && !runStandsThere(r, 0))) {
            return false;
        }
        lastExtent_ = static_cast<Position>(r.realSize);
        next_ = r.offset + lastExtent_;
        return next_ <= size_;
    }

    // Sector fill, which only the sound rules know: zero bytes behind a
    // block, up to a pack header, an end code or the end of the file.
    bool fillFits(const BlockRecord& r) {
        if (codes_.rules() != StreamRules::Sound || r.offset == start_ || r.declaredSize <= 0 ||
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
        // Fill ends at a pack header, an end code or the end of the file;
        // fill longer than an entry spans goes on in the next entry.
        fillGoesOn_ = false;
        if (end < size_) {
            const uint8_t* there = input_.view(end, 4);
            if (there == nullptr) readFailed_ = true;
            if (there == nullptr) return false;
            const uint32_t code = loadBE32(there);
            fillGoesOn_ = Position(r.declaredSize) == kLargestExtent && there[0] == 0 &&
                          code != kPackStartCode && code != kEndCode;
            // Or at the junk behind the stream, which only the last
            // record's fill can end at.
            endsStream_ = code != kPackStartCode && code != kEndCode && !fillGoesOn_;
        }
        lastBroken_ = false;
        lastExtent_ = end - r.offset;
        next_ = end;
        return true;
    }

    StreamView& input_;
    Position size_;
    Position start_;
    Position next_;
    bool ended_ = false;
    bool lastBroken_ = false;
    Position lastExtent_ = 0;
    bool fillGoesOn_ = false;
    bool endsStream_ = false;  // the last record's fill ends at no block
    bool readFailed_ = false;
    StreamCodes codes_;
    ViewSource source_;
    BlockWalker<ViewSource> walker_;
};

// What the records of an index file are read for: their check against the
// input, which keeps no record, or their decoding into the table.
struct RecordPass {
    int fd;
    const std::string& path;  // the index file, as the user named it
    int64_t first;            // the file position of the first record
    size_t count;
    IndexFormat format;
    Failure& why;          // a failed read of the index file
    bool stopped = false;  // the last block record closes a stopped scan's index
    // The findings section: the records before it, and the findings it
    // announces (none without a section).
    size_t blocks = 0;
    size_t findings = 0;
};

// Reads the records chunk by chunk, handing each chunk of `n` records that
// start at record `first` to `take`, which says whether to go on. A read the
// system refuses fails (InputFailed, pass.why naming the index file, the
// position and the reason), a short one is Unreadable; returns what `take`
// returned last.
template <typename Take>
IndexLoad readChunks(const RecordPass& pass, Take take) {
    const size_t size = pass.format == IndexFormat::Wide ? kWideBlockRecordSize : kBlockRecordSize;
    std::vector<uint8_t> buffer(std::min(pass.count, kRecordsPerChunk) * size);
    for (size_t first = 0; first < pass.count; first += kRecordsPerChunk) {
        const size_t n = std::min(kRecordsPerChunk, pass.count - first);
        const size_t bytes = n * size;
        const int64_t at = pass.first + static_cast<int64_t>(first * size);
        size_t before = 0;
        const int64_t got = readFully(pass.fd, buffer.data(), bytes, at, &before);
        if (got < 0) {
            pass.why = failureOf(FailureKind::ReadFailed, pass.path, errno,
                                 static_cast<uint64_t>(at) + before);
            return IndexLoad::InputFailed;
        }
        if (got != static_cast<int64_t>(bytes)) return IndexLoad::Unreadable;
        const IndexLoad result = take(first, n, std::span<const uint8_t>(buffer.data(), bytes));
        if (result != IndexLoad::Loaded) return result;
    }
    return IndexLoad::Loaded;
}

BlockRecord decodeAt(IndexFormat format, const uint8_t* at) {
    return format == IndexFormat::Wide ? decodeWideBlockRecord(at) : decodeBlockRecord(at);
}

// The opening record of the findings section at record `at`: the findings
// it announces must fill the rest of the file, behind at least one block.
bool findingsSection(RecordPass& pass, size_t at, const BlockRecord& opening) {
    const std::optional<size_t> count = findingsAnnounced(opening);
    if (!count || at == 0 || findingsRecords(*count) != pass.count - at) return false;
    pass.blocks = at;
    pass.findings = *count;
    return true;
}

// The findings of the section behind pass.blocks, each checked against the
// `streamSize` bytes of the stream: Damaged when one is no finding a scan
// of it would have made.
IndexLoad readFindings(const RecordPass& pass, Position streamSize,
                       std::vector<Finding>& findings) {
    if (pass.findings == 0) return IndexLoad::Loaded;
    const size_t size = pass.format == IndexFormat::Wide ? kWideBlockRecordSize : kBlockRecordSize;
    const size_t entry = size * kFindingRecords;
    const int64_t at = pass.first + static_cast<int64_t>((pass.blocks + 1) * size);
    std::vector<uint8_t> bytes(pass.findings * entry);
    size_t before = 0;
    const int64_t got = readFully(pass.fd, bytes.data(), bytes.size(), at, &before);
    if (got < 0) {
        pass.why = failureOf(FailureKind::ReadFailed, pass.path, errno,
                             static_cast<uint64_t>(at) + before);
        return IndexLoad::InputFailed;
    }
    if (got != static_cast<int64_t>(bytes.size())) return IndexLoad::Unreadable;
    findings.reserve(pass.findings);
    for (size_t k = 0; k < pass.findings; ++k) {
        const std::optional<Finding> f = decodeFinding(&bytes[k * entry], entry, streamSize);
        if (!f) return IndexLoad::Damaged;
        findings.push_back(*f);
    }
    return IndexLoad::Loaded;
}

// The first pass: every block record checked, in table order, against the
// input, none kept; `digest` gets the block records' bytes. The last block
// record may close the index of a stopped scan (pass.stopped is then set);
// there must be a block before it. A findings section may follow the block
// records; pass.blocks and pass.findings say where it begins and what it
// announces.
IndexLoad checkRecords(RecordPass& pass, RecordCheck& check, uint64_t& digest) {
    const size_t size = pass.format == IndexFormat::Wide ? kWideBlockRecordSize : kBlockRecordSize;
    pass.blocks = pass.count;
    const IndexLoad read =
        readChunks(pass, [&](size_t first, size_t n, std::span<const uint8_t> bytes) {
            IndexLoad result = IndexLoad::Loaded;
            size_t i = 0;
            for (; i < n && result == IndexLoad::Loaded; ++i) {
                const BlockRecord r = decodeAt(pass.format, bytes.data() + i * size);
                if (isFindingsOpening(r)) {
                    result = findingsSection(pass, first + i, r) ? IndexLoad::Section
                                                                 : IndexLoad::Damaged;
                    break;
                }
                // Nothing but the findings may follow a stopped scan's record.
                if (pass.stopped) return IndexLoad::Damaged;
                if (isStoppedScanRecord(r)) {
                    pass.stopped = true;
                    if (!check.stoppedHere(r)) return IndexLoad::Damaged;
                } else if (!check.fits(r)) {
                    return check.readFailed() ? IndexLoad::InputFailed : IndexLoad::Damaged;
                }
            }
            digest = digestOf(digest, bytes.data(), i * size);
            return result;
        });
    if (read != IndexLoad::Loaded && read != IndexLoad::Section) return read;
    if (check.complete()) return IndexLoad::Loaded;
    return check.readFailed() ? IndexLoad::InputFailed : IndexLoad::Damaged;
}

// The second pass: the checked records decoded into `table`, which has
// given up what it held before: the records are never held twice. An index
// file whose bytes are no longer those checked leaves the table empty.
IndexLoad fillRecords(const RecordPass& pass, uint64_t digest, BlockTable& table) {
    const size_t size = pass.format == IndexFormat::Wide ? kWideBlockRecordSize : kBlockRecordSize;
    const size_t entries = pass.count - (pass.stopped ? 1 : 0);
    table.allocate(entries);
    uint64_t again = 0;
    IndexLoad result =
        readChunks(pass, [&](size_t first, size_t n, std::span<const uint8_t> bytes) {
            again = digestOf(again, bytes.data(), bytes.size());
            for (size_t i = 0; i < n && first + i < entries; ++i)
                table[first + i] = decodeAt(pass.format, bytes.data() + i * size);
            return IndexLoad::Loaded;
        });
    if (result == IndexLoad::Loaded && again != digest) result = IndexLoad::Damaged;
    if (result != IndexLoad::Loaded) table.clear();
    return result;
}

// Which format the file is in, from its head, and how many records it
// holds; nothing for a file that fits neither: an empty one, one that is not
// whole records, or a wide one whose header is not ours or names an input of
// another size. The file is left standing at its first record.
struct IndexShape {
    IndexFormat format;
    size_t records;
};

// A read of the head that the system refuses sets `why`.
std::optional<IndexShape> indexShape(int fd, uint64_t fileSize, Position inputSize,
                                     const std::string& path, Failure& why) {
    std::array<uint8_t, kWideIndexHeaderSize> head{};
    size_t before = 0;
    const int64_t got =
        fileSize >= head.size() ? readFully(fd, head.data(), head.size(), 0, &before) : 0;
    if (got < 0) {
        why = failureOf(FailureKind::ReadFailed, path, errno, before);
        return std::nullopt;
    }
    const bool wide = got == int64_t(head.size()) &&
                      std::equal(kWideIndexMagic.begin(), kWideIndexMagic.end(), head.begin());
    if (!wide) {
        if (::lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
        if (fileSize == 0 || fileSize % kBlockRecordSize != 0) return std::nullopt;
        return IndexShape{IndexFormat::Classic, static_cast<size_t>(fileSize / kBlockRecordSize)};
    }
    const uint64_t body = fileSize - head.size();
    const uint64_t records = body / kWideBlockRecordSize;
    if (head != wideHeader(inputSize, records) || body == 0 || body % kWideBlockRecordSize != 0) {
        return std::nullopt;
    }
    return IndexShape{IndexFormat::Wide, static_cast<size_t>(body / kWideBlockRecordSize)};
}

IndexLoad loadChecked(int fd, const std::string& path, const std::string& inputPath,
                      AppState& state, IndexLoadOptions options, Failure& why) {
    const std::optional<uint64_t> size = regularFileSize(fd);
    if (!size) return IndexLoad::Unreadable;
    // The input is read through a view of its own: the state's view, its cut
    // list and its window stay as they are when the file is refused.
    StreamView input;
    switch (input.openStream(inputPath)) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::Failed:
            why = input.failure();
            return IndexLoad::InputFailed;
    }
    // A video CD rip's records are stream positions in the layout a walk
    // of its sectors finds, as the scan that wrote them had.
    SectorFaultList faults;
    if (input.layout() != nullptr && !input.hasExactLayout()) {
        bool stopped = false;
        if ((why = input.walkLayout(faults, {}, stopped))) return IndexLoad::InputFailed;
    }
    const std::optional<IndexShape> shape = indexShape(fd, *size, input.streamSize(), path, why);
    if (!shape) return why ? IndexLoad::InputFailed : IndexLoad::Damaged;
    const int64_t first = shape->format == IndexFormat::Wide ? int64_t{kWideIndexHeaderSize} : 0;
    RecordPass pass{fd, path, first, shape->records, shape->format, why};
    const EdgeSearch start = streamStartOf(input, state.rules.load());
    if (start.failed) {
        why = input.failure();
        return IndexLoad::InputFailed;
    }
    RecordCheck check(input, state.rules.load(), start.at.value_or(0));
    uint64_t digest = 0;
    IndexLoad result = checkRecords(pass, check, digest);
    if (result == IndexLoad::InputFailed && !why) why = input.failure();
    // Only the sound rules run the checks that make findings.
    if (result == IndexLoad::Loaded && pass.findings > 0 &&
        state.rules.load() != StreamRules::Sound) {
        result = IndexLoad::Damaged;
    }
    std::vector<Finding> findings;
    if (result == IndexLoad::Loaded) result = readFindings(pass, input.streamSize(), findings);
    if (options.stopped != nullptr) *options.stopped = pass.stopped;
    if (result == IndexLoad::Loaded && pass.stopped && !options.takeStopped) {
        result = IndexLoad::Stopped;
    }
    if (result == IndexLoad::Loaded && (why = input.verifyUnchanged())) {
        result = IndexLoad::InputFailed;
    }
    if (result != IndexLoad::Loaded) return result;
    // Checked: only now is the table the state held before given up.
    pass.count = pass.blocks;
    result = fillRecords(pass, digest, state.table);
    if (result == IndexLoad::Loaded) {
        state.codes = check.codes();
        state.findings.assign(std::move(findings));
        if (!faults.empty()) state.sectorFaults = std::move(faults);
        // The state's view takes the stream length of the walked layout,
        // which the writer compares the file with.
        if (input.layout() != nullptr && !state.view.isOpen() &&
            state.view.openStream(inputPath) == OpenStatus::Opened) {
            state.view.closeFile();
        }
        // Later jobs must find the file the records were checked against.
        state.view.keepInput(input.keptInput());
    }
    return result;
}

}  // namespace

IndexFormat indexFormatFor(Position inputSize) {
    return inputSize > kLargestClassicInput ? IndexFormat::Wide : IndexFormat::Classic;
}

std::string indexFileName(const std::string& input) {
    const size_t slash = input.rfind('/');
    const std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    return derivedFolderFor(input) + name + ".index";
}

Failure saveIndexFile(const BlockTable& table, const std::string& path,
                      const std::vector<std::string>& inputs, Position inputSize,
                      std::optional<IndexFormat> format, bool stopped,
                      const std::atomic<bool>* stop, const std::vector<Finding>& findings) {
    const IndexFormat chosen = format.value_or(indexFormatFor(inputSize));
    const size_t entries = stopped ? finishedEntries(table) : table.size();
    std::optional<BlockRecord> closing;
    if (stopped) closing = stoppedScanRecord(table, entries);
    OutputFile out;
    // The index beside the input is the table's, whichever was there before.
    if (Failure failed = out.create(path, inputs, Existing::Replace)) return failed;
    // The unfinished output is removed when `out` goes.
    if (chosen == IndexFormat::Wide) {
        const auto head =
            wideHeader(inputSize, entries + (stopped ? 1 : 0) + findingsRecords(findings.size()));
        if (!out.append(head.data(), head.size())) return out.failure();
    }
    if (Failure failed = writeRecords(out, table, entries, closing, path, chosen)) return failed;
    if (Failure failed = writeFindings(out, findings, path, chosen)) return failed;
    if (stop != nullptr && stop->load()) return failureOf(FailureKind::Stopped, "");
    return out.finish();
}

Failure loadIndexFile(const std::string& path, const std::string& inputPath, AppState& state,
                      IndexLoadOptions options) {
    const OpenedFile opened = openRegularForRead(path);
    const int fd = opened.fd;
    if (fd < 0) {
        const int reason = opened.failure.systemError;
        return reason == ENOENT || reason == ENOTDIR ? failureOf(FailureKind::NoIndex, path)
                                                     : opened.failure;
    }
    Failure why;
    const IndexLoad result = loadChecked(fd, path, inputPath, state, options, why);
    ::close(fd);
    switch (result) {
        case IndexLoad::Loaded:
            return {};
        case IndexLoad::InputFailed:
            return why;
        case IndexLoad::Missing:
            return failureOf(FailureKind::NoIndex, path);
        case IndexLoad::Stopped:
            return failureOf(FailureKind::StoppedScan, path);
        case IndexLoad::Unreadable:
        case IndexLoad::Damaged:
        case IndexLoad::Section:  // never past the first pass
            break;
    }
    return failureOf(FailureKind::BadIndex, path);
}

}  // namespace mpg
