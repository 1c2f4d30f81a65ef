#include "stream/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

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
        if (put == 0) errno = ENOSPC;  // the system took nothing and gave no reason
        if (put <= 0) return false;
        data += put;
        count -= static_cast<size_t>(put);
    }
    return true;
}

bool closeChecked(int fd) {
    return ::close(fd) == 0 || errno == EINTR;
}

OpenedFile openRegularForRead(const std::string& path) {
    OpenedFile opened;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd == -1) {
        opened.failure = failureOf(FailureKind::OpenFailed, path, errno);
        return opened;
    }
    struct stat& st = opened.status;
    if (::fstat(fd, &st) != 0) {
        opened.failure = failureOf(FailureKind::OpenFailed, path, errno);
    } else if (!S_ISREG(st.st_mode)) {
        opened.failure = failureOf(FailureKind::NotRegular, path);
    } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        opened.failure = failureOf(FailureKind::OpenFailed, path, errno);
    } else {
        opened.fd = fd;
        return opened;
    }
    ::close(fd);
    return opened;
}

bool FileIdentity::sameStatus(const struct stat& st) const {
    return device == st.st_dev && inode == st.st_ino && size == static_cast<uint64_t>(st.st_size) &&
           seconds == static_cast<int64_t>(st.st_mtim.tv_sec) &&
           nanoseconds == static_cast<int64_t>(st.st_mtim.tv_nsec);
}

uint64_t digestOf(uint64_t digest, const uint8_t* bytes, size_t count) {
    const std::string_view text(reinterpret_cast<const char*>(bytes), count);
    return (digest ^ std::hash<std::string_view>{}(text)) * 0x100000001B3ULL;
}

Failure identityOf(int fd, const std::string& path, FileIdentity& identity) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failureOf(FailureKind::ReadFailed, path, errno);
    identity = {st.st_dev,
                st.st_ino,
                static_cast<uint64_t>(st.st_size),
                static_cast<int64_t>(st.st_mtim.tv_sec),
                static_cast<int64_t>(st.st_mtim.tv_nsec),
                0};
    // The first MiB and the last, one read each (a file of at most one MiB
    // is read once): a read asked for no more than fstat's size does not
    // go on to find the end.
    constexpr uint64_t kEdge = uint64_t{1} << 20;
    const size_t edge = static_cast<size_t>(std::min(identity.size, kEdge));
    const std::unique_ptr<uint8_t[]> bytes(new uint8_t[edge + 1]);
    const auto take = [&](uint64_t at) {
        size_t readBefore = 0;
        const int64_t got = readFully(fd, bytes.get(), edge, static_cast<int64_t>(at), &readBefore);
        if (got < 0) return failureOf(FailureKind::ReadFailed, path, errno, at + readBefore);
        identity.edges = digestOf(identity.edges, bytes.get(), static_cast<size_t>(got));
        return Failure{};
    };
    if (Failure failed = take(0)) return failed;
    if (identity.size > kEdge) return take(identity.size - edge);
    return {};
}

