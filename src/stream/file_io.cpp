#include "stream/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

bool writeFully(int fd, const uint8_t* data, size_t count, const std::atomic<bool>* stop,
                size_t* wrote) {
    size_t done = 0;
    ssize_t put = 0;
    while (done < count) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            errno = EINTR;
            put = -1;
            break;
        }
        put = ::write(fd, data + done, count - done);
        if (put < 0 && errno == EINTR) continue;  // a stop is seen above
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    if (wrote != nullptr) *wrote = done;
    if (done == count) return true;
    if (put == 0) errno = ENOSPC;  // the system took nothing and gave no reason
    return false;
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

// When this run began: a temporary file written since may be another
// writer's that is still at work, whatever its process's id says.
const time_t gRunStart = ::time(nullptr);

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

// The process that wrote a file named like the writer's temporary files
// (kTemporaryPrefix, a process id, six characters of [a-z0-9], '-' and at
// least one character of the output's name); 0 for any other name.
pid_t temporaryOwner(std::string_view name) {
    const std::string_view prefix = kTemporaryPrefix;
    if (!name.starts_with(prefix)) return 0;
    name.remove_prefix(prefix.size());
    size_t digits = 0;
    int64_t pid = 0;
    while (digits < name.size() && digits < 10 && name[digits] >= '0' && name[digits] <= '9') {
        pid = pid * 10 + (name[digits++] - '0');
    }
    if (digits == 0 || name[0] == '0' || pid > INT_MAX || name.size() < digits + 9 ||
        name[digits] != '-' || name[digits + 7] != '-') {
        return 0;
    }
    for (const char c : name.substr(digits + 1, 6)) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return 0;
    }
    return static_cast<pid_t>(pid);
}

