#include "repair/index_file.h"

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

bool writeRecords(OutputFile& out, const BlockTable& table) {
    std::vector<uint8_t> buffer(std::min(table.size(), kRecordsPerChunk) * kBlockRecordSize);
    for (size_t first = 0; first < table.size(); first += kRecordsPerChunk) {
        const size_t n = std::min(kRecordsPerChunk, table.size() - first);
        for (size_t i = 0; i < n; ++i) {
            encodeBlockRecord(table[first + i], buffer.data() + i * kBlockRecordSize);
        }
        if (!out.append(buffer.data(), n * kBlockRecordSize)) return false;
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

Failure saveIndexFile(const BlockTable& table, const std::string& path,
                      const std::vector<std::string>& inputs) {
    OutputFile out;
    if (out.create(path, inputs) && writeRecords(out, table) && out.finish()) return {};
    return out.failure();
}

IndexLoad loadIndexFile(const std::string& path, BlockTable& table) {
    Failure failure;
    const int fd = openRegularForRead(path, failure);
    if (fd < 0) {
        const int reason = failure.systemError;
        return reason == ENOENT || reason == ENOTDIR ? IndexLoad::Missing : IndexLoad::Unreadable;
    }
    const IndexLoad result = loadFrom(fd, table);
    ::close(fd);
    return result;
}

}  // namespace mpg
