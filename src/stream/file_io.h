// Checked file I/O shared by the stream view, the writer, the index file and
// the join: reads that go on until the bytes or the file end, writes that go
// on until every byte is taken, a close whose failure counts, the one checked
// open of an input, and the one writer through which every output goes.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "stream/failure.h"

namespace mpg {

// The size of the buffers through which inputs are read ahead and outputs
// written: 1 MiB, so that a system call costs little beside the bytes it
// moves. Fuzz builds take 4 KiB: their inputs are a few kilobytes, and only
// so do they reach the code that refills or flushes a buffer midway. No
// result depends on the size.
#ifdef MPGMEND_SMALL_BUFFERS
inline constexpr size_t kIoBuffer = size_t{4} << 10;
#else
inline constexpr size_t kIoBuffer = size_t{1} << 20;
#endif

// Where bytes read from file position `pos` go in `storage`: at the same
// address modulo kReadAlign as their position in the file. The kernel copies
// from its page cache several times faster between equally aligned
// addresses. `storage` has 2 * kReadAlign bytes of room beyond what is read.
inline constexpr size_t kReadAlign = 64;
inline uint8_t* placeLikeFile(uint8_t* storage, uint64_t pos) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(storage);
    return storage + (-at % kReadAlign) + pos % kReadAlign;
}

// Reads `count` bytes, from file position `at` (pread) or, when `at` is -1,
// from the current position. Returns the bytes read (fewer only at the end
// of the file) or -1 on an error, with errno set and, when `readBefore` is
// given, the bytes read before the failing call in it (a bad sector fails
// only the read that reaches it).
[[nodiscard]] int64_t readFully(int fd, uint8_t* into, size_t count, int64_t at = -1,
                                size_t* readBefore = nullptr);
// Writes all `count` bytes; false on any error (a full disk, a file-size limit),
// with the bytes written before it in `wrote` when given. A write that a
// signal interrupted (EINTR) is made again, unless `stop` is given and set:
// then, and before any write once it is set, false with errno EINTR. A write
// into a pipe nobody reads waits for ever; the stop's signal ends the wait.
[[nodiscard]] bool writeFully(int fd, const uint8_t* data, size_t count,
                              const std::atomic<bool>* stop = nullptr, size_t* wrote = nullptr);
// Linux releases the descriptor even when close reports EINTR; closing again
// could hit a file another thread has opened meanwhile.
bool closeChecked(int fd);

// An input opened for reading: its descriptor (-1 when the open failed),
// what fstat told of it, and why the open failed.
struct [[nodiscard]] OpenedFile {
    int fd = -1;
    struct stat status {};
    Failure failure;
};

// Opens an existing regular file for reading (OpenFailed with the system's
// reason, or NotRegular). A directory, a FIFO, a socket or a device such as
// /dev/zero has no size a stream could be measured by. The open itself is
// made with O_NONBLOCK, so that a FIFO without a writer cannot hang it
// before fstat has told what it is; the flag is cleared again for the reads.
OpenedFile openRegularForRead(const std::string& path);

// What tells the file a job reads from the file an earlier job read under
// the same name: a file replaced by another (a new inode), cut, extended or
// touched (size, modification time), or rewritten in place with its time
// set back (the digest of its first and last MiB, where a copy in progress,
// a header rewritten or a tail cut off show). Taken by the job that fills
// the table and compared by every later one.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t size = 0;
    int64_t seconds = 0, nanoseconds = 0;
    uint64_t edges = 0;

    bool operator==(const FileIdentity&) const = default;
    // Whether `st` tells the same file, size and time (the edges are not read).
    bool sameStatus(const struct stat& st) const;
};

// Folds `count` bytes into a running 64-bit digest.
uint64_t digestOf(uint64_t digest, const uint8_t* bytes, size_t count);
// The identity of the open file `fd` (`path` names it in a failure), its
// first and last MiB read: two reads however long the file.
Failure identityOf(int fd, const std::string& path, FileIdentity& identity);
// The open file compared with `kept`: InputChanged naming `path` on any
// difference, ReadFailed when it cannot be looked at or read.
Failure compareIdentity(int fd, const std::string& path, const FileIdentity& kept);