// Removes from `folder` what writers that were killed (SIGKILL, a crash, a
// power cut) could not remove themselves: only regular files named exactly
// like the temporary files, whose process is gone and which were last
// written before this run began. A process that lives, under any user, keeps
// its files.
void removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const int at = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = temporaryOwner(entry->d_name);
        if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) {
            continue;
        }
        struct stat st {};
        if (::fstatat(at, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < gRunStart) {
            ::unlinkat(at, entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

// Gives `from` the name `to` unless a file holds that name already (EEXIST):
// one atomic rename that refuses to replace, where the file system has it,
// else a second link and the first one removed. Where neither is to be had
// (a file system without links), a look first and a plain rename. The
// system's error; 0 when `from` took the name.
int renameKeeping(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

bool OutputFile::fail(FailureKind kind, int systemError) {
    return failAt(kind, path_, systemError);
}

bool OutputFile::failAt(FailureKind kind, const std::string& path, int systemError) {
    if (!failure_) failure_ = failureOf(kind, path, systemError);
    return false;
}

bool OutputFile::failWrite(int systemError) {
    if (systemError != EINTR) return fail(FailureKind::WriteFailed, systemError);
    // The user's stop: the output keeps the bytes written so far.
    if (!failure_) failure_ = failureOf(FailureKind::Stopped, path_, 0, written_);
    return false;
}

bool OutputFile::write(const uint8_t* bytes, size_t count) {
    size_t wrote = 0;
    if (writeFully(fd_, bytes, count, mayWait_ ? stop_ : nullptr, &wrote)) return true;
    const int error = errno;
    // What a stop leaves counts among the bytes kept; after any other
    // failure the output is removed or cut short anyway.
    written_ += wrote;
    return failWrite(error);
}

bool OutputFile::isInput(const struct stat& st) const {
    return std::find(inputs_.begin(), inputs_.end(), std::pair{st.st_dev, st.st_ino}) !=
           inputs_.end();
}

Failure OutputFile::create(const std::string& path, const std::vector<std::string>& inputs,
                           Existing existing, const std::atomic<bool>* stop) {
    existing_ = existing;
    stop_ = stop;
    return openOutput(path, inputs) ? Failure{} : failure_;
}

bool OutputFile::openOutput(const std::string& path, const std::vector<std::string>& inputs) {
    discard();
    path_ = path;
    failure_ = {};
    written_ = 0;
    kernelCopy_ = true;
    stage_ = nullptr;
    existed_ = false;
    mayWait_ = false;
    partial_ = path + kPartialSuffix;
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
    if (existing_ == Existing::Keep) return fail(FailureKind::OutputExists, 0);
    existed_ = true;
    // Through a symbolic link the file it leads to is replaced, as a write
    // through the link would have changed it, and the link stays; a stopped
    // job's bytes go beside that file.
    char* real = ::realpath(path.c_str(), nullptr);
    const std::string target = real != nullptr ? real : path;
    std::free(real);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        partial_ = target + kPartialSuffix;
    }
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
    // A pipe, a FIFO or a terminal takes the bytes only as fast as its
    // reader does, and one nobody reads keeps a write waiting.
    mayWait_ = !S_ISREG(st.st_mode);
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
    const std::string folder = folderOf(target);
    removeStaleTemporaries(folder);
    // Hidden, beside the output (so the rename stays on one file system),
    // and short enough for the longest name a folder takes.
    const std::string stem = folder + "/" + kTemporaryPrefix + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ == -1; ++attempt) {
        temporary_ = stem + uniqueSuffix() + "-" + name.substr(0, NAME_MAX - 32);
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

bool OutputFile::seekable() const {
    return fd_ != -1 && ::lseek(fd_, 0, SEEK_CUR) != -1;
}

bool OutputFile::appendThrough(const uint8_t* bytes, size_t count) {
    if (failure_ || fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
    // A long run goes out from where it stands: copying it into the buffer
    // first would cost as much as writing it.
    if (count >= kBuffer / 2) {
        if (!flush() || !write(bytes, count)) return false;
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
        } else if (!write(chunk.data(), static_cast<size_t>(got))) {
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
    if (!write(bytes + moved, count - moved)) return false;
    written_ += count - moved;
    return true;
}

bool OutputFile::flush() {
    if (buffer_.empty()) return true;
    const bool ok = write(buffer_.data(), buffer_.size());
    if (ok) written_ += buffer_.size();
    buffer_.clear();
    return ok;
}

Failure OutputFile::finish() {
    return finishOutput(false) ? Failure{} : failure_;
}

Failure OutputFile::keepStopped() {
    // finish() met the stop in a write, and closed the output there.
    if (failure_.kind == FailureKind::Stopped && fd_ == -1) return failure_;
    if (failure_.kind == FailureKind::Stopped) {
        // A write the stop interrupted: the output ends where it stood, as
        // the next write would wait as long.
        failure_ = {};
        buffer_.clear();
        stage_ = nullptr;
    }
    if (!finishOutput(true)) return failure_;
    return failureOf(FailureKind::Stopped, kept_, 0, written_);
}

bool OutputFile::finishOutput(bool stopped) {
    if (fd_ == -1) return fail(FailureKind::WriteFailed, EBADF);
    OutputStage* stage = std::exchange(stage_, nullptr);
    if (!failure_ && stage != nullptr && !stage->close(*this)) fail(FailureKind::WriteFailed, EIO);
    if (!failure_) flush();
    // The bytes reach the disk before the name does when they replace a
    // file: a crash right after the rename must not leave an empty file
    // where the user's old one was. A new name has nothing to lose, and the
    // wait for the disk would double the time of a join or a save.
    struct stat old {};
    if (!failure_ && !temporary_.empty() && !stopped && existing_ == Existing::Replace &&
        ::stat(target_.c_str(), &old) == 0 && ::fsync(fd_) != 0) {
        fail(FailureKind::WriteFailed, errno);
    }
    if (!closeChecked(fd_)) fail(FailureKind::WriteFailed, errno);
    fd_ = -1;
    kept_ = path_;
    if (!failure_ && !temporary_.empty() && placeTemporary(stopped)) temporary_.clear();
    discard();
    return !failure_;
}

bool OutputFile::placeTemporary(bool stopped) {
    if (!stopped || !existed_) {
        if (moveTemporary(target_, path_, stopped ? Existing::Keep : existing_)) return true;
        // A file that appeared at the name while the stopped job ran stays.
        if (!stopped || failure_.kind != FailureKind::OutputExists) return false;
        failure_ = {};
    }
    kept_ = partial_;
    return moveTemporary(target_ + kPartialSuffix, partial_, existing_);
}

bool OutputFile::moveTemporary(const std::string& name, const std::string& shown,
                               Existing existing) {
    // The name may have come to lead to an input while the job ran.
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && isInput(st)) {
        return failAt(FailureKind::OutputIsInput, shown, 0);
    }
    const int error = existing == Existing::Replace
                          ? (::rename(temporary_.c_str(), name.c_str()) == 0 ? 0 : errno)
                          : renameKeeping(temporary_, name);
    if (error == 0) return true;
    // The name taken meanwhile, or the folder removed or made read-only.
    return error == EEXIST ? failAt(FailureKind::OutputExists, shown, 0)
                           : failAt(FailureKind::RenameFailed, shown, error);
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
