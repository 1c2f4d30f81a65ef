#include "ui/job_controller.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <chrono>
#include <new>
#include <utility>

#include "stream/thread_priority.h"
#include "text/messages.h"

namespace mpg::ui {

namespace {

// How often the window takes what the job reported, how many rows it hands
// on at a time, and how long it goes on handing them on in one turn before
// it lets its other events in. Every turn ends in a repaint of the list, which
// costs about what a batch does: a backlog of a hundred thousand rows taken
// a batch a turn spent as long painting as listing.
constexpr int kDrainMs = 30;
constexpr size_t kBatch = 16384;
constexpr auto kTurn = std::chrono::milliseconds(25);

bool isProgress(Notify kind) {
    return kind == Notify::Progress || kind == Notify::JoinProgress ||
           kind == Notify::RowProgress || kind == Notify::PieceCheck;
}

}  // namespace

void QueueSink::push(JobReport report) {
    const std::lock_guard lock(mutex_);
    report.rowsBefore = queue_.rows.size();
    queue_.others.push_back(std::move(report));
}

void QueueSink::notify(const Notice& notice) {
    if (onJobThread) onJobThread(notice);
    const std::lock_guard lock(mutex_);
    if (isProgress(notice.kind)) {
        queue_.progress = notice;
    } else {
        queue_.rows.push_back(notice);
    }
}

void QueueSink::reportCheck(CheckResult result) {
    push({JobReport::Kind::Check, 0, result, {}});
}

void QueueSink::clearErrorList() {
    push({JobReport::Kind::ClearList, 0, CheckResult::Ok, {}});
}

void QueueSink::reportRefusal(const Failure& why) {
    push({JobReport::Kind::Refusal, 0, CheckResult::Ok, why});
}

void QueueSink::end() {
    push({JobReport::Kind::End, 0, CheckResult::Ok, {}});
}

void QueueSink::take(JobReports& out) {
    const std::lock_guard lock(mutex_);
    std::swap(out.rows, queue_.rows);
    std::swap(out.others, queue_.others);
    std::swap(out.progress, queue_.progress);
}

JobController::JobController(AppState& state, QObject* parent) : QObject(parent), state_(state) {
    drainTimer_.setInterval(kDrainMs);
    connect(&drainTimer_, &QTimer::timeout, this, &JobController::drain);
    // The job's thread wakes the window through an eventfd, not through
    // Qt's event queue: that queue would hand the window an object made on
    // the job's thread, behind locks a thread checker does not see. The
    // count written carries nothing; the queue's mutex orders the reports.
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ != -1) {
        wake_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
        connect(wake_.get(), &QSocketNotifier::activated, this, [this] {
            uint64_t count = 0;
            if (::read(wakeFd_, &count, sizeof count) < 0) count = 0;
            if (running_) drain();
        });
    }
}

JobController::~JobController() {
    shutdown();
    wake_.reset();
    if (wakeFd_ != -1) ::close(wakeFd_);
}

void JobController::drain() {
    // A backlog is handed on over several turns of the event loop, so that
    // painting and input go on in between; an ended job is over once the
    // last of it has been handed on.
    const auto start = std::chrono::steady_clock::now();
    bool more = deliver(kBatch);
    while (more && running_ && std::chrono::steady_clock::now() - start < kTurn)
        more = deliver(kBatch);
    if (!more && ended_) {
        finish();
    } else {
        drainTimer_.setInterval(more ? 0 : kDrainMs);
    }
}

void JobController::shutdown() {
    if (!running_) return;
    state_.job.stopRequested = true;
    if (worker_.joinable()) worker_.join();
    running_ = ended_ = false;
    drainTimer_.stop();
    sink_.reset();
    taken_ = {};
    batch_ = {};
    state_.job.stopRequested = false;
}

