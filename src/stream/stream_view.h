// The input file seen as a stream: every excised region (CutRegion, in file
// positions) is left out, so the scan, the repair strategies, the writer and
// the dump all read the same corrected stream while the file itself is never
// written. Reads go through one window of kCacheSize stream bytes because the
// scan asks for 6 bytes per block and per byte it steps over.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream/cdxa.h"
#include "stream/failure.h"
#include "stream/file_io.h"
#include "stream/position.h"

struct stat;

namespace mpg {

// An excised region in file positions.
struct CutRegion {
    Position start = 0;
    Position length = 0;

    Position end() const { return start + length; }
    bool operator==(const CutRegion&) const = default;
};

// Ordered by start; no two regions overlap or touch.
using CutList = std::vector<CutRegion>;

// The input the jobs of a view read, as the job that filled the table found
// it: its name and its identity.
struct KeptInput {
    std::string path;
    FileIdentity identity;
};

enum class [[nodiscard]] OpenStatus{
    Opened,
    Failed,  // missing, unreadable, or no regular file: failure() says which
};

class StreamView {
  public:
#ifdef MPGMEND_SMALL_BUFFERS
    // Fuzz builds: inputs of a few kilobytes then cross windows as streams
    // of many megabytes do. No result depends on the size: every read
    // outside readPieces asks for at most kSystemHeaderReadSize bytes.
    static constexpr uint32_t kCacheSize = 1'024;
#else
    static constexpr uint32_t kCacheSize = 2'048'000;
#endif

    StreamView() = default;
    ~StreamView();
    StreamView(const StreamView&) = delete;
    StreamView& operator=(const StreamView&) = delete;

    // Opens the file for reading and takes its size into streamSize(), and
    // its identity into keptInput(): the file that every later openFile of
    // the same name must find.
    //
    // A video CD rip (RIFF CDXA) is seen through its sector layout: for such
    // a file every position this class calls a file position (the cut list,
    // streamToFile, fileLength, the window's placement) is a position in the
    // unwrapped MPEG stream, the sectors' user data one after another, so
    // that everything above the view works on the stream unchanged. Only a
    // failed read names a position in the real file, and verifyUnchanged
    // compares the real file. Until a sector walk has set the exact layout
    // (setExactLayout), every 2,352-byte slot behind the header counts as a
    // sector.
    OpenStatus openStream(const std::string& name);
    // Opens the file for reading without taking its size (the dump, the
    // re-examination of a block and the writer read a file whose size the
    // scan already took). Only a regular file is opened: a FIFO or a device
    // would block the open or the reads, or never end. A file of the kept
    // input's name that is no longer the file kept (another file put in its
    // place, its size, time or edges changed) is refused with InputChanged:
    // the table describes the file the scan read. A file of another name
    // becomes the kept input.
    [[nodiscard]] bool openFile(const std::string& name);
    void closeFile();
    int fileHandle() const {
        return fileHandle_;
    }
    const std::string& path() const {
        return path_;
    }

    // The sector layout of an open CDXA file, nullptr for a plain stream.
    const SectorLayout* layout() const {
        return layout_.get();
    }
    // Where the sectors of an open CDXA file start in the real file.
    Position sectorsStart() const {
        return sectorsStart_;
    }
    // The real size of the open file as it was opened.
    Position rawSize() const {
        return kept_.identity.size;
    }
    bool hasExactLayout() const {
        return layout_ != nullptr && exact_;
    }
    // Takes the layout a sector walk found for the open file; it stays in
    // use while the same unchanged file (path, size, modification time) is
    // opened again, by this view or any other of the process (a later job's,
    // the index loader's). The window is dropped; streamSize() is the new
    // length.
    void setExactLayout(SectorLayout layout);
    // Walks the sectors of the open rip (see walkSectors) and takes the
    // layout found, unless a read fails, the file changed meanwhile or
    // `progress` stops the walk (`stopped`). The faulty sectors go to `faults`.
    Failure walkLayout(SectorFaultList& faults,
                       const std::function<bool(Position)>& progress, bool& stopped);
    bool isOpen() const {
        return fileHandle_ != -1;
    }
    Position streamSize() const {
        return streamSize_;
    }

