// What the fuzz targets share: files made in memory (memfd) and named by a
// /proc path, so that the core opens them like any input while nothing
// touches the disk, and the sinks the jobs report to.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "analysis/grid_sink.h"
#include "analysis/job_sink.h"
#include "analysis/scan.h"
#include "join/join.h"
#include "repair/strategies.h"

namespace mpg::fuzz {

// A fuzz target reports a broken property as a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                 \
        }                                                                            \
    } while (0)

// A checking loop of a target that the coverage feedback leaves out: it
// would only slow the search down and guide it nowhere. Never inlined: in an
// instrumented caller its loops would be instrumented after all.
#define NO_COVERAGE __attribute__((no_sanitize("coverage"), noinline))

// A file in memory. Files outlive their run: making one and freeing it costs
// the kernel more than a run's reads of it, so a run takes the files that
// runs before it gave back, writes its bytes over the old ones and cuts the
// file to them.
class MemFile {
  public:
    explicit MemFile(const uint8_t* data = nullptr, size_t size = 0) : fd_(take()) {
        put(data, size, 0);
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) abort();
        stampAnew();
    }
    explicit MemFile(const std::vector<uint8_t>& bytes) : MemFile(bytes.data(), bytes.size()) {}
    ~MemFile() { spare().push_back(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    int fd() const { return fd_; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    // Appends bytes at the end of the file.
    void append(const uint8_t* data, size_t size) {
        put(data, size, this->size());
        stampAnew();
    }
    // Lengthens the file by `count` zero bytes that take no memory (a hole):
    // a block that swallowed megabytes of zeros, or a file of 4 GiB, costs
    // the run nothing.
    void extend(uint64_t count) {
        if (::ftruncate(fd_, static_cast<off_t>(size() + count)) != 0) abort();
        stampAnew();
    }
    uint64_t size() const {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> all(size());
        if (!all.empty() && ::pread(fd_, all.data(), all.size(), 0) != ssize_t(all.size())) abort();
        return all;
    }

  private:
    // A time stamp no earlier run gave its file. The kernel's own is as
    // coarse as its clock tick, and the files keep their names from run to
    // run: a rip of the same size written within one tick would look
    // unchanged to the core's cache of walked rips (path, size and time).
    void stampAnew() {
        static int64_t runs = 0;
        ++runs;
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {runs / 1'000'000'000, runs % 1'000'000'000}};
        if (::futimens(fd_, times) != 0) abort();
    }
    static std::vector<int>& spare() {
        static std::vector<int> files;
        return files;
    }
    static int take() {
        std::vector<int>& files = spare();
        if (files.empty()) {
            const int fd = ::memfd_create("mpgmend-fuzz", MFD_CLOEXEC);
            if (fd == -1) abort();
            return fd;
        }
        const int fd = files.back();
        files.pop_back();
        return fd;
    }
    void put(const uint8_t* data, size_t size, uint64_t at) {
        for (size_t done = 0; done < size;) {
            const ssize_t put =
                ::pwrite(fd_, data + done, size - done, static_cast<off_t>(at + done));
            if (put <= 0) abort();
            done += static_cast<size_t>(put);
        }
    }

    int fd_;
};

// One to three pieces of a join, cut from a fuzz input: byte 0 gives their
// number (bits 0-1) and the join's options (bit 2 one system header, bit 3
// one padding packet), bytes 1 to 4 two cut points; the pieces are cut from
// the rest, `bytes` of them in all.
inline constexpr size_t kJoinHead = 5;
struct JoinPieces {
    std::vector<std::unique_ptr<MemFile>> files;
    JoinParams params;
    size_t count = 0;
    size_t bytes = 0;
};

// The input must hold kJoinHead bytes at least.
inline JoinPieces cutJoinPieces(const uint8_t* data, size_t size) {
    JoinPieces pieces;
    const uint8_t settings = data[0];
    const uint8_t* body = data + kJoinHead;
    const size_t n = size - kJoinHead;
    pieces.count = 1 + (settings & 3) % 3;
    pieces.bytes = n;
    size_t cuts[2] = {(size_t(data[1]) << 8 | data[2]) % (n + 1),
                      (size_t(data[3]) << 8 | data[4]) % (n + 1)};
    std::sort(cuts, cuts + 2);
    std::vector<size_t> bounds = {0};
    if (pieces.count >= 2) bounds.push_back(cuts[0]);
    if (pieces.count == 3) bounds.push_back(cuts[1]);
    bounds.push_back(n);
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
        pieces.files.push_back(
            std::make_unique<MemFile>(body + bounds[k], bounds[k + 1] - bounds[k]));
        pieces.params.inputs.push_back(pieces.files.back()->path());
    }
    pieces.params.oneSystemHeader = settings & 0x04;
    pieces.params.onePadding = settings & 0x08;
    return pieces;
}

