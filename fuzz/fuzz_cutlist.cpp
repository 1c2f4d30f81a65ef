// The stream view over a fixed file of 5,000 bytes under a sequence of
// operations read from the input: excisions, reads and cache drops. Every
// read is compared with a plain model: the file with the excised bytes
// deleted, zeros past its end.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

constexpr size_t kFileSize = 5'000;
// File positions the model follows; cuts and reads stay well inside them.
constexpr size_t kModelSize = 16'384;

std::vector<uint8_t> fixedFile() {
    std::vector<uint8_t> bytes(kFileSize);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) {
        x = x * 1103515245 + 12345;
        b = uint8_t(x >> 16);
    }
    return bytes;
}

// The model's own loops are left out of the coverage feedback (NO_COVERAGE).
// Its arrays serve every run, and the stream positions are listed again
// only when a read asks after a cut: made afresh at each step, they cost a
// run more than the view's own work.
struct Model {
    uint8_t removed[kModelSize];
    uint32_t kept[kModelSize];  // file position of each stream position
    uint32_t keptCount = 0;
    bool listed = false;

    NO_COVERAGE void reset() {
        std::memset(removed, 0, sizeof removed);
        listed = false;
    }
    NO_COVERAGE void cut(uint32_t start, uint32_t length) {
        std::memset(removed + start, 1, length);
        listed = false;
    }
    NO_COVERAGE void list() {
        if (listed) return;
        keptCount = 0;
        for (uint32_t f = 0; f < kModelSize; ++f) {
            if (!removed[f]) kept[keptCount++] = f;
        }
        listed = true;
    }
    NO_COVERAGE bool matches(const std::vector<uint8_t>& file, uint32_t pos,
                             const std::vector<uint8_t>& got) const {
        const uint32_t* const from = kept + pos;
        const uint8_t* const bytes = file.data();
        for (size_t i = 0, n = got.size(); i < n; ++i) {
            if (got.data()[i] != (from[i] < kFileSize ? bytes[from[i]] : 0)) return false;
        }
        return true;
    }
};

class Ops {
  public:
    Ops(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    bool take(size_t n) { return left_ >= n; }
    uint8_t byte() { return --left_, *data_++; }
    uint16_t word() { return uint16_t(byte() << 8 | byte()); }
    bool empty() const { return left_ == 0; }

  private:
    const uint8_t* data_;
    size_t left_;
};

NO_COVERAGE void checkCuts(const StreamView& view, const Model& model) {
    const CutList& cuts = view.cuts();
    static uint8_t removed[kModelSize];
    std::memset(removed, 0, sizeof removed);
    for (size_t i = 0; i < cuts.size(); ++i) {
        if (i > 0) FUZZ_CHECK(cuts[i - 1].end() < cuts[i].start);
        FUZZ_CHECK(cuts[i].end() <= kModelSize);
        std::memset(removed + cuts[i].start, 1, cuts[i].length);
    }
    FUZZ_CHECK(std::memcmp(removed, model.removed, kModelSize) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> bytes = fixedFile();
    MemFile file(bytes);
    StreamView view;
    if (view.openStream(file.path()) != OpenStatus::Opened) abort();
    static Model model;
    model.reset();

    // After an excision the window may hold bytes from before it, until the
    // window is dropped or a read refills it.
    bool stale = false;
    std::vector<uint8_t> got;
    for (Ops ops(data, size); !ops.empty();) {
        const uint8_t op = ops.byte();
        switch (op & 3) {
            case 0: {
                if (!ops.take(3)) return 0;
                const uint32_t start = ops.word() % 5'600;
                const uint32_t length = ops.byte() * 4u + (op >> 2 & 3);
                view.addCut(start, length);
                model.cut(start, length);
                checkCuts(view, model);
                stale = true;
                break;
            }
            case 1: {
                if (!ops.take(4)) return 0;
                const uint32_t pos = ops.word() % 6'000;
                const uint32_t count = ops.word() % (StreamView::kCacheSize + 1);
                const uint64_t ws = view.windowStart(), we = ws + view.windowLength();
                const bool hit = pos >= ws && pos + count <= we;
                FUZZ_CHECK(view.readAt(pos, count, got));
                FUZZ_CHECK(got.size() == count);
                if (count > 0 && !hit) stale = false;
                model.list();
                if (!stale) FUZZ_CHECK(model.matches(bytes, pos, got));
                FUZZ_CHECK(pos + count < model.keptCount);
                const uint64_t f0 = view.streamToFile(pos);
                FUZZ_CHECK(f0 == model.kept[pos]);
                FUZZ_CHECK(f0 + view.fileSpan(f0, count) == view.streamToFile(pos + count));
                FUZZ_CHECK(view.streamToFile(pos + count) == model.kept[pos + count]);
                break;
            }
            case 2:
                view.invalidateWindow();
                stale = false;
                break;
            default:
                view.resetCache();
                stale = false;
                break;
        }
    }
    return 0;
}
