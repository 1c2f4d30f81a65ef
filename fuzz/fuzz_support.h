// What the fuzz targets share: files made in memory (memfd) and named by a
// /proc path, so that the core opens them like any input while nothing
// touches the disk, and the sinks the jobs report to.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/error_list.h"
#include "analysis/grid_sink.h"
#include "analysis/job_sink.h"
#include "analysis/scan.h"
#include "repair/strategies.h"
#include "stream/variables.h"

namespace mpg::fuzz {

// A fuzz target reports a broken property as a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                 \
        }                                                                            \
    } while (0)

class MemFile {
  public:
    explicit MemFile(const uint8_t* data = nullptr, size_t size = 0)
        : fd_(::memfd_create("mpgmend-fuzz", MFD_CLOEXEC)) {
        if (fd_ == -1) abort();
        for (size_t done = 0; done < size;) {
            const ssize_t put = ::write(fd_, data + done, size - done);
            if (put <= 0) abort();
            done += static_cast<size_t>(put);
        }
    }
    explicit MemFile(const std::vector<uint8_t>& bytes) : MemFile(bytes.data(), bytes.size()) {}
    ~MemFile() { ::close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
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
    int fd_;
};

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

class NullSink : public JobSink {
  public:
    void notify(Notify, int32_t) override {}
    void setTitle(const std::string&) override {}
    void clearErrorList() override {}
};

class NullProgress : public RepairProgress {
  public:
    void show(const std::string&) override {}
};

// Scans the file afresh as the window's scan button does; false when it
// cannot be opened or read.
inline bool scanFile(AppState& state, ErrorGrid& grid, const std::string& path) {
    GridSink sink(state, grid);
    return !scanFileAfresh(state, path, sink);
}

}  // namespace mpg::fuzz