    // Why the last open or read failed (OpenFailed, NotRegular, ReadFailed
    // with the file position and the system's reason, or InputChanged); no
    // failure after a successful open until a read fails.
    const Failure& failure() const {
        return failure_;
    }
    // The file's size and modification time are compared with the kept
    // input's before every refill of the window is used: bytes of a file
    // that is cut, extended or overwritten while a job reads it would be
    // taken for the stream (zeros past a new end, another film's bytes).
    // InputChanged (or ReadFailed when the file cannot even be looked at)
    // on a change; nothing when no file is open.
    Failure verifyUnchanged() const;
    // The same with the edges read again as well: for the end of a job.
    Failure verifyIdentity() const;
    // Whether the file named `name` is still the kept input, for a job that
    // does not read it (an index saved of its table); nothing when another
    // file is kept.
    Failure checkInput(const std::string& name) const;
    const KeptInput& keptInput() const {
        return kept_;
    }
    // Takes the identity another view found (the index loader's) as the
    // one later jobs must find.
    void keepInput(KeptInput kept) {
        kept_ = std::move(kept);
    }

    // Releases the buffer and drops the window.
    void resetCache();
    // Drops the window and keeps the buffer.
    void invalidateWindow() {
        winStart_ = winLen_ = 0;
    }
    void clearCuts();

    // Delivers `count` stream bytes from stream position `pos` into `out`,
    // resized to exactly `count`. Refuses a count above kCacheSize (out is
    // left as it was). Bytes past the end of the file read as zero. A read
    // that the system refuses, or a file that changed, gives false and
    // leaves its reason in failure(): such bytes are never delivered.
    [[nodiscard]] bool readAt(Position pos, uint32_t count, std::vector<uint8_t>& out);

    // The same bytes without a copy: a pointer into the window, valid until
    // the next read or cache operation; nullptr when the read fails.
    const uint8_t* view(Position pos, uint32_t count) {
        if (pos >= winStart_ && pos + count <= winStart_ + winLen_) {
            return window_ + (pos - winStart_);
        }
        return viewSlow(pos, count);
    }

    // How a read that misses the window fills it: a whole window from the
    // position on (the next reads are near), exactly the bytes asked for
    // (a reader of one block that changes the cuts before its next read), or
    // kNearFill bytes (a reader of blocks and their neighbours that changes
    // the cuts now and then).
    enum class Fill { Window, Exact, Near };
    static constexpr uint32_t kNearFill = 64 * 1024;

    // Reads `count` stream bytes from `pos` in pieces no larger than the
    // cache, handing each to take(bytes, size, done) (done: the bytes handed
    // before it), so that a block longer than the cache is read whole and
    // never with stale bytes. False at a failed read or when take says so.
    template <class Take>
    bool readPieces(Position pos, Position count, Take&& take, Fill fill = Fill::Window) {
        for (Position done = 0; done < count;) {
            const uint32_t piece =
                static_cast<uint32_t>(std::min<Position>(kCacheSize, count - done));
            const Position at = pos + done;
            const uint8_t* bytes = fill == Fill::Window  ? view(at, piece)
                                   : fill == Fill::Exact ? viewExact(at, piece)
                                                         : viewNear(at, piece);
            if (bytes == nullptr || !take(bytes, piece, done)) return false;
            done += piece;
        }
        return true;
    }
    // view() whose miss reads only the `count` bytes asked for.
    const uint8_t* viewExact(Position pos, uint32_t count) {
        if (pos >= winStart_ && pos + count <= winStart_ + winLen_) {
            return window_ + (pos - winStart_);
        }
        return viewSlow(pos, count, count);
    }
    // view() whose miss reads kNearFill bytes, or the `count` asked for if more.
    const uint8_t* viewNear(Position pos, uint32_t count) {
        if (pos >= winStart_ && pos + count <= winStart_ + winLen_) {
            return window_ + (pos - winStart_);
        }
        return viewSlow(pos, count, std::max(count, kNearFill));
    }
    // The size of the open file as it is now (0 when it cannot be taken).
    Position fileLength() const;