void JobController::start(Job job, Body body) {
    if (running()) return;
    job_ = job;
    ++generation_;
    ended_ = false;
    sink_ = std::make_unique<QueueSink>();
    taken_.clear();
    rowsFrom_ = othersFrom_ = 0;
    sink_->onJobThread = hook_;
    const bool lowPriority = !state_.highPriority.load();
    running_ = true;
    drainTimer_.setInterval(kDrainMs);
    drainTimer_.start();
    worker_ = std::thread([this, body = std::move(body), lowPriority] {
        // On the job's own thread, which ends with the job: the window's
        // thread and the next job are not touched.
        if (lowPriority) lowerThreadPriority();
        try {
            result_ = body(*sink_);
        } catch (const std::bad_alloc&) {
            result_ = failureOf(FailureKind::OutOfMemory, "");
        }
        // The job's last action. Its end goes through the queue, behind
        // everything it reported, and not as an event posted to the window:
        // the queue's mutex orders the result with the window's reading of
        // it in a way ThreadSanitizer sees, which Qt's event queue is not.
        sink_->end();
        // The window need not wait for its next turn to learn of the end: a
        // job of a few milliseconds would otherwise take up to a turn more,
        // and a scan followed by the hammer two. A wake that comes after the
        // job is over finds nothing to do.
        if (wakeFd_ != -1) {
            const uint64_t one = 1;
            if (::write(wakeFd_, &one, sizeof one) < 0) {
                // Full only after 2^64 - 2 wakes; the next turn takes the end.
            }
        }
    });
}

void JobController::stop(uint64_t generation) {
    if (running_ && !ended_ && generation == generation_) state_.job.stopRequested = true;
}

bool JobController::deliver(size_t limit) {
    if (!sink_) return false;
    if (rowsFrom_ == taken_.rows.size() && othersFrom_ == taken_.others.size()) {
        taken_.clear();
        rowsFrom_ = othersFrom_ = 0;
        sink_->take(taken_);
    }
    const size_t rowsTo = std::min(taken_.rows.size(), rowsFrom_ + limit);
    const auto handOnRows = [&](size_t to) {
        if (to <= rowsFrom_) return;
        batch_.assign(taken_.rows.begin() + static_cast<ptrdiff_t>(rowsFrom_),
                      taken_.rows.begin() + static_cast<ptrdiff_t>(to));
        rowsFrom_ = to;
        emit rowsReported(batch_);
    };
    // The reports in their place among the rows.
    for (; othersFrom_ < taken_.others.size(); ++othersFrom_) {
        const JobReport& r = taken_.others[othersFrom_];
        if (r.rowsBefore > rowsTo) break;
        handOnRows(r.rowsBefore);
        switch (r.kind) {
            case JobReport::Kind::Check:
                emit titleSet(QString::fromUtf8(checkResultText(r.check)));
                break;
            case JobReport::Kind::ClearList:
                emit listCleared();
                break;
            case JobReport::Kind::Refusal:
                emit messageShown(QString::fromStdString(joinRefusalText(r.refusal)));
                break;
            case JobReport::Kind::End:
                ended_ = true;
                break;
        }
    }
    handOnRows(rowsTo);
    // Of the progress reports only the latest is shown.
    if (const std::optional<Notice> last = std::exchange(taken_.progress, std::nullopt)) {
        const QString text = QString::fromStdString(progressLine(*last));
        // The joining page's progress: its join's, or its check's of the pieces.
        if (last->kind != Notify::JoinProgress && last->kind != Notify::PieceCheck) {
            emit progress(last->payload, text);
        } else {
            emit joinProgress(last->payload, text);
        }
    }
    return rowsFrom_ < taken_.rows.size() || othersFrom_ < taken_.others.size();
}

void JobController::finish() {
    if (worker_.joinable()) worker_.join();
    drainTimer_.stop();
    sink_.reset();
    // The rows' room goes with the job: a scan of millions of rows took megabytes.
    taken_ = {};
    batch_ = {};
    running_ = ended_ = false;
    // Taken first: a page that starts the next job from its slot must not
    // see this one's result overwritten.
    const JobResult result = std::exchange(result_, JobResult{});
    emit finished(job_, result);
    state_.job.stopRequested = false;
}

}  // namespace mpg::ui