// Whether two paths name the same existing file (device and inode), through
// any symbolic link, hard link or second spelling of the path.
bool sameFile(const std::string& a, const std::string& b);

class OutputFile;

// What becomes of a file that holds the output's name already when the
// finished output takes that name.
enum class Existing : uint8_t {
    Keep,     // it stays, and the output fails (OutputExists) and is removed
    Replace,  // it is replaced: the user asked for that (--force, or yes)
};

// The names of the writer's temporary files begin with this, followed by the
// writing process's id, six characters of its own, a '-' and the output's
// name: ".mpgmend-tmp-4242-k3x9qa-film.mpg". A file a killed writer left
// behind is known by that, and the next writer in its folder removes it.
inline constexpr const char* kTemporaryPrefix = ".mpgmend-tmp-";
// Behind the output's name, the name under which a stopped job keeps what
// it wrote when that would replace a file.
inline constexpr const char* kPartialSuffix = ".partial";

// A stage in front of the writer that turns the bytes appended into the
// bytes the file holds (the sectors of a video CD rip around a repaired
// stream). It writes through OutputFile::appendThrough and overwrite, so
// that the output stays the one writer's, with its checks and its rename.
class OutputStage {
  public:
    virtual ~OutputStage() = default;
    // Takes `count` bytes appended to the output.
    [[nodiscard]] virtual bool take(OutputFile& out, const uint8_t* bytes, size_t count) = 0;
    // Writes what it still holds; called once, before the output takes its name.
    [[nodiscard]] virtual bool close(OutputFile& out) = 0;
    // The bytes taken so far.
    virtual uint64_t taken() const = 0;
};

// The one writer of every file the program writes: the repaired stream, the
// index file and the joined stream.
//
// - An output that is one of the job's inputs, by device and inode, through
//   any path or link, is refused before anything is written.
// - A regular output, or one that does not exist yet, is written to a
//   temporary file in the output's own folder and takes the output's name
//   only in finish(): until then an existing file of that name stays whole,
//   and a job that fails leaves nothing new behind (discard()). A file that
//   holds the name at the end is replaced only when Existing::Replace was
//   asked, even one that appeared while the job ran. A job the user stopped
//   keeps what it wrote (keepStopped()), but never in place of a file:
//   beside it, under the name with kPartialSuffix.
// - Temporary files of writers that were killed (their process is gone) and
//   that are older than this run are removed from the output's folder first.
// - An output that is not a regular file (/dev/null, a FIFO, a terminal,
//   "-" for standard output) is written directly: a rename over /dev/null
//   would replace the device for the whole machine.
//
// Writes go through a buffer of kIoBuffer bytes: one write call per block
// would cost more than the copy itself. Every write is checked; the first
// failure is kept in failure() and every later call fails at once.
class OutputFile {
  public:
    static constexpr size_t kBuffer = kIoBuffer;
    // The output name that stands for standard output.
    static constexpr const char* kStandardOutput = "-";

    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens `path` for writing; `inputs` are the files it must not be, and
    // `existing` says whether a file of that name may be replaced: one that
    // may not, and is there already, fails here (OutputExists). A write into
    // an output that can keep it waiting (a pipe, a FIFO, a terminal) ends
    // once `stop` is set (failure Stopped). The failure, none when the
    // output is open.
    [[nodiscard]] Failure create(const std::string& path, const std::vector<std::string>& inputs,
                                 Existing existing, const std::atomic<bool>* stop = nullptr);
    [[nodiscard]] bool append(const uint8_t* bytes, size_t count);
    [[nodiscard]] bool appendZeros(size_t count);
    // Appends `count` bytes of the file `fd` from position `pos`, copied by
    // the kernel where it can, so that they never pass through this process.
    // Returns the bytes copied (fewer only at the end of that file) or -1;
    // `from` names that file in a failed read.
    int64_t copyFrom(int fd, uint64_t pos, uint64_t count, const std::string& from);
    // Appends `count` bytes that the caller holds at `bytes` and that stand
    // as they are at `pos` of the file `fd`: a long run is copied by the
    // kernel from that file where it can, else written from `bytes`.
    [[nodiscard]] bool appendHeld(const uint8_t* bytes, size_t count, int fd, uint64_t pos);
    // Sends everything appended from now on through `stage` (which must
    // outlive the output's finish or discard); written() then counts the
    // bytes the stage took. create() drops the stage.
    void setStage(OutputStage* stage) { stage_ = stage; }
    // For a stage: appends the file's own bytes, and writes `count` bytes at
    // `at` over bytes already appended (a header whose sizes are known only
    // at the end). An output that cannot seek (a pipe) refuses overwrite.
    [[nodiscard]] bool appendThrough(const uint8_t* bytes, size_t count);
    [[nodiscard]] bool overwrite(uint64_t at, const uint8_t* bytes, size_t count);
    // Whether overwrite can reach the bytes written: not in a pipe, a FIFO
    // or a terminal, which take each byte once.
    bool seekable() const;
    // The bytes the file holds so far, behind any stage.
    uint64_t writtenThrough() const { return written_ + buffer_.size(); }
    // Fails the output with `failure` (a stage's own reason; without a path
    // it names the output), unless it failed already; false.
    bool refuse(const Failure& failure);

