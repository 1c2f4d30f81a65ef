// A JobSink that writes the error list's rows from the scan's notifications,
// as the window does, and shows nothing else: for batch work and tests.
#pragma once

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "analysis/job_sink.h"

namespace mpg {

class GridSink : public JobSink {
  public:
    explicit GridSink(ErrorGrid& grid) : grid_(grid) {}
    void notify(const Notice& notice) override { grid_.onNotice(notice); }
    void reportCheck(CheckResult) override {}
    void clearErrorList() override { grid_.clear(); }

  protected:
    // Progress is not shown: it is declined in long strides, so that the
    // job neither formats it nor looks at it step by step.
    bool refreshProgress() override {
        countdown_ = 1 << 20;
        return false;
    }

  private:
    ErrorGrid& grid_;
};

}  // namespace mpg
