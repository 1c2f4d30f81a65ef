#include "join/join.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "analysis/scan_control.h"
#include "join/clock.h"
#include "model/block_iterator.h"
#include "model/block_walk.h"
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
        SectorFaultList faults;
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
    // The piece as it was opened: it must stay that file, that size and
    // time, those edges, from the first open before the join to its end.
    const FileIdentity& identity() const { return rip_.keptInput().identity; }
    // InputChanged when the piece is no longer the file `first` tells.
    Failure compareWith(const FileIdentity& first) const {
        return identity() == first ? Failure{} : failureOf(FailureKind::InputChanged, path_);
    }
    // The size and time compared after every read and kernel copy, the
    // edges read again at the end of the piece.
    Failure verifyUnchanged() const { return rip_.verifyUnchanged(); }
    Failure verifyIdentity() const { return rip_.verifyIdentity(); }

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
        if (rip_.layout() == nullptr) {
            const int64_t copied = out.copyFrom(fd_, pos, count, path_);
            if (copied >= 0 && (failure = rip_.verifyUnchanged())) return -1;
            return copied;
        }
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
        // Bytes of a piece cut or rewritten meanwhile are not joined.
        if ((failure = rip_.verifyUnchanged())) return false;
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
// Fail: a read or write failed; NoBlock: neither a block nor sector fill
// begins there; InnerEnd: an end code with more of the stream behind it.
enum class Step { Write, Skip, EndOfFile, InnerEnd, Fail };

// An input as the block walker reads it. A read the held chunk cannot serve
// replaces the chunk: `beforeRead` first writes out what the join still
// holds of it.
class InputSource final : public ByteSource {
  public:
    InputSource(InputFile& in, Failure& failure, std::function<bool()> beforeRead = {})
        : in_(in), failure_(failure), beforeRead_(std::move(beforeRead)) {}

    const uint8_t* bytesAt(Position pos, uint32_t count) override {
        if (in_.held(pos, count) == nullptr && beforeRead_ && !beforeRead_()) return nullptr;
        return in_.at(pos, count, failure_);
    }
    Position size() const override { return in_.size(); }
    uint32_t largestRead() const override { return InputFile::kChunk; }

  private:
    InputFile& in_;
    Failure& failure_;
    std::function<bool()> beforeRead_;
};

// How much of a piece's head is read for its first SCR and PTS: enough for
// the frames of a group of pictures, whose first PTS need not be the
// smallest.
constexpr uint64_t kClockHead = uint64_t{1} << 20;

// What a walk's pack headers and packets tell of a piece's clock: each
// read whole. `failed` when a read fails.
class ClockReader final : public BlockObserver {
  public:
    explicit ClockReader(PieceClock& clock) : clock_(clock) {}

    void take(const WalkedBlock& block, ByteSource& source) override {
        if (block.kind != BlockKind::Pack && block.kind != BlockKind::Packet) return;
        const uint32_t length = static_cast<uint32_t>(block.declared);
        const uint8_t* bytes = source.bytesAt(block.pos, length);
        if (bytes == nullptr) {
            failed = true;
        } else if (block.kind == BlockKind::Pack) {
            clock_.takePack(bytes);
        } else {
            clock_.takePacket(bytes, length);
        }
    }
    bool failed = false;

  private:
    PieceClock& clock_;
};

