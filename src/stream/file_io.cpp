#include "stream/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace mpg {

int64_t readFully(int fd, uint8_t* into, size_t count, int64_t at) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = at < 0 ? ::read(fd, into + done, count - done)
                                   : ::pread(fd, into + done, count - done,
                                             static_cast<off_t>(at + static_cast<int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
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
