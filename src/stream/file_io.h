// Checked file I/O shared by the stream view, the writer, the index file and
// the join: reads that go on until the bytes or the file end, writes that go
// on until every byte is taken, and a close whose failure counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mpg {

// Reads `count` bytes, from file position `at` (pread) or, when `at` is -1,
// from the current position. Returns the bytes read (fewer only at the end
// of the file) or -1 on an error, with errno set and, when `readBefore` is
// given, the bytes read before the failing call in it (a bad sector fails
// only the read that reaches it).
int64_t readFully(int fd, uint8_t* into, size_t count, int64_t at = -1,
                  size_t* readBefore = nullptr);
// Writes all `count` bytes; false on any error (a full disk, a file-size limit).
bool writeFully(int fd, const uint8_t* data, size_t count);
// Linux releases the descriptor even when close reports EINTR; closing again
// could hit a file another thread has opened meanwhile.
bool closeChecked(int fd);

// An output file written through a buffer of 1 MiB: one write call per
// block would cost more than the copy itself.
class OutputFile {
  public:
    static constexpr size_t kBuffer = size_t{1} << 20;

    OutputFile() = default;
    ~OutputFile() { close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties an existing one.
    bool create(const std::string& path);
    bool append(const uint8_t* bytes, size_t count);
    bool appendZeros(size_t count);
    // Appends `count` bytes of the file `fd` from position `pos`, copied by
    // the kernel where it can, so that they never pass through this process.
    // Returns the bytes copied (fewer only at the end of that file) or -1.
    int64_t copyFrom(int fd, uint64_t pos, uint64_t count);
    // Writes what is buffered, then closes; false if anything of it failed.
    bool close();

  private:
    bool flush();

    int fd_ = -1;
    std::vector<uint8_t> buffer_;
};

}  // namespace mpg
