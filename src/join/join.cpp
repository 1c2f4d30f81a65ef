#include "join/join.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "analysis/scan_control.h"
#include "join/clock.h"
#include "model/sector_grid.h"
#include "stream/file_io.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

// How a piece's walk, and the join, went; the public functions give the
// reason of anything but Done as their Failure.
enum class [[nodiscard]] JoinResult{Done, Failed, Stopped};

// An input read ahead in large chunks: the join looks at 20 bytes per block
// and copies the block, and a read call per block would cost more than both.
// A chunk is no longer than the file (nor shorter than the bytes asked for):
// a short piece does not clear a megabyte to read a few kilobytes.
//
// The bytes of a chunk are placed like their position in the file
// (placeLikeFile): the blocks of a stream start at positions that a plain
// heap buffer would meet misaligned, and the kernel's copy slows down there.
class InputFile {
  public:
    static constexpr size_t kChunk = kIoBuffer;

    // A video CD rip is read as the stream in its sectors, through a view
    // that knows their layout (walked here unless a scan already did). A
    // plain piece is read straight from the view's handle: the view's open
    // check is the one that tells the two apart.
    bool open(const std::string& path, Failure& failure) {
        path_ = path;
        if (rip_.openStream(path) != OpenStatus::Opened) {
            failure = rip_.failure();
            return false;
        }
        if (rip_.layout() == nullptr) {
            fd_ = rip_.fileHandle();
            size_ = rip_.streamSize();
            return true;
        }
        std::vector<SectorFaultRow> faults;
        bool stopped = false;
        if (!rip_.hasExactLayout()) {
            if (Failure walked = rip_.walkLayout(faults, {}, stopped)) {
                failure = walked;
                return false;
            }
        }
        size_ = rip_.streamSize();
        return true;
    }
    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

    // The bytes from `pos` to `pos + count` while they are in the chunk read
    // last, else nullptr. They may be changed in place: the chunk is this
    // reader's copy, and the join never reads a byte twice.
    uint8_t* held(uint64_t pos, size_t count) {
        if (data_ == nullptr || pos < start_ || pos + count > start_ + length_) return nullptr;
        return data_ + (pos - start_);
    }

    // `count` bytes from `pos`; bytes past the end of the file read as zero,
    // so that a block cut short by the end of its file keeps its size.
    // nullptr, with `failure` set, when the system refuses the read.
    const uint8_t* at(uint64_t pos, size_t count, Failure& failure) {
        if (const uint8_t* bytes = held(pos, count)) return bytes;
        const size_t want = std::max(static_cast<size_t>(std::min<uint64_t>(kChunk, size_)), count);
        storage_.resize(want + 2 * kReadAlign);
        data_ = placeLikeFile(storage_.data(), pos);
        if (!readInto(data_, want, pos, failure)) {
            data_ = nullptr;
            return nullptr;
        }
        start_ = pos;
        length_ = want;
        return data_;
    }

    // Appends `count` bytes from `pos` to the output, copied by the kernel
    // where the file holds them as they are: the bytes copied, or -1.
    int64_t copyTo(OutputFile& out, uint64_t pos, uint64_t count, Failure& failure) {
        if (rip_.layout() == nullptr) return out.copyFrom(fd_, pos, count, path_);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, kChunk)));
        if (pos >= size_) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes.size(), size_ - pos));
        if (!readInto(bytes.data(), n, pos, failure) || !out.append(bytes.data(), n)) return -1;
        return static_cast<int64_t>(n);
    }
    // Appends `count` bytes held at `bytes`, standing as they are at `pos`.
    bool appendHeld(OutputFile& out, const uint8_t* bytes, size_t count, uint64_t pos) {
        return rip_.layout() != nullptr ? out.append(bytes, count)
                                        : out.appendHeld(bytes, count, fd_, pos);
    }

  private:
    bool readInto(uint8_t* into, size_t count, uint64_t pos, Failure& failure) {
        if (rip_.layout() != nullptr) {
            std::fill(into, into + count, 0);
            rip_.invalidateWindow();
            const bool read = rip_.readPieces(
                pos, std::min<uint64_t>(count, pos < size_ ? size_ - pos : 0),
                [&](const uint8_t* b, uint32_t n, Position done) {
                    std::copy(b, b + n, into + done);
                    return true;
                },
                StreamView::Fill::Exact);
            if (!read) failure = rip_.failure();
            return read;
        }
        const int64_t got = readFully(fd_, into, count, static_cast<int64_t>(pos));
        if (got < 0) {
            failure = failureOf(FailureKind::ReadFailed, path_, errno, pos);
            return false;
        }
        std::fill(into + got, into + count, 0);
        return true;
    }

    StreamView rip_;  // owns the handle
    int fd_ = -1;     // a plain piece's, rip_'s handle
    uint64_t size_ = 0;
    std::string path_;
    std::vector<uint8_t> storage_;
    uint8_t* data_ = nullptr;  // the chunk, within storage_
    uint64_t start_ = 0, length_ = 0;
};

