#include "stream/stream_view.h"

#include "stream/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace mpg {

namespace {

constexpr uint64_t kMaxPosition = std::numeric_limits<uint32_t>::max();

}  // namespace

StreamView::~StreamView() {
    closeFile();
}

OpenStatus StreamView::openStream(const std::string& name) {
    if (!openFile(name)) return OpenStatus::Failed;
    if (opened_.size > kMaxPosition) {
        closeFile();
        return OpenStatus::TooLarge;
    }
    streamSize_ = static_cast<uint32_t>(opened_.size);
    return OpenStatus::Opened;
}

bool StreamView::openFile(const std::string& name) {
    closeFile();  // never leak a handle a caller forgot to close
    failure_ = {};
    // O_NONBLOCK: the open of a FIFO without a writer would wait for one
    // (and hang the window's thread); the file's kind is known only after
    // the open.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd == -1) {
        failure_ = failureOf(FailureKind::OpenFailed, name, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        failure_ = failureOf(FailureKind::OpenFailed, name, errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        failure_ = failureOf(FailureKind::NotRegular, name);
        ::close(fd);
        return false;
    }
    // Reads of a regular file never block; the flag goes so that nothing
    // else about the descriptor differs from a plain open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fileHandle_ = fd;
    path_ = name;
    stampOf(opened_);
    return true;
}

bool StreamView::stampOf(Stamp& out) const {
    struct stat st {};
    if (::fstat(fileHandle_, &st) != 0) return false;
    out = {static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
           static_cast<int64_t>(st.st_mtim.tv_nsec)};
    return true;
}

Failure StreamView::verifyUnchanged() const {
    if (fileHandle_ == -1) return {};
    Stamp now;
    if (!stampOf(now)) return failureOf(FailureKind::ReadFailed, path_, errno);
    if (now != opened_) return failureOf(FailureKind::InputChanged, path_);
    return {};
}

uint64_t StreamView::fileLength() const {
    struct stat st {};
    return ::fstat(fileHandle_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void StreamView::closeFile() {
    if (fileHandle_ != -1) ::close(fileHandle_);
    fileHandle_ = -1;
    path_.clear();
}

void StreamView::resetCache() {
    buffer_.reset();
    window_ = nullptr;
    dirtyEnd_ = 0;
    winStart_ = winLen_ = 0;
}

bool StreamView::readAt(uint32_t pos, uint32_t count, std::vector<uint8_t>& out) {
    if (count > CacheSize) return false;
    out.resize(count);
    if (count == 0) return true;
    const uint8_t* bytes = view(pos, count);
    if (bytes == nullptr) return false;
    std::memcpy(out.data(), bytes, count);
    return true;
}

const uint8_t* StreamView::viewSlow(uint32_t pos, uint32_t count) {
    if (count > CacheSize || !refill(pos)) return nullptr;
    return window_;
}

// The window always starts at the requested position and never keeps bytes
// of the old window; excised regions are jumped over piece by piece.
bool StreamView::refill(uint32_t pos) {
    constexpr size_t kRoom = CacheSize + 2 * kAlign;
    if (!buffer_) buffer_.reset(new uint8_t[kRoom]());
    uint64_t f = streamToFile(pos);
    uint8_t* const aligned = buffer_.get() + (-reinterpret_cast<uintptr_t>(buffer_.get()) % kAlign);
    window_ = aligned + f % kAlign;
    winStart_ = pos;
    winLen_ = CacheSize;
    uint32_t filled = 0;
    auto next = std::upper_bound(cuts_.begin(), cuts_.end(), f,
                                 [](uint64_t v, const CutRegion& r) { return v < r.start; });
    int64_t got = 0;
    size_t readBefore = 0;
    for (; next != cuts_.end() && next->start < f + (winLen_ - filled); ++next) {
        const size_t piece = static_cast<size_t>(next->start - f);
        got = readFully(fileHandle_, window_ + filled, piece, static_cast<int64_t>(f), &readBefore);
        if (got < 0) break;
        // A piece cut short by the end of the file reads as zeros.
        std::memset(window_ + filled + got, 0, piece - static_cast<size_t>(got));
        filled += static_cast<uint32_t>(piece);
        f = next->end();
    }
    if (got >= 0) {
        got = readFully(fileHandle_, window_ + filled, winLen_ - filled, static_cast<int64_t>(f),
                        &readBefore);
    }
    // A refused read is reported where it failed; a file that changed since
    // it was opened is not read on with its new bytes.
    if (got < 0) {
        failure_ = failureOf(FailureKind::ReadFailed, path_, errno, f + readBefore);
    } else if (Failure changed = verifyUnchanged()) {
        failure_ = changed;
        got = -1;
    }
    if (got < 0) {
        dirtyEnd_ = kRoom;
        invalidateWindow();
        return false;
    }
    filled += static_cast<uint32_t>(got);
    winLen_ = filled;
    const size_t end = static_cast<size_t>(window_ - buffer_.get()) + filled;
    if (dirtyEnd_ > end) std::memset(buffer_.get() + end, 0, dirtyEnd_ - end);
    dirtyEnd_ = end;
    return true;
}

void StreamView::addCut(uint32_t start, uint32_t length) {
    if (length == 0) return;  // nothing to cut: no empty region in the list
    const uint64_t end = std::min<uint64_t>(uint64_t{start} + length, kMaxPosition);
    const auto region = [](uint64_t s, uint64_t e) {
        return CutRegion{static_cast<uint32_t>(s), static_cast<uint32_t>(e - s)};
    };
    bool placed = false;
    for (CutRegion& e : cuts_) {
        const uint64_t es = e.start, ee = e.end();
        if (es <= start && end <= ee) return;  // already excised
        if (start <= es && ee <= end) {        // covers e
            e = region(start, end);
        } else if (start <= es && es <= end && end <= ee) {  // reaches into e
            e = region(start, ee);
        } else if (es <= start && start <= ee && ee <= end) {  // starts inside e, goes beyond
            e = region(es, end);
        } else {
            continue;
        }
        placed = true;
        break;
    }
    if (!placed) {
        auto at = std::upper_bound(cuts_.begin(), cuts_.end(), start,
                                   [](uint32_t v, const CutRegion& r) { return v < r.start; });
        cuts_.insert(at, region(start, end));
    }
    // Merge what now overlaps or touches its neighbour.
    for (size_t i = 0; i + 1 < cuts_.size();) {
        if (cuts_[i].end() < cuts_[i + 1].start) {
            ++i;
            continue;
        }
        cuts_[i] = region(cuts_[i].start, std::max(cuts_[i].end(), cuts_[i + 1].end()));
        cuts_.erase(cuts_.begin() + static_cast<ptrdiff_t>(i) + 1);
    }
}

uint64_t StreamView::streamToFile(uint64_t pos) const {
    for (const CutRegion& r : cuts_) {
        if (pos < r.start) break;
        pos += r.length;
    }
    return pos;
}

uint64_t StreamView::fileSpan(uint64_t f0, uint64_t count) const {
    for (const CutRegion& r : cuts_) {
        if (f0 < r.start && r.start <= f0 + count) count += r.length;
    }
    return count;
}

}  // namespace mpg