    // Writes what is buffered, closes, and gives a temporary file the
    // output's name; a stage writes what it holds first. The failure (and
    // the temporary file removed) if anything of it failed, the rename
    // included; none when the output holds all that was appended.
    [[nodiscard]] Failure finish();
    // Ends the output of a job the user stopped, and returns that stop
    // (Stopped, with the name kept in path and the bytes it holds in
    // position) or why what was written could not be kept. What was written
    // takes the output's name when no file held that name at create() and
    // none holds it now; otherwise the name with kPartialSuffix, replacing a
    // file there only with Existing::Replace. A write the stop interrupted
    // ends the output where it stood; one written directly stays as it is.
    [[nodiscard]] Failure keepStopped();
    // Closes without finishing: a temporary file is removed, so the output's
    // name keeps what it held before. Whatever was written directly stays.
    void discard();

    const Failure& failure() const { return failure_; }
    // The bytes taken so far, those still in the buffer included: where the
    // next byte appended stands in the output (in the stage's input when
    // there is a stage).
    uint64_t written() const { return stage_ != nullptr ? stage_->taken() : writtenThrough(); }

  private:
    bool openOutput(const std::string& path, const std::vector<std::string>& inputs);
    bool finishOutput(bool stopped);
    bool placeTemporary(bool stopped);
    bool moveTemporary(const std::string& name, const std::string& shown, Existing existing);
    bool flush();
    uint64_t copyInKernel(int fd, uint64_t pos, uint64_t count);
    bool fail(FailureKind kind, int systemError);
    bool failAt(FailureKind kind, const std::string& path, int systemError);
    // A write failed with `systemError`: EINTR is the user's stop.
    bool failWrite(int systemError);
    bool write(const uint8_t* bytes, size_t count);
    bool isInput(const struct stat& st) const;
    bool openDirect(const std::string& path);
    bool openTemporary(const std::string& target, const struct stat* existing);

    int fd_ = -1;
    std::vector<uint8_t> buffer_;
    std::string path_;       // as the caller named it
    std::string target_;     // the name the temporary file takes at the end
    std::string temporary_;  // empty for an output written directly
    std::string partial_;    // the name a stopped job keeps its bytes under, as shown
    std::string kept_;       // the name the bytes kept at a stop took
    Existing existing_ = Existing::Keep;
    bool existed_ = false;  // a file held the name when the output was created
    // Set by the user's stop; minded by the writes into an output that can
    // keep them waiting.
    const std::atomic<bool>* stop_ = nullptr;
    bool mayWait_ = false;
    std::vector<std::pair<dev_t, ino_t>> inputs_;
    Failure failure_;
    uint64_t written_ = 0;
    bool kernelCopy_ = true;  // until copy_file_range refuses this output
    OutputStage* stage_ = nullptr;
};

}  // namespace mpg
