// A JobSink that writes the error list's rows from the scan's notifications,
// as the window does, and shows nothing else: for batch work and tests.
#pragma once

#include "analysis/error_list.h"
#include "analysis/job_sink.h"
#include "analysis/app_state.h"

namespace mpg {

class GridSink : public JobSink {
  public:
    GridSink(const AppState& state, ErrorGrid& grid) : state_(state), grid_(grid) {}
    void notify(Notify kind, int32_t payload) override {
        if (kind == Notify::Broken) grid_.onBroken(payload, state_.table);
        if (kind == Notify::Resolved) grid_.onResolved(payload, state_.table);
        if (kind == Notify::Withdrawn) grid_.onWithdrawn(payload);
    }
    void setTitle(const std::string&) override {}
    void clearErrorList() override { grid_.clear(); }

  protected:
    // Progress is not shown: it is declined in long strides, so that the
    // job neither formats it nor looks at it step by step.
    bool refreshProgress() override {
        countdown_ = 1 << 20;
        return false;
    }

  private:
    const AppState& state_;
    ErrorGrid& grid_;
};

}  // namespace mpg
