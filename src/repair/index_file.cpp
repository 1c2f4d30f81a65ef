#include "repair/index_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "stream/file_io.h"

namespace mpg {

namespace {

// Whole records per read or write: about 1 MiB. A table of a million blocks
// is never held twice in encoded form.
constexpr size_t kRecordsPerChunk = (size_t{1} << 20) / kBlockRecordSize;

bool writeRecords(int fd, const BlockTable& table) {
    std::vector<uint8_t> buffer(std::min(table.size(), kRecordsPerChunk) * kBlockRecordSize);
    for (size_t first = 0; first < table.size(); first += kRecordsPerChunk) {
        const size_t n = std::min(kRecordsPerChunk, table.size() - first);
        for (size_t i = 0; i < n; ++i) {
            encodeBlockRecord(table[first + i], buffer.data() + i * kBlockRecordSize);
        }
        if (!writeFully(fd, buffer.data(), n * kBlockRecordSize)) return false;
    }
    return true;
}

// The file's size was checked: exactly `count` records are expected.
bool readRecords(int fd, size_t count, std::vector<BlockRecord>& out) {
    out.reserve(count);
    std::vector<uint8_t> buffer(std::min(count, kRecordsPerChunk) * kBlockRecordSize);
    while (out.size() < count) {
        const size_t n = std::min(kRecordsPerChunk, count - out.size());
        const size_t bytes = n * kBlockRecordSize;
        if (readFully(fd, buffer.data(), bytes) != static_cast<int64_t>(bytes)) return false;
        for (size_t i = 0; i < n; ++i) {
            out.push_back(decodeBlockRecord(buffer.data() + i * kBlockRecordSize));
        }
    }
    return true;
}

// Empty for anything but a regular file: directories, pipes and devices.
std::optional<uint64_t> regularFileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

IndexLoad loadFrom(int fd, BlockTable& table) {
    const std::optional<uint64_t> size = regularFileSize(fd);
    if (!size) return IndexLoad::Unreadable;
    if (*size % kBlockRecordSize != 0) return IndexLoad::BadSize;
    std::vector<BlockRecord> records;
    if (!readRecords(fd, static_cast<size_t>(*size / kBlockRecordSize), records)) {
        return IndexLoad::Unreadable;
    }
    table.assign(records);
    return IndexLoad::Loaded;
}

}  // namespace

bool saveIndexFile(const BlockTable& table, const std::string& path) {
    // Only a regular file is written (O_NONBLOCK: a FIFO without a reader
    // fails at once instead of hanging), so the clean-up below can never
    // remove a device or pipe that happens to carry the name.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return false;
    if (!regularFileSize(fd)) {
        ::close(fd);
        return false;
    }
    const bool written = writeRecords(fd, table);
    const bool closed = closeChecked(fd);
    if (written && closed) return true;
    ::unlink(path.c_str());
    return false;
}

IndexLoad loadIndexFile(const std::string& path, BlockTable& table) {
    // O_NONBLOCK keeps a FIFO of that name from hanging the open; it changes
    // nothing for the regular files that are read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? IndexLoad::Missing : IndexLoad::Unreadable;
    }
    const IndexLoad result = loadFrom(fd, table);
    ::close(fd);
    return result;
}

}  // namespace mpg