    // Adds an excised region in file positions, keeping the list ordered and
    // merging regions that overlap or touch. The window is left alone: a
    // caller that reads through the new region drops it first. Regions added
    // in ascending order cost a constant time each, however long the list.
    void addCut(Position start, Position length);
    const CutList& cuts() const {
        closeGap();
        return cuts_;
    }

    // The file position that holds stream position `pos`. A position where a
    // region was removed maps to the first file byte after that region.
    // Logarithmic in the number of regions.
    Position streamToFile(Position pos) const;
    // The other way: the stream position of file position `f`; a byte in an
    // excised region maps to where the region was, the first stream byte
    // behind it. Logarithmic in the number of regions.
    Position fileToStream(Position f) const;
    // How many file bytes from file position f0 hold `count` stream bytes
    // together with the excised regions met on the way.
    Position fileSpan(Position f0, Position count) const;

    Position windowStart() const {
        return winStart_;
    }
    uint32_t windowLength() const {
        return winLen_;
    }
    bool hasBuffer() const {
        return buffer_ != nullptr;
    }

  private:
    // Opens `name`; `fresh`: its identity becomes the kept input's, else it
    // must be the kept input's.
    bool open(const std::string& name, bool fresh);
    const uint8_t* viewSlow(Position pos, uint32_t count, uint32_t fill = kCacheSize);
    // Reads `count` bytes from file position `f` (through the sector layout
    // when there is one): the bytes read, fewer at the end, or -1 with the
    // real file position of the failed read in `failedAt`.
    int64_t readFilePositions(uint8_t* into, size_t count, Position f, Position& failedAt);
    // Finds whether the open file is a rip and takes its layout; false
    // (failure() says where) when its head cannot be read.
    bool takeLayout();
    bool refill(Position pos, uint32_t count, uint32_t fill);
    void reserveWindow(uint32_t length);

    // The cut list is a gap buffer: the regions before the gap in cuts_, those
    // behind it in gapTail_ (nearest the gap last). A repair adds one region
    // per broken block, block after block, each near the last one: the gap
    // follows it, so that an addition never shifts the whole list, and a
    // second pass inserting between the first pass's regions costs no more.
    // cutSums_[i] holds the lengths of regions 0 to i before the gap;
    // tailSums_[j] the lengths of gapTail_[j] and every region behind it.
    size_t cutCount() const {
        return cuts_.size() + gapTail_.size();
    }
    const CutRegion& cutAt(size_t i) const {
        return i < cuts_.size() ? cuts_[i] : gapTail_[cutCount() - 1 - i];
    }
    // The lengths of regions 0 to i - 1 together.
    Position lengthBefore(size_t i) const;
    // The number of regions whose start is at most `f`.
    size_t cutsFrom(Position f) const;
    void moveGap(size_t to) const;
    void closeGap() const {
        moveGap(cutCount());
    }

    int fileHandle_ = -1;
    std::string path_;
    std::shared_ptr<const SectorLayout> layout_;
    Position sectorsStart_ = 0;
    uint32_t regularPayload_ = kCdForm2Payload;
    // Whether layout_ is a walk's.
    bool exact_ = false;
    // The raw sectors behind a window's worth of stream bytes pass through here.
    std::unique_ptr<uint8_t[]> staging_;
    // The open file is the kept input: a view opens no other.
    KeptInput kept_;
    Failure failure_;
    Position streamSize_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t capacity_ = 0;  // the longest window the buffer holds
    // The window's first byte, placed like the file position it starts at
    // (placeLikeFile); the buffer has room for that shift.
    uint8_t* window_ = nullptr;
    // Buffer bytes at and past buffer_ + dirtyEnd_ are known to be zero, so
    // bytes past the end of the file that a read delivers are never leftovers.
    size_t dirtyEnd_ = 0;
    Position winStart_ = 0;
    uint32_t winLen_ = 0;
    mutable CutList cuts_;
    mutable std::vector<Position> cutSums_;
    mutable CutList gapTail_;
    mutable std::vector<Position> tailSums_;
};

}  // namespace mpg
