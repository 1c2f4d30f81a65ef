#include "stream/stream_view.h"

#include "stream/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>

namespace mpg {

StreamView::~StreamView() {
    closeFile();
}

OpenStatus StreamView::openStream(const std::string& name) {
    if (!open(name, true)) return OpenStatus::Failed;
    streamSize_ = layout_ ? layout_->streamLength() : kept_.identity.size;
    return OpenStatus::Opened;
}

namespace {

// The layouts the last walks found, with the file each belongs to: a later
// job, or another view of the same process, opening the same unchanged file
// takes it instead of walking again. A few files are kept, for a join of
// several rips.
struct WalkedLayout {
    KeptInput file;
    std::shared_ptr<const SectorLayout> layout;
};
constexpr size_t kWalkedKept = 16;
std::mutex gWalkedMutex;
std::vector<WalkedLayout> gWalked;

std::shared_ptr<const SectorLayout> walkedLayout(const KeptInput& file) {
    const std::lock_guard<std::mutex> lock(gWalkedMutex);
    for (const WalkedLayout& w : gWalked) {
        if (w.file.path == file.path && w.file.identity == file.identity) return w.layout;
    }
    return nullptr;
}

void keepWalkedLayout(WalkedLayout walked) {
    const std::lock_guard<std::mutex> lock(gWalkedMutex);
    std::erase_if(gWalked, [&](const WalkedLayout& w) { return w.file.path == walked.file.path; });
    if (gWalked.size() >= kWalkedKept) gWalked.erase(gWalked.begin());
    gWalked.push_back(std::move(walked));
}

}  // namespace

// A RIFF CDXA header makes the file a video CD rip: its stream is the user
// data of the sectors. The exact layout of the last walk is taken again for
// the same file unchanged; otherwise every slot counts as a sector of the
// form the first one has.
bool StreamView::takeLayout() {
    layout_.reset();
    exact_ = false;
    sectorsStart_ = 0;
    uint8_t head[4096];
    size_t readBefore = 0;
    const int64_t got = readFully(fileHandle_, head, sizeof head, 0, &readBefore);
    if (got < 0) {
        failure_ = failureOf(FailureKind::ReadFailed, path_, errno, readBefore);
        return false;
    }
    const std::optional<Position> start = cdxaDataOffset(head, static_cast<size_t>(got));
    if (!start) return true;
    sectorsStart_ = *start;
    if (auto walked = walkedLayout(kept_)) {
        layout_ = std::move(walked);
        exact_ = true;
        return true;
    }
    const Position submode = *start + kCdSubheaderAt + 2;
    regularPayload_ = submode < static_cast<Position>(got) && (head[submode] & kCdForm2Bit) == 0
                          ? kCdForm1Payload
                          : kCdForm2Payload;
    layout_ = std::make_shared<const SectorLayout>(
        SectorLayout::regular(*start, kept_.identity.size, regularPayload_));
    return true;
}

void StreamView::setExactLayout(SectorLayout layout) {
    layout_ = std::make_shared<const SectorLayout>(std::move(layout));
    exact_ = true;
    keepWalkedLayout({kept_, layout_});
    streamSize_ = layout_->streamLength();
    invalidateWindow();
}

Failure StreamView::walkLayout(SectorFaultList& faults,
                               const std::function<bool(Position)>& progress, bool& stopped) {
    stopped = false;
    SectorWalk walk = walkSectors(fileHandle_, path_, sectorsStart_, kept_.identity.size, progress);
    if (walk.failure) return walk.failure;
    stopped = walk.stopped;
    if (stopped) return {};
    if (Failure changed = verifyUnchanged()) return changed;
    setExactLayout(std::move(walk.layout));
    faults = std::move(walk.faults);
    return {};
}

bool StreamView::openFile(const std::string& name) {
    return open(name, name != kept_.path);
}

bool StreamView::open(const std::string& name, bool fresh) {
    closeFile();  // never leak a handle a caller forgot to close
    const OpenedFile opened = openRegularForRead(name);
    failure_ = opened.failure;
    if (opened.fd == -1) return false;
    fileHandle_ = opened.fd;
    path_ = name;
    FileIdentity now;
    failure_ = identityOf(fileHandle_, name, now);
    if (!failure_ && !fresh && now != kept_.identity) {
        failure_ = failureOf(FailureKind::InputChanged, name);
    }
    if (!failure_) {
        kept_ = {name, now};
        if (takeLayout()) return true;
    }
    const Failure failed = failure_;
    closeFile();
    failure_ = failed;
    return false;
}

Failure StreamView::verifyUnchanged() const {
    if (fileHandle_ == -1) return {};
    struct stat st {};
    if (::fstat(fileHandle_, &st) != 0) return failureOf(FailureKind::ReadFailed, path_, errno);
    if (!kept_.identity.sameStatus(st)) return failureOf(FailureKind::InputChanged, path_);
    return {};
}

Failure StreamView::verifyIdentity() const {
    if (fileHandle_ == -1) return {};
    return compareIdentity(fileHandle_, path_, kept_.identity);
}

Failure StreamView::checkInput(const std::string& name) const {
    if (name.empty() || name != kept_.path) return {};
    const OpenedFile opened = openRegularForRead(name);
    if (opened.fd == -1) return opened.failure;
    Failure changed = compareIdentity(opened.fd, name, kept_.identity);
    ::close(opened.fd);
    return changed;
}

Position StreamView::fileLength() const {
    struct stat st {};
    if (::fstat(fileHandle_, &st) != 0) return 0;
    const Position size = static_cast<Position>(st.st_size);
    if (!layout_) return size;
    // A rip that changed size since it was opened: as its slots would hold.
    return size == kept_.identity.size
               ? layout_->streamLength()
               : SectorLayout::regular(sectorsStart_, size, regularPayload_).streamLength();
}

int64_t StreamView::readFilePositions(uint8_t* into, size_t count, Position f, Position& failedAt) {
    size_t readBefore = 0;
    if (!layout_) {
        const int64_t got =
            readFully(fileHandle_, into, count, static_cast<int64_t>(f), &readBefore);
        if (got < 0) failedAt = f + readBefore;
        return got;
    }
    // The raw sectors are read in large pieces into the staging buffer and
    // their user data copied out: one system call for hundreds of sectors.
    constexpr size_t kStaging = 512 * size_t{kCdSectorSize};
    if (!staging_) staging_.reset(new uint8_t[kStaging]);
    const SectorLayout& layout = *layout_;
    size_t done = 0;
    while (done < count) {
        const Position at = f + done;
        const size_t e = layout.extentOf(at);
        if (e == layout.extents().size()) break;  // past the last sector
        const SectorLayout::Extent& x = layout.extents()[e];
        const Position rel = at - x.streamStart;
        const Position wanted = std::min<Position>(count - done, x.streamEnd() - at);
        const Position raw = x.fileStart + rel / x.payload * x.stride + rel % x.payload;
        const Position lastRel = rel + wanted - 1;
        const Position rawEnd =
            x.fileStart + lastRel / x.payload * x.stride + lastRel % x.payload + 1;
        const size_t span = static_cast<size_t>(std::min<Position>(rawEnd - raw, kStaging));
        const int64_t got =
            readFully(fileHandle_, staging_.get(), span, static_cast<int64_t>(raw), &readBefore);
        if (got < 0) {
            failedAt = raw + readBefore;
            return -1;
        }
        size_t p = 0;
        Position off = rel % x.payload, left = wanted;
        while (p < static_cast<size_t>(got) && left > 0) {
            const size_t take = static_cast<size_t>(
                std::min<Position>({x.payload - off, left, static_cast<Position>(got) - p}));
            std::memcpy(into + done, staging_.get() + p, take);
            done += take;
            left -= take;
            p += take + (x.stride - x.payload);
            off = 0;
        }
        if (static_cast<size_t>(got) < span) break;  // the file ends early
    }
    return static_cast<int64_t>(done);
}

void StreamView::closeFile() {
    if (fileHandle_ != -1) ::close(fileHandle_);
    fileHandle_ = -1;
    path_.clear();
    layout_.reset();
    exact_ = false;
}

void StreamView::resetCache() {
    buffer_.reset();
    capacity_ = 0;
    window_ = nullptr;
    dirtyEnd_ = 0;
    winStart_ = winLen_ = 0;
}

bool StreamView::readAt(Position pos, uint32_t count, std::vector<uint8_t>& out) {
    if (count > kCacheSize) return false;
    out.resize(count);
    if (count == 0) return true;
    const uint8_t* bytes = view(pos, count);
    if (bytes == nullptr) return false;
    std::memcpy(out.data(), bytes, count);
    return true;
}

const uint8_t* StreamView::viewSlow(Position pos, uint32_t count, uint32_t fill) {
    if (count > kCacheSize || !refill(pos, count, std::min(fill, kCacheSize))) return nullptr;
    return window_;
}

// A window holds no more than the file positions up to the end of the file,
// or of the last excised region (a piece before a region past the end reads
// as zeros), from its first position on; so the window of a short file, and
// the buffer under it, are no longer than that, though never shorter than the
// bytes asked for. The buffer grows, doubling, when a window needs more: a
// stream of a few kilobytes (a fuzz input, a test fixture) never clears a
// 2 MB buffer.
void StreamView::reserveWindow(uint32_t length) {
    if (buffer_ && capacity_ >= length) return;
    capacity_ = std::min(kCacheSize, std::max(length, 2 * capacity_));
    buffer_.reset(new uint8_t[capacity_ + 2 * kReadAlign]());
    dirtyEnd_ = 0;
}

// The window always starts at the requested position and never keeps bytes
// of the old window; excised regions are jumped over piece by piece.
bool StreamView::refill(Position pos, uint32_t count, uint32_t fill) {
    const Position lastCutEnd = cutCount() == 0 ? 0 : cutAt(cutCount() - 1).end();
    const Position reach =
        std::max(layout_ ? layout_->streamLength() : kept_.identity.size, lastCutEnd);
    fill = static_cast<uint32_t>(std::min<Position>(fill, std::max<Position>(count, reach)));
    reserveWindow(fill);
    Position f = streamToFile(pos);
    window_ = placeLikeFile(buffer_.get(), f);
    winStart_ = pos;
    winLen_ = fill;
    uint32_t filled = 0;
    int64_t got = 0;
    Position failedAt = 0;
    for (size_t next = cutsFrom(f); next < cutCount() && cutAt(next).start < f + (winLen_ - filled);
         ++next) {
        const CutRegion& region = cutAt(next);
        const size_t piece = static_cast<size_t>(region.start - f);
        got = readFilePositions(window_ + filled, piece, f, failedAt);
        if (got < 0) break;
        // A piece cut short by the end of the file reads as zeros.
        std::memset(window_ + filled + got, 0, piece - static_cast<size_t>(got));
        filled += static_cast<uint32_t>(piece);
        f = region.end();
    }
    if (got >= 0) {
        got = readFilePositions(window_ + filled, winLen_ - filled, f, failedAt);
    }
    // A refused read is reported where it failed; a file that changed since
    // it was opened is not read on with its new bytes.
    if (got < 0) {
        failure_ = failureOf(FailureKind::ReadFailed, path_, errno, failedAt);
    } else if (Failure changed = verifyUnchanged()) {
        failure_ = changed;
        got = -1;
    }
    if (got < 0) {
        dirtyEnd_ = capacity_ + 2 * kReadAlign;
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

void StreamView::clearCuts() {
    cuts_.clear();
    cutSums_.clear();
    gapTail_.clear();
    tailSums_.clear();
}

Position StreamView::lengthBefore(size_t i) const {
    if (i <= cuts_.size()) return i == 0 ? 0 : cutSums_[i - 1];
    const size_t tail = gapTail_.size(), k = i - cuts_.size();
    const Position tailTotal = tail == 0 ? 0 : tailSums_[tail - 1];
    return (cuts_.empty() ? 0 : cutSums_.back()) + tailTotal -
           (k < tail ? tailSums_[tail - 1 - k] : 0);
}

size_t StreamView::cutsFrom(Position f) const {
    size_t low = 0, high = cutCount();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (cutAt(mid).start <= f) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

void StreamView::moveGap(size_t to) const {
    while (cuts_.size() < to) {
        const CutRegion r = gapTail_.back();
        gapTail_.pop_back();
        tailSums_.pop_back();
        cutSums_.push_back((cuts_.empty() ? 0 : cutSums_.back()) + r.length);
        cuts_.push_back(r);
    }
    while (cuts_.size() > to) {
        const CutRegion r = cuts_.back();
        cuts_.pop_back();
        cutSums_.pop_back();
        tailSums_.push_back((gapTail_.empty() ? 0 : tailSums_.back()) + r.length);
        gapTail_.push_back(r);
    }
}

void StreamView::addCut(Position start, Position length) {
    if (length == 0) return;  // nothing to cut: no empty region in the list
    // A region reaching past the last position ends there.
    Position s = start, e = start + std::min(length, ~Position{0} - start);
    // The new region goes behind every region that starts at or before it;
    // the one just before may overlap or touch it, and so may any behind.
    moveGap(cutsFrom(start));
    if (!cuts_.empty() && cuts_.back().end() >= s) {
        s = cuts_.back().start;
        e = std::max(e, cuts_.back().end());
        cuts_.pop_back();
        cutSums_.pop_back();
    }
    while (!gapTail_.empty() && gapTail_.back().start <= e) {
        e = std::max(e, gapTail_.back().end());
        gapTail_.pop_back();
        tailSums_.pop_back();
    }
    const CutRegion merged{s, e - s};
    cutSums_.push_back((cuts_.empty() ? 0 : cutSums_.back()) + merged.length);
    cuts_.push_back(merged);
}

// Region i is stepped over when the position, moved on by the regions before
// it, reaches its start: when pos >= start_i - lengthBefore(i). That bound
// grows strictly from region to region (regions never touch), so the regions
// stepped over are a prefix of the list, found by halving.
Position StreamView::streamToFile(Position pos) const {
    size_t low = 0, high = cutCount();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (pos + lengthBefore(mid) >= cutAt(mid).start) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return pos + lengthBefore(low);
}

Position StreamView::fileToStream(Position f) const {
    const size_t before = cutsFrom(f);
    if (before > 0 && f < cutAt(before - 1).end()) {
        return cutAt(before - 1).start - lengthBefore(before - 1);
    }
    return f - lengthBefore(before);
}

// Only regions starting behind f0 count; once one starts beyond the span as
// grown so far, so do all after it.
Position StreamView::fileSpan(Position f0, Position count) const {
    for (size_t i = cutsFrom(f0); i < cutCount(); ++i) {
        const CutRegion& r = cutAt(i);
        if (r.start > f0 + count) break;
        count += r.length;
    }
    return count;
}

}  // namespace mpg