// Where a join is: input k of the inputs, and the bytes of all inputs read
// so far of all their bytes. The gauge goes once from 0 to 100 % over the
// whole join, while the text counts the pieces.
struct JoinPlace {
    size_t input = 0;
    size_t inputs = 0;
    uint64_t before = 0;  // the bytes of the inputs before this one
    uint64_t total = 0;   // the bytes of all inputs, as they were opened first
};

// Reports the progress at `pos` of the current input; true when the user
// asked to stop. An input grown since it was first opened counts no further
// than the end of the whole.
bool reportAndPoll(JobState& job, JobSink& sink, const JoinPlace& at, uint64_t pos) {
    if (sink.progressDue()) {
        const uint64_t done = std::min(at.before + pos, at.total);
        sink.notify({Notify::JoinProgress,
                     static_cast<int32_t>(std::min<uint32_t>(progressPercent(done, at.total), 100)),
                     at.input + 1,
                     at.inputs,
                     {}});
    }
    return job.stopRequested.load(std::memory_order_relaxed);
}

// What a structured join does with a block.
enum class Step { Write, Skip, EndOfFile, Fail };

// The sector grid of an input under the sound rules, from its head; false
// when the read fails.
bool learnGrid(InputFile& in, StreamRules rules, SectorGrid& grid, Failure& failure) {
    grid = SectorGrid{};
    if (rules != StreamRules::Sound || in.size() == 0) return true;
    const size_t head =
        static_cast<size_t>(std::min<uint64_t>(in.size(), SectorSizeLearner::kHeadBytes));
    const uint8_t* bytes = in.at(0, head, failure);
    if (bytes == nullptr) return false;
    SectorSizeLearner learner;
    learner.take(bytes, head, 0);
    grid = SectorGrid{learner.sectorSize()};
    return true;
}

// Sector fill at `pos` of an input (see fillLength): read a few kilobytes at
// a time, as fill is most often shorter than a sector. Nothing when a read
// fails.
std::optional<uint64_t> fillAt(InputFile& in, uint64_t pos, const SectorGrid& grid,
                               Failure& failure) {
    if (grid.sectorSize() == 0) return 0;
    const uint64_t size = in.size();
    uint64_t end = pos;
    for (size_t piece = 4096; end < size; piece = std::min<size_t>(piece * 2, InputFile::kChunk)) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(piece, size - end));
        const uint8_t* bytes = in.at(end, count, failure);
        if (bytes == nullptr) return std::nullopt;
        const uint32_t zeros = endOfRun(bytes, 0, static_cast<uint32_t>(count), 0);
        end += zeros;
        if (zeros < count) break;
    }
    const uint8_t* after = nullptr;
    if (size - end >= 2) {
        after = in.at(end, 2, failure);
        if (after == nullptr) return std::nullopt;
    }
    return fillLength(pos, end, size, after, grid);
}

// How much of a piece's head is read for its first SCR and PTS: enough for
// the frames of a group of pictures, whose first PTS need not be the
// smallest.
constexpr uint64_t kClockHead = uint64_t{1} << 20;

