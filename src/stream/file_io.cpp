#include "stream/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace mpg {

int64_t readFully(int fd, uint8_t* into, size_t count, int64_t at, size_t* readBefore) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = at < 0 ? ::read(fd, into + done, count - done)
                                   : ::pread(fd, into + done, count - done,
                                             static_cast<off_t>(at + static_cast<int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
            if (readBefore != nullptr) *readBefore = done;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool writeFully(int fd, const uint8_t* data, size_t count) {
    while (count > 0) {
        const ssize_t put = ::write(fd, data, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        count -= static_cast<size_t>(put);
    }
    return true;
}

bool closeChecked(int fd) {
    return ::close(fd) == 0 || errno == EINTR;
}

bool OutputFile::create(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    buffer_.reserve(kBuffer);
    return fd_ != -1;
}

bool OutputFile::append(const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const size_t take = std::min(kBuffer - buffer_.size(), count);
        buffer_.insert(buffer_.end(), bytes, bytes + take);
        bytes += take;
        count -= take;
        if (buffer_.size() == kBuffer && !flush()) return false;
    }
    return true;
}

bool OutputFile::appendZeros(size_t count) {
    static const std::vector<uint8_t> zeros(64 * 1024, 0);
    while (count > 0) {
        const size_t take = std::min(count, zeros.size());
        if (!append(zeros.data(), take)) return false;
        count -= take;
    }
    return true;
}

int64_t OutputFile::copyFrom(int fd, uint64_t pos, uint64_t count) {
    if (!flush()) return -1;
    uint64_t done = 0;
    bool kernelCopy = true;
    std::vector<uint8_t> chunk;
    while (done < count) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(count - done, kBuffer * 64));
        if (kernelCopy) {
            loff_t from = static_cast<loff_t>(pos + done);
            const ssize_t moved = ::copy_file_range(fd, &from, fd_, nullptr, want, 0);
            if (moved > 0) {
                done += static_cast<uint64_t>(moved);
                continue;
            }
            if (moved == 0) break;
            if (errno == EINTR) continue;
            // Not possible between these two files (another file system, a
            // pipe): through a buffer. A real write error shows there too.
            kernelCopy = false;
        }
        chunk.resize(std::min(want, kBuffer));
        const int64_t got =
            readFully(fd, chunk.data(), chunk.size(), static_cast<int64_t>(pos + done));
        if (got < 0 || !writeFully(fd_, chunk.data(), static_cast<size_t>(got))) return -1;
        if (got == 0) break;
        done += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool OutputFile::flush() {
    const bool ok = writeFully(fd_, buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool OutputFile::close() {
    if (fd_ == -1) return true;
    const bool flushed = flush();
    const bool closed = closeChecked(fd_);
    fd_ = -1;
    return flushed && closed;
}

}  // namespace mpg