// Fills the error list as the window does. The quiet one declines progress
// reports so that they cost nothing; the other is asked at every step, so the
// scan never takes its quiet steps in one go, and takes one report in 64:
// formatting the progress text at every byte would cost the run most of its
// time and reach nothing new.
class EverySink : public GridSink {
  public:
    using GridSink::GridSink;

  protected:
    bool refreshProgress() override {
        countdown_ = 1;
        return ++asked_ % 64 == 1;
    }

  private:
    uint32_t asked_ = 0;
};

// Takes no report, and is asked for progress as a front end asks: at the
// first ask and then at one in 64. The save asks after every block and, when
// a report is due, looks at the input for changes: at every block that would
// cost a run more than the copy itself.
class NullSink : public JobSink {
  public:
    void notify(const Notice&) override {}
    void reportCheck(CheckResult) override {}
    void clearErrorList() override {}

  protected:
    bool refreshProgress() override {
        countdown_ = 64;
        return true;
    }
};

// Scans the file afresh as the window's scan button does; false when it
// cannot be opened or read.
inline bool scanFile(AppState& state, ErrorGrid& grid, const std::string& path) {
    GridSink sink(grid);
    return !scanFileAfresh(state, path, sink);
}

// What the loader promises of the records it takes, from the file's bytes:
// the first at offset 0, each next one where the one before ends (its real
// size when broken), each inside the file with its start code there and the
// size its header declares, and a broken block's run, when it has one, inside
// it and made of its byte.
NO_COVERAGE inline void checkIndexFits(const BlockTable& table, const std::vector<uint8_t>& file) {
    const auto at = [&](uint64_t i) -> uint32_t { return i < file.size() ? file[i] : 0; };
    uint64_t next = 0;
    for (size_t i = 0; i < table.size(); ++i) {
        const BlockRecord& r = table[i];
        FUZZ_CHECK(r.offset == next && r.offset < file.size());
        const uint32_t code =
            at(r.offset) << 24 | at(r.offset + 1) << 16 | at(r.offset + 2) << 8 | at(r.offset + 3);
        // An end code that a system header made a stream's code is a packet.
        const int32_t counted = int32_t(at(r.offset + 4) << 8 | at(r.offset + 5)) + 6;
        if (r.code == kFillCode && !r.isBroken()) {
            // Sector fill: zero bytes.
            FUZZ_CHECK(r.declaredSize > 0);
            for (int32_t k = 0; k < r.declaredSize; ++k) FUZZ_CHECK(at(r.offset + k) == 0);
        } else if (r.code == kFillCode) {
            // A broken block's bytes past what one entry spans.
            FUZZ_CHECK(r.declaredSize == 0);
        } else {
            FUZZ_CHECK(r.code == code && (code >> 8) == 1);
        }
        if (r.code == kFillCode) {
            // Checked above.
        } else if (code == kPackStartCode) {
            // MPEG-1's 12 bytes, or MPEG-2's 14 and the stuffing.
            const bool mpeg2 = (at(r.offset + 4) >> 6) == 1;
            FUZZ_CHECK(
                r.declaredSize == kPackHeaderSize ||
                (mpeg2 && r.declaredSize == kMpeg2PackHeaderSize + int32_t(at(r.offset + 13) & 7)));
        } else if (code == kEndCode) {
            FUZZ_CHECK(r.declaredSize == kEndCodeSize || r.declaredSize == counted);
        } else {
            FUZZ_CHECK(r.declaredSize == counted);
        }
        uint64_t extent = static_cast<uint64_t>(r.declaredSize);
        if (r.isBroken()) {
            FUZZ_CHECK(r.realSize >= 0 && r.realSize != r.declaredSize);
            extent = static_cast<uint64_t>(r.realSize);
            // No run recorded: its start is where the search began, which
            // may lie behind a block cut short.
            const uint32_t least = r.code == kFillCode ? 0 : kLengthFieldEnd;
            FUZZ_CHECK(r.repeatLength == 0 || (r.repeatStart >= least &&
                                               uint64_t{r.repeatStart} + r.repeatLength <= extent));
            for (uint64_t k = 0; k < r.repeatLength; ++k) {
                FUZZ_CHECK(at(r.offset + r.repeatStart + k) == r.repeatByte);
            }
        }
        next = r.offset + extent;
        FUZZ_CHECK(next <= file.size());
    }
}

}  // namespace mpg::fuzz