Failure compareIdentity(int fd, const std::string& path, const FileIdentity& kept) {
    FileIdentity now;
    if (Failure failed = identityOf(fd, path, now)) return failed;
    return now == kept ? Failure{} : failureOf(FailureKind::InputChanged, path);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

namespace {

// The folder part of a path, "." for a bare name.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Six characters that differ between processes, threads and calls.
std::string uniqueSuffix() {
    static std::atomic<uint64_t> calls{0};
    uint64_t v =
        static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ULL ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (calls.fetch_add(1) * 0xBF58476D1CE4E5B9ULL);
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    for (int i = 0; i < 6; ++i) {
        out += kDigits[v % 36];
        v /= 36;
    }
    return out;
}

}  // namespace

bool OutputFile::fail(FailureKind kind, int systemError) {
    if (!failure_) failure_ = failureOf(kind, path_, systemError);
    return false;
}

bool OutputFile::isInput(const struct stat& st) const {
    return std::find(inputs_.begin(), inputs_.end(), std::pair{st.st_dev, st.st_ino}) !=
           inputs_.end();
}

Failure OutputFile::create(const std::string& path, const std::vector<std::string>& inputs) {
    return openOutput(path, inputs) ? Failure{} : failure_;
}

bool OutputFile::openOutput(const std::string& path, const std::vector<std::string>& inputs) {
    discard();
    path_ = path;
    failure_ = {};
    written_ = 0;
    kernelCopy_ = true;
    stage_ = nullptr;
    buffer_.clear();
    buffer_.reserve(kBuffer);
    inputs_.clear();
    for (const std::string& in : inputs) {
        struct stat st {};
        if (::stat(in.c_str(), &st) == 0) inputs_.emplace_back(st.st_dev, st.st_ino);
    }
    if (path == kStandardOutput) return openDirect(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return openTemporary(path, nullptr);
    if (isInput(st)) return fail(FailureKind::OutputIsInput, 0);
    // A regular file that no folder holds (a memfd or a deleted file reached
    // through /proc/self/fd) has no name a temporary file could take.
    if (!S_ISREG(st.st_mode) || st.st_nlink == 0) return openDirect(path);
    // Through a symbolic link the file it leads to is replaced, as a write
    // through the link would have changed it, and the link stays.
    char* real = ::realpath(path.c_str(), nullptr);
    const std::string target = real != nullptr ? real : path;
    std::free(real);
    return openTemporary(target, &st);
}

bool OutputFile::openDirect(const std::string& path) {
    if (path == kStandardOutput) {
        fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    } else {
        // No O_CREAT, no O_TRUNC: the device or FIFO is there and has no
        // contents to empty (a regular file is emptied once it is known to
        // be no input). A FIFO without a reader fails here at once (ENXIO)
        // instead of hanging; the flag is cleared for the writes.
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    }
    if (fd_ == -1) return fail(FailureKind::WriteFailed, errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
        fail(FailureKind::WriteFailed, errno);
    } else if (isInput(st)) {
        fail(FailureKind::OutputIsInput, 0);  // standard output sent into an input
    }
    // Standard output is left as the shell opened it: `>>` appends.
    if (!failure_ && path != kStandardOutput && S_ISREG(st.st_mode) && ::ftruncate(fd_, 0) != 0) {
        fail(FailureKind::WriteFailed, errno);
    }
    if (!failure_) return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

bool OutputFile::openTemporary(const std::string& target, const struct stat* existing) {
    target_ = target;
    const size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // Hidden, beside the output (so the rename stays on one file system),
    // and short enough for the longest name a folder takes.
    const std::string stem = folderOf(target) + "/." + name.substr(0, NAME_MAX - 16) + ".";
    for (int attempt = 0; attempt < 100 && fd_ == -1; ++attempt) {
        temporary_ = stem + uniqueSuffix();
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ == -1 && errno != EEXIST) break;
    }
    if (fd_ == -1) {
        temporary_.clear();
        return fail(FailureKind::WriteFailed, errno);
    }
    // A replaced file keeps its permissions.
    if (existing != nullptr) (void)::fchmod(fd_, existing->st_mode & 07777);
    return true;
}

bool OutputFile::append(const uint8_t* bytes, size_t count) {
    if (stage_ != nullptr) {
        if (failure_ || fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
        return stage_->take(*this, bytes, count);
    }
    return appendThrough(bytes, count);
}

bool OutputFile::refuse(const Failure& failure) {
    if (failure_) return false;
    failure_ = failure;
    if (failure_.path.empty()) failure_.path = path_;
    return false;
}

bool OutputFile::overwrite(uint64_t at, const uint8_t* bytes, size_t count) {
    if (failure_ || fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
    if (at + count > writtenThrough()) return fail(FailureKind::WriteFailed, EINVAL);
    // Bytes still in the buffer are changed there; the rest in the file.
    if (count > 0 && at + count > written_) {
        const uint64_t from = std::max<uint64_t>(at, written_);
        const size_t n = static_cast<size_t>(at + count - from);
        std::memcpy(buffer_.data() + (from - written_), bytes + (from - at), n);
        count -= n;
    }
    while (count > 0) {
        const ssize_t put = ::pwrite(fd_, bytes, count, static_cast<off_t>(at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return fail(FailureKind::WriteFailed, put < 0 ? errno : EIO);
        bytes += put;
        at += static_cast<uint64_t>(put);
        count -= static_cast<size_t>(put);
    }
    return true;
}

bool OutputFile::appendThrough(const uint8_t* bytes, size_t count) {
    if (failure_ || fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
    // A long run goes out from where it stands: copying it into the buffer
    // first would cost as much as writing it.
    if (count >= kBuffer / 2) {
        if (!flush()) return false;
        if (!writeFully(fd_, bytes, count)) return fail(FailureKind::WriteFailed, errno);
        written_ += count;
        return true;
    }
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

// Moves up to `count` bytes of `fd` from `pos` by the kernel; the bytes
// moved. At the first refusal the kernel's copy is given up for this output
// (another file system, a pipe, a device): the caller moves the rest itself,
// and a real write error shows there, with its own reason.
uint64_t OutputFile::copyInKernel(int fd, uint64_t pos, uint64_t count) {
    uint64_t done = 0;
    while (kernelCopy_ && done < count) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(count - done, kBuffer * 64));
        loff_t at = static_cast<loff_t>(pos + done);
        const ssize_t moved = ::copy_file_range(fd, &at, fd_, nullptr, want, 0);
        if (moved > 0) {
            done += static_cast<uint64_t>(moved);
            written_ += static_cast<uint64_t>(moved);
        } else if (moved == 0) {
            break;  // the end of that file
        } else if (errno != EINTR) {
            kernelCopy_ = false;
        }
    }
    return done;
}

int64_t OutputFile::copyFrom(int fd, uint64_t pos, uint64_t count, const std::string& from) {
    if (failure_ || fd_ == -1 || !flush()) {
        fail(FailureKind::WriteFailed, EBADF);
        return -1;
    }
    // Bytes for a stage pass through this process.
    uint64_t done = stage_ != nullptr ? 0 : copyInKernel(fd, pos, count);
    if (kernelCopy_ && stage_ == nullptr) return static_cast<int64_t>(done);
    std::vector<uint8_t> chunk;
    while (done < count) {
        chunk.resize(static_cast<size_t>(std::min<uint64_t>(count - done, kBuffer)));
        const int64_t got =
            readFully(fd, chunk.data(), chunk.size(), static_cast<int64_t>(pos + done));
        if (got < 0) {
            failure_ = failureOf(FailureKind::ReadFailed, from, errno, pos + done);
            return -1;
        }
        if (stage_ != nullptr) {
            if (!stage_->take(*this, chunk.data(), static_cast<size_t>(got))) return -1;
        } else if (!writeFully(fd_, chunk.data(), static_cast<size_t>(got))) {
            fail(FailureKind::WriteFailed, errno);
            return -1;
        } else {
            written_ += static_cast<uint64_t>(got);
        }
        if (got == 0) break;
        done += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool OutputFile::appendHeld(const uint8_t* bytes, size_t count, int fd, uint64_t pos) {
    if (failure_ || fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
    if (count < kBuffer / 2 || !kernelCopy_ || stage_ != nullptr) return append(bytes, count);
    if (!flush()) return false;
    const size_t moved = static_cast<size_t>(copyInKernel(fd, pos, count));
    if (moved == count) return true;
    // The rest from the caller's bytes at once: a full disk shows now, while
    // the caller still knows what it was writing.
    if (!writeFully(fd_, bytes + moved, count - moved))
        return fail(FailureKind::WriteFailed, errno);
    written_ += count - moved;
    return true;
}

bool OutputFile::flush() {
    if (buffer_.empty()) return true;
    const bool ok = writeFully(fd_, buffer_.data(), buffer_.size());
    if (ok) written_ += buffer_.size();
    buffer_.clear();
    return ok || fail(FailureKind::WriteFailed, errno);
}

Failure OutputFile::finish() {
    return finishOutput() ? Failure{} : failure_;
}

bool OutputFile::finishOutput() {
    if (fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
    OutputStage* stage = std::exchange(stage_, nullptr);
    if (!failure_ && stage != nullptr && !stage->close(*this)) fail(FailureKind::WriteFailed, EIO);
    if (!failure_) flush();
    // The bytes reach the disk before the name does when the name is a file
    // already: a crash right after the rename must not leave an empty file
    // where the user's old one was. A new name has nothing to lose, and the
    // wait for the disk would double the time of a join or a save.
    struct stat old {};
    if (!failure_ && !temporary_.empty() && ::stat(target_.c_str(), &old) == 0 &&
        ::fsync(fd_) != 0) {
        fail(FailureKind::WriteFailed, errno);
    }
    if (!closeChecked(fd_)) fail(FailureKind::WriteFailed, errno);
    fd_ = -1;
    if (!failure_ && !temporary_.empty()) {
        // The name may have come to lead to an input while the job ran.
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0 && isInput(st)) {
            fail(FailureKind::OutputIsInput, 0);
        } else if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            // The folder removed or made read-only meanwhile.
            fail(FailureKind::RenameFailed, errno);
        } else {
            temporary_.clear();
        }
    }
    discard();
    return !failure_;
}

void OutputFile::discard() {
    stage_ = nullptr;
    if (fd_ != -1) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

}  // namespace mpg