// The clock of a piece's head, read ahead of its copy; the walk stops at
// anything that is not a block. False when a read fails.
bool readHeadClock(InputFile& in, StreamCodes codes, PieceClock& clock, Failure& failure) {
    InputSource source(in, failure);
    BlockIterator<InputSource> walk(source, codes, WalkMode::Strict);
    ClockReader reader(clock);
    walk.walker().observe(reader);
    const uint64_t size = std::min(in.size(), kClockHead);
    while (walk.position() + 12 <= size) {
        const WalkStep step = walk.next();
        if (step.kind == WalkStepKind::Failed || reader.failed) return false;
        if (step.kind != WalkStepKind::Entry || step.entry.kind == BlockKind::None ||
            step.entry.kind == BlockKind::End) {
            break;
        }
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
    // A piece that changed is named alone: no offset in it tells more.
    if (failure.kind != FailureKind::InputChanged) failure.piece = static_cast<int>(piece);
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
// Each piece must stay the file it was at the first open, up to the end of
// its walk: bytes of a piece cut or rewritten meanwhile are never joined.
template <class Walk>
JoinResult eachInput(Failure& failure, const JoinParams& params, JobState& job, JobSink& sink,
                     OutputFile& out, Walk walk) {
    const auto refused = [&] {
        sink.reportRefusal(failure);
        return JoinResult::Failed;
    };
    std::vector<uint64_t> sizes;
    std::vector<FileIdentity> first;
    sizes.reserve(params.inputs.size());
    first.reserve(params.inputs.size());
    for (const std::string& path : params.inputs) {
        InputFile in;
        if (!in.open(path, failure)) return refused();
        sizes.push_back(in.size());
        first.push_back(in.identity());
    }
    JoinPlace place{0, params.inputs.size(), 0, 0};
    for (const uint64_t size : sizes) place.total += size;
    if (job.stopRequested.load(std::memory_order_relaxed)) {
        failure = failureOf(FailureKind::Stopped, "");
        return JoinResult::Failed;
    }
    if (out.create(params.output, params.inputs, params.existing, &job.stopRequested)) {
        if (out.failure().kind == FailureKind::OutputIsInput) {
            sink.reportRefusal(out.failure());
        }
        return JoinResult::Failed;
    }
    for (size_t k = 0; k < params.inputs.size(); ++k) {
        InputFile in;
        if (!in.open(params.inputs[k], failure)) return refused();  // gone meanwhile
        if ((failure = in.compareWith(first[k]))) return JoinResult::Failed;
        place.input = k;
        const JoinResult result = walk(in, place);
        if (result == JoinResult::Done && (failure = in.verifyIdentity())) {
            return JoinResult::Failed;
        }
        if (result != JoinResult::Done) return result;
        place.before += sizes[k];
    }
    return JoinResult::Done;
}

// Ends a join: a finished one gives the output its name, a stopped one keeps
// what it wrote, a failed one leaves nothing new behind.
Failure endJoin(JoinResult result, Failure failure, OutputFile& out) {
    // A write the stop interrupted fails the walk.
    if (result == JoinResult::Stopped || out.failure().kind == FailureKind::Stopped) {
        return out.keepStopped();
    }
    if (result == JoinResult::Failed) {
        if (!failure) failure = out.failure();
        out.discard();
        return failure;
    }
    return out.finish();
}

// The structured join: each piece walked block by block and copied, with
// the system headers and padding packets the parameters drop left out, the
// sector fill copied as it is, and in a continuous join every clock of a
// piece after the first moved on from where the one before ended.
class StructuredJoin {
  public:
    StructuredJoin(JobState& job, Failure& failure, const JoinParams& params, JobSink& sink,
                   OutputFile& out, std::vector<InnerEndCode>* innerEnds)
        : job_(job),
          failure_(failure),
          params_(params),
          sink_(sink),
          out_(out),
          innerEnds_(innerEnds),
          codes_(params.rules) {}

    // Walks and copies one piece; Done to go on with the next.
    JoinResult piece(InputFile& in, JoinPlace at) {
        in_ = &in;
        at_ = at;
        runStart_ = runEnd_ = 0;
        runRewritten_ = false;
        blocks_ = 0;
        if (params_.continuous && at.input > 0) {
            PieceClock next;
            if (!readHeadClock(in, codes_, next, failure())) return failed(0);
            offset_ = seamOffset(written_, next);
            scrFloor_ = written_.lastScr();
            written_ = PieceClock{};
        }
        InputSource source(in, failure(), [this] { return flushRun(); });
        BlockIterator<InputSource> walk(source, codes_, WalkMode::Strict);
        // Sector fill is copied as it is: the sectors behind it stay on
        // their grid, and each piece's length is a whole number of sectors.
        if (!walk.start()) return failed(0);
        const uint64_t size = in.size();
        while (walk.position() < size) {
            const uint64_t pos = walk.position();
            const WalkStep walked = walk.next();
            if (walked.kind == WalkStepKind::Failed) return failed(pos);
            if (walked.kind == WalkStepKind::End) break;
            if (walked.kind != WalkStepKind::Entry) return noBlockAt(source, walked.at);
            // Sizes in 32 bits: a length field of 65,530 or more neither
            // wraps nor stalls the walk.
            const WalkEntry& entry = walked.entry;
            const Step step = stepOf(entry);
            if (step == Step::Fail) return failed(pos);
            if (step == Step::EndOfFile) break;
            if (step == Step::InnerEnd && innerEnds_ != nullptr) {
                innerEnds_->push_back({at.input, pos});
            }
            if (step == Step::Write && !write(entry)) return failed(pos);
            // A remainder of at most 4 bytes (typically the file's own end
            // code) is neither examined nor copied.
            if (walk.position() + 4 >= size) break;
            if (reportAndPoll(job_, sink_, at, walk.position())) {
                if (!flushRun()) return failed(pos);
                return JoinResult::Stopped;
            }
        }
        if (!flushRun()) return failed(size);
        if (blocks_ == 0) {
            failure() = failureOf(FailureKind::EmptyPiece, in.path());
            failure().piece = static_cast<int>(at.input);
            return JoinResult::Failed;
        }
        return JoinResult::Done;
    }

  private:
    Failure& failure() { return failure_; }

    JoinResult failed(uint64_t pos) { return failedAt(failure(), out_, *in_, at_.input, pos); }

    // What the join does with a block or sector fill.
    Step stepOf(const WalkEntry& entry) {
        if (entry.kind != BlockKind::End && entry.kind != BlockKind::None) ++blocks_;
        switch (entry.kind) {
            case BlockKind::Pack:
                return Step::Write;
            case BlockKind::SystemHeader:
                systemHeaders_ = std::min(systemHeaders_ + 1, 2);
                return systemHeaders_ > 1 && params_.oneSystemHeader ? Step::Skip : Step::Write;
            case BlockKind::Packet:
                if (entry.code != kPaddingStreamCode) return Step::Write;
                paddings_ = std::min(paddings_ + 1, 2);
                return paddings_ > 1 && params_.onePadding ? Step::Skip : Step::Write;
            case BlockKind::End:
                return endCodeStep(entry.pos + entry.real);
            case BlockKind::None:
                break;
        }
        return Step::Write;
    }

    // A position that begins neither a block nor fill fails the join with
    // what stands there.
    JoinResult noBlockAt(InputSource& source, uint64_t pos) {
        const uint8_t* found = source.bytesAt(pos, kBlockHeadBytes);
        if (found == nullptr) return failed(pos);
        failure() = structureFailure(*in_, at_.input, pos, found);
        return JoinResult::Failed;
    }

    // An end code whose stream goes on behind it (from `behind`) is one of
    // two recordings in one piece; the one before the zeros that fill out
    // the stream's last sector, or before the end of the piece, ends it.
    Step endCodeStep(uint64_t behind) {
        const uint64_t size = in_->size();
        for (uint64_t at = behind; at < size;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size - at, InputFile::kChunk));
            const uint8_t* bytes = read(at, n);
            if (bytes == nullptr) return Step::Fail;
            if (!std::all_of(bytes, bytes + n, [](uint8_t b) { return b == 0; })) {
                return Step::InnerEnd;
            }
            at += n;
        }
        return Step::EndOfFile;
    }

    // Writes a block, or sector fill, behind the blocks written before.
    bool write(const WalkEntry& block) {
        const uint64_t pos = block.pos;
        const uint64_t length = block.real;
        if (block.kind == BlockKind::None) {
            // Fill, which may be gigabytes of a sparse file: copied by the
            // kernel, never held, behind the blocks before it.
            if (!flushRun()) return false;
            for (uint64_t done = 0; done < length;) {
                const int64_t moved = in_->copyTo(out_, pos + done, length - done, failure());
                // No byte where the piece had them: it shrank meanwhile.
                if (moved == 0) failure() = failureOf(FailureKind::InputChanged, in_->path());
                if (moved <= 0) return false;
                done += static_cast<uint64_t>(moved);
            }
            runStart_ = runEnd_ = pos + length;
            return true;
        }
        if (read(pos, length) == nullptr) return false;
        if (runEnd_ != pos) {
            if (!flushRun()) return false;
            runStart_ = runEnd_ = pos;
        }
        if (params_.continuous) moveClock(block.kind, in_->held(pos, length), length);
        runEnd_ = pos + length;
        return true;
    }

    // A continuous join: a block's clock moved on by the piece's offset, in
    // the reader's chunk (the input file is never written); the clock of
    // the piece as written learns from it.
    void moveClock(BlockKind kind, uint8_t* block, uint64_t length) {
        if (kind != BlockKind::Pack && kind != BlockKind::Packet) return;
        if (offset_ != 0 || scrFloor_) {
            runRewritten_ = true;
            if (kind == BlockKind::Pack) {
                const std::optional<uint64_t> scr = shiftPackScr(block, offset_, scrFloor_);
                if (scr && scr != scrFloor_) scrFloor_.reset();
            } else {
                shiftPacketStamps(block, static_cast<uint32_t>(length), offset_);
            }
        }
        if (kind == BlockKind::Pack) {
            written_.takePack(block);
        } else {
            written_.takePacket(block, static_cast<uint32_t>(length));
        }
    }

    // The blocks written as they stand (or as rewritten in place) gather
    // into a run of the chunk read last, which goes out in one write when a
    // block breaks it off, before another chunk is read, and at the end. A
    // run as the file holds it may be copied by the kernel; one with a block
    // rewritten goes out from the chunk.
    bool flushRun() {
        const size_t count = static_cast<size_t>(runEnd_ - runStart_);
        const uint8_t* bytes = in_->held(runStart_, count);
        const bool ok =
            count == 0 || (runRewritten_ ? out_.append(bytes, count)
                                         : in_->appendHeld(out_, bytes, count, runStart_));
        runStart_ = runEnd_;
        runRewritten_ = false;
        return ok;
    }

    const uint8_t* read(uint64_t pos, size_t count) {
        if (in_->held(pos, count) == nullptr && !flushRun()) return nullptr;
        return in_->at(pos, count, failure());
    }

    JobState& job_;
    Failure& failure_;
    const JoinParams& params_;
    JobSink& sink_;
    OutputFile& out_;
    std::vector<InnerEndCode>* innerEnds_;
    // The blocks of the current piece met so far, copied or left out.
    uint64_t blocks_ = 0;
    // The join's own codes, from the initial ones: those of the repair
    // page's table must stay as its scan left them.
    StreamCodes codes_;
    int systemHeaders_ = 0, paddings_ = 0;
    // A continuous join: the clock of the piece being copied, as written,
    // and the offset its stamps get; the last SCR of the previous piece,
    // while the current piece's would come before it.
    PieceClock written_;
    uint64_t offset_ = 0;
    std::optional<uint64_t> scrFloor_;
    InputFile* in_ = nullptr;
    JoinPlace at_;
    uint64_t runStart_ = 0, runEnd_ = 0;
    bool runRewritten_ = false;
};

}  // namespace

Failure joinStructured(JobState& job, const JoinParams& params, JobSink& sink,
                       std::vector<InnerEndCode>* innerEnds) {
    OutputFile out;
    Failure failure;
    StructuredJoin join(job, failure, params, sink, out, innerEnds);
    JoinResult result = eachInput(failure, params, job, sink, out,
                                  [&](InputFile& in, JoinPlace at) { return join.piece(in, at); });
    if (result == JoinResult::Done && !out.append(kEndCodeBytes.data(), kEndCodeBytes.size())) {
        result = JoinResult::Failed;
    }
    return endJoin(result, failure, out);
}

Failure glueFiles(JobState& job, const JoinParams& params, JobSink& sink) {
    Failure failure;
    OutputFile out;
    // In chunks between which the progress is reported and a stop is noticed.
    constexpr uint64_t kChunk = uint64_t{8} << 20;
    const JoinResult result =
        eachInput(failure, params, job, sink, out, [&](InputFile& in, JoinPlace at) {
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
    return endJoin(result, failure, out);
}

}  // namespace mpg
