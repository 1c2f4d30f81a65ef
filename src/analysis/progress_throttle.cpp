#include "analysis/progress_throttle.h"

#include <algorithm>

namespace mpg {

bool ThrottledSink::refreshProgress() {
    constexpr auto kCheckEvery = std::chrono::milliseconds(1);
    constexpr int32_t kMaxStride = 1 << 16;
    const Clock::time_point now = Clock::now();
    if (now - lastCheck_ < kCheckEvery) {
        stride_ = std::min(stride_ * 2, kMaxStride);
    } else if (now - lastCheck_ > 4 * kCheckEvery) {
        stride_ = std::max(stride_ / 2, 1);
    }
    lastCheck_ = now;
    countdown_ = stride_;
    if (now - lastShown_ < interval_) return false;
    lastShown_ = now;
    return true;
}

}  // namespace mpg