// The clock of a piece's head, read ahead of its copy; the walk stops at
// anything that is not a block. False when a read fails.
bool readHeadClock(InputFile& in, StreamCodes codes, PieceClock& clock, Failure& failure) {
    const uint64_t size = std::min(in.size(), kClockHead);
    for (uint64_t pos = 0; pos + 12 <= size;) {
        const uint8_t* head = in.at(pos, 20, failure);
        if (head == nullptr) return false;
        const BlockKind kind = codes.classify(loadBE32(head));
        const uint64_t length = static_cast<uint64_t>(codes.sizeOf(kind, ByteSpan(head, 20)));
        if (kind == BlockKind::None || kind == BlockKind::End || length == 0) break;
        const uint8_t* block = in.at(pos, length, failure);
        if (block == nullptr) return false;
        if (kind == BlockKind::Pack) {
            codes.takePackHeader(ByteSpan(block, 20));
            clock.takePack(block);
        } else if (kind == BlockKind::SystemHeader) {
            takeStreamCodes(codes, ByteSpan(block, length));
        } else if (kind == BlockKind::Packet) {
            clock.takePacket(block, static_cast<uint32_t>(length));
        }
        pos += length;
    }
    return true;
}

// The failure of a block at `pos` of piece `piece` that begins with no start
// code. `head` holds the bytes there, zeros past the end of the piece. When
// nothing but zeros follows up to the end, the piece was cut short (its tail
// lost, as an interrupted copy leaves it); otherwise its blocks break off.
Failure structureFailure(const InputFile& in, size_t piece, uint64_t pos, const uint8_t* head) {
    const uint64_t left = in.size() - pos;
    const bool zerosToEnd =
        left <= 20 && std::all_of(head, head + left, [](uint8_t b) { return b == 0; });
    Failure f = failureOf(zerosToEnd ? FailureKind::CutShort : FailureKind::BadStructure, in.path(),
                          0, pos);
    f.piece = static_cast<int>(piece);
    f.foundCount = static_cast<uint8_t>(std::min<uint64_t>(left, f.found.size()));
    std::copy_n(head, f.foundCount, f.found.begin());
    return f;
}

// A read or write that failed while the block at `pos` of piece `piece` was
// copied: the failure names the piece and the block's offset in it, with the
// system's reason. A read failure keeps its own position, that of the read.
template <class Output>
JoinResult failedAt(Failure& failure, const Output& out, const InputFile& in, size_t piece,
                    uint64_t pos) {
    if (!failure) failure = out.failure();
    if (failure.kind == FailureKind::WriteFailed) {
        failure.path = in.path();
        failure.position = pos;
    }
    failure.piece = static_cast<int>(piece);
    return JoinResult::Failed;
}

}  // namespace

bool outputIsAnInput(const JoinParams& params) {
    return std::any_of(params.inputs.begin(), params.inputs.end(),
                       [&](const std::string& in) { return sameFile(in, params.output); });
}

namespace {

// What both joins share. Every input is opened once before anything is
// written: a missing or odd piece then leaves no output behind, not even on
// standard output. Then the output is created (refused when it is one of the
// inputs) and each input opened in turn and walked, with its place in the
// whole join; a walk returns JoinResult::Done to go on with the next input.
template <class Walk>
JoinResult eachInput(Failure& failure, const JoinParams& params, JobSink& sink, OutputFile& out,
                     Walk walk) {
    const auto refused = [&] {
        sink.reportRefusal(failure);
        return JoinResult::Failed;
    };
    std::vector<uint64_t> sizes;
    sizes.reserve(params.inputs.size());
    for (const std::string& path : params.inputs) {
        InputFile in;
        if (!in.open(path, failure)) return refused();
        sizes.push_back(in.size());
    }
    JoinPlace place{0, params.inputs.size(), 0, 0};
    for (const uint64_t size : sizes) place.total += size;
    if (!out.create(params.output, params.inputs)) {
        if (out.failure().kind == FailureKind::OutputIsInput) {
            sink.reportRefusal(out.failure());
        }
        return JoinResult::Failed;
    }
    for (size_t k = 0; k < params.inputs.size(); ++k) {
        InputFile in;
        if (!in.open(params.inputs[k], failure)) return refused();  // gone meanwhile
        place.input = k;
        const JoinResult result = walk(in, place);
        if (result != JoinResult::Done) return result;
        place.before += sizes[k];
    }
    return JoinResult::Done;
}

// Ends a join: a finished one gives the output its name, a stopped one keeps
// what it wrote under that name, a failed one leaves nothing new behind.
Failure endJoin(JoinResult result, Failure failure, const JoinParams& params, OutputFile& out) {
    if (result == JoinResult::Failed) {
        if (!failure) failure = out.failure();
        out.discard();
        return failure;
    }
    if (!out.finish()) return out.failure();
    if (result == JoinResult::Stopped) {
        return failureOf(FailureKind::Stopped, params.output, 0, out.written());
    }
    return {};
}

}  // namespace

