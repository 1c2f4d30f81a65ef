// A JobSink base for receivers that show progress at most a few times a
// second. The clock is read only now and then: the stride between reads
// adapts so that it is read about once a millisecond, whether a step takes
// nanoseconds (a resynchronisation on the cache's hit path) or milliseconds
// (a read window from a slow disk, or the rest a low-priority scan takes).
#pragma once

#include <chrono>

#include "analysis/job_sink.h"

namespace mpg {

class ThrottledSink : public JobSink {
  public:
    using Clock = std::chrono::steady_clock;

    explicit ThrottledSink(Clock::duration interval = std::chrono::milliseconds(33))
        : interval_(interval) {}

  protected:
    bool refreshProgress() override;

  private:
    Clock::duration interval_;
    Clock::time_point lastShown_{};
    Clock::time_point lastCheck_{};
    int32_t stride_ = 1;
};

}  // namespace mpg
