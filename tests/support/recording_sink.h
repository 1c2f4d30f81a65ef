// A JobSink that records every call, for exact checks of what a job reports.
#pragma once

#include <string>
#include <vector>

#include "analysis/job_sink.h"
#include "stream/variables.h"

namespace mpg::test {

struct Event {
    Notify kind;
    int32_t payload;
    std::string progressText;  // as the job had set it when notifying
};

class RecordingSink : public JobSink {
  public:
    explicit RecordingSink(const AppState& state) : state_(state) {}

    void notify(Notify kind, int32_t payload) override {
        events.push_back({kind, payload,
                          kind == Notify::Progress || kind == Notify::JoinProgress
                              ? state_.job.progressText
                              : ""});
    }
    void setTitle(const std::string& text) override { titles.push_back(text); }
    void clearErrorList() override { ++clears; }

    // The events of the given kind, in order.
    std::vector<Event> of(Notify kind) const {
        std::vector<Event> out;
        for (const Event& e : events) {
            if (e.kind == kind) out.push_back(e);
        }
        return out;
    }

    std::vector<Event> events;
    std::vector<std::string> titles;
    int clears = 0;

  private:
    const AppState& state_;
};

}  // namespace mpg::test