Failure joinStructured(JobState& job, const JoinParams& params, JobSink& sink) {
    OutputFile out;
    int systemHeaders = 0, paddings = 0;
    Failure failure;
    // The join's own codes, from the initial ones: those of the repair
    // page's table must stay as its scan left them.
    StreamCodes codes{params.rules};
    // A continuous join: the clock of the piece being copied, as written,
    // and the offset its stamps get. A block is rewritten in the reader's
    // chunk, in the copy pass; the input file is never written.
    PieceClock written;
    uint64_t offset = 0;
    // The last SCR of the previous piece, while the current piece's would
    // come before it.
    std::optional<uint64_t> scrFloor;
    JoinResult result = eachInput(failure, params, sink, out, [&](InputFile& in, JoinPlace at) {
        const uint64_t size = in.size();
        // The blocks written as they stand (or as rewritten in place) gather
        // into a run of the chunk read last, which goes out in one write when
        // a block breaks it off, before another chunk is read, and at the end.
        // A run as the file holds it may be copied by the kernel; one with a
        // block rewritten goes out from the chunk.
        uint64_t runStart = 0, runEnd = 0;
        bool runRewritten = false;
        const auto flushRun = [&] {
            const size_t count = static_cast<size_t>(runEnd - runStart);
            const uint8_t* bytes = in.held(runStart, count);
            const bool ok =
                count == 0 || (runRewritten ? out.append(bytes, count)
                                            : in.appendHeld(out, bytes, count, runStart));
            runStart = runEnd;
            runRewritten = false;
            return ok;
        };
        const auto read = [&](uint64_t pos, size_t count) -> const uint8_t* {
            if (in.held(pos, count) == nullptr && !flushRun()) return nullptr;
            return in.at(pos, count, failure);
        };
        if (params.continuous && at.input > 0) {
            PieceClock next;
            if (!readHeadClock(in, codes, next, failure))
                return failedAt(failure, out, in, at.input, 0);
            offset = seamOffset(written, next);
            scrFloor = written.lastScr();
            written = PieceClock{};
        }
        // Sector fill is copied as it is: the sectors behind it stay on
        // their grid, and each piece's length is a whole number of sectors.
        SectorGrid grid;
        if (!learnGrid(in, codes.rules(), grid, failure))
            return failedAt(failure, out, in, at.input, 0);
        std::array<uint8_t, 20> found{};
        for (uint64_t pos = 0; pos < size;) {
            const uint8_t* head = read(pos, 20);
            if (head == nullptr) return failedAt(failure, out, in, at.input, pos);
            const uint32_t code = loadBE32(head);
            const BlockKind kind = codes.classify(code);
            // Sizes in 32 bits: a length field of 65,530 or more neither
            // wraps nor stalls the walk.
            uint64_t length = static_cast<uint64_t>(codes.sizeOf(kind, ByteSpan(head, 20)));
            Step step = Step::Write;
            switch (kind) {
                case BlockKind::Pack:
                    codes.takePackHeader(ByteSpan(head, 20));
                    grid.packAt(pos);
                    break;
                case BlockKind::SystemHeader: {
                    const uint8_t* header = read(pos, length);
                    if (header == nullptr) return failedAt(failure, out, in, at.input, pos);
                    takeStreamCodes(codes, ByteSpan(header, length));
                    systemHeaders = std::min(systemHeaders + 1, 2);
                    if (systemHeaders > 1 && params.oneSystemHeader) step = Step::Skip;
                    break;
                }
                case BlockKind::Packet:
                    if (code == kPaddingStreamCode) {
                        paddings = std::min(paddings + 1, 2);
                        if (paddings > 1 && params.onePadding) step = Step::Skip;
                    }
                    break;
                case BlockKind::End:
                    step = Step::EndOfFile;
                    break;
                case BlockKind::None: {
                    // The bytes found here outlive the chunk, which the
                    // look for fill may read anew.
                    std::copy_n(head, found.size(), found.begin());
                    head = found.data();
                    if (!flushRun()) return failedAt(failure, out, in, at.input, pos);
                    const std::optional<uint64_t> fill =
                        head[0] == 0 && pos > 0 ? fillAt(in, pos, grid, failure) : uint64_t{0};
                    if (!fill) return failedAt(failure, out, in, at.input, pos);
                    length = *fill;
                    if (length == 0) step = Step::Fail;
                    break;
                }
            }
            if (step == Step::Fail) {
                failure = structureFailure(in, at.input, pos, head);
                return JoinResult::Failed;
            }
            if (step == Step::EndOfFile) break;
            if (step == Step::Write && kind == BlockKind::None) {
                // Fill, which may be gigabytes of a sparse file: copied by
                // the kernel, never held.
                for (uint64_t done = 0; done < length;) {
                    const int64_t moved = in.copyTo(out, pos + done, length - done, failure);
                    if (moved <= 0) return failedAt(failure, out, in, at.input, pos);
                    done += static_cast<uint64_t>(moved);
                }
                runStart = runEnd = pos + length;
            } else if (step == Step::Write) {
                if (read(pos, length) == nullptr) return failedAt(failure, out, in, at.input, pos);
                if (runEnd != pos) {
                    if (!flushRun()) return failedAt(failure, out, in, at.input, pos);
                    runStart = runEnd = pos;
                }
                uint8_t* block = in.held(pos, length);
                if (params.continuous && (kind == BlockKind::Pack || kind == BlockKind::Packet)) {
                    if (offset != 0 || scrFloor) {
                        runRewritten = true;
                        if (kind == BlockKind::Pack) {
                            const std::optional<uint64_t> scr =
                                shiftPackScr(block, offset, scrFloor);
                            if (scr && scr != scrFloor) scrFloor.reset();
                        } else {
                            shiftPacketStamps(block, static_cast<uint32_t>(length), offset);
                        }
                    }
                    if (kind == BlockKind::Pack) {
                        written.takePack(block);
                    } else {
                        written.takePacket(block, static_cast<uint32_t>(length));
                    }
                }
                runEnd = pos + length;
            }
            pos += length;
            // A remainder of at most 4 bytes (typically the file's own end
            // code) is neither examined nor copied.
            if (pos + 4 >= size) break;
            if (reportAndPoll(job, sink, at, pos)) {
                if (!flushRun()) return failedAt(failure, out, in, at.input, pos);
                return JoinResult::Stopped;
            }
        }
        if (!flushRun()) return failedAt(failure, out, in, at.input, size);
        return JoinResult::Done;
    });
    if (result == JoinResult::Done && !out.append(kEndCodeBytes.data(), kEndCodeBytes.size())) {
        result = JoinResult::Failed;
    }
    return endJoin(result, failure, params, out);
}

Failure glueFiles(JobState& job, const JoinParams& params, JobSink& sink) {
    Failure failure;
    OutputFile out;
    // In chunks between which the progress is reported and a stop is noticed.
    constexpr uint64_t kChunk = uint64_t{8} << 20;
    const JoinResult result =
        eachInput(failure, params, sink, out, [&](InputFile& in, JoinPlace at) {
            const uint64_t size = in.size();
            for (uint64_t pos = 0; pos < size;) {
                const int64_t moved = in.copyTo(out, pos, std::min(kChunk, size - pos), failure);
                if (moved < 0) return JoinResult::Failed;
                if (moved == 0) break;  // the file shrank meanwhile
                pos += static_cast<uint64_t>(moved);
                if (pos >= size) break;
                if (reportAndPoll(job, sink, at, pos)) return JoinResult::Stopped;
            }
            return JoinResult::Done;
        });
    return endJoin(result, failure, params, out);
}

}  // namespace mpg
