// A JobSink that records every call, for exact checks of what a job reports,
// and keeps the error list's rows as the window writes them.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/grid_sink.h"
#include "analysis/job_sink.h"
#include "text/messages.h"

namespace mpg::test {

struct Event {
    Notify kind;
    int32_t payload;
    std::string progressText;  // the line a progress report is shown as
    BlockRecord record;        // the entry a Broken or Resolved report carried
};

class RecordingSink : public JobSink {
  public:
    RecordingSink() : rows_(grid) {}

    void notify(const Notice& n) override {
        events.push_back({n.kind, n.payload, progressLine(n), n.record});
        rows_.notify(n);
    }
    void reportCheck(CheckResult result) override { checks.push_back(result); }
    void clearErrorList() override {
        ++clears;
        rows_.clearErrorList();
    }
    // The list's rows, header included.
    std::vector<ErrorRow> rows() const {
        std::vector<ErrorRow> out;
        for (int r = 0; r < grid.rowCount(); ++r) out.push_back(grid.row(r));
        return out;
    }

    // The events of the given kind, in order.
    std::vector<Event> of(Notify kind) const {
        std::vector<Event> out;
        for (const Event& e : events) {
            if (e.kind == kind) out.push_back(e);
        }
        return out;
    }

    std::vector<Event> events;
    std::vector<CheckResult> checks;
    int clears = 0;
    ErrorGrid grid;

  private:
    GridSink rows_;
};

// Asks to stop at the k-th progress report, as the user's "да" would.
struct StopAt : RecordingSink {
    StopAt(AppState& s, size_t k) : st(s), k(k) {}
    void notify(const Notice& n) override {
        RecordingSink::notify(n);
        if (n.kind == Notify::Progress && ++seen == k) st.job.stopRequested = true;
    }
    AppState& st;
    size_t k, seen = 0;
};

// Runs `act` at a job's first progress report, and asks for one after every
// step: in a save, right after its first block.
struct ActAtFirstProgress : GridSink {
    ActAtFirstProgress(ErrorGrid& grid, std::function<void()> act)
        : GridSink(grid), act(std::move(act)) {}
    void notify(const Notice& n) override {
        if (n.kind == Notify::Progress && act) std::exchange(act, nullptr)();
    }
    bool refreshProgress() override {
        countdown_ = 1;
        return true;
    }
    std::function<void()> act;
};

}  // namespace mpg::test
