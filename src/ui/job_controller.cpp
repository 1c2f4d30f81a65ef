#include "ui/job_controller.h"

#include "stream/thread_priority.h"
#include "text/messages.h"

namespace mpg::ui {

namespace {

// How often the window takes what the job reported, and how many reports it
// handles at most before it lets its other events in.
constexpr int kDrainMs = 30;
constexpr size_t kBatch = 16384;

}  // namespace

void QueueSink::push(JobReport report) {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(report));
}

namespace {

JobReport reportOf(JobReport::Kind kind) {
    JobReport report;
    report.kind = kind;
    return report;
}

}  // namespace

void QueueSink::notify(const Notice& notice) {
    if (onJobThread) onJobThread(notice);
    JobReport report = reportOf(JobReport::Kind::Notice);
    report.notice = notice;
    push(std::move(report));
}

void QueueSink::reportCheck(CheckResult result) {
    JobReport report = reportOf(JobReport::Kind::Check);
    report.check = result;
    push(std::move(report));
}

void QueueSink::clearErrorList() {
    push(reportOf(JobReport::Kind::ClearList));
}

void QueueSink::reportRefusal(const Failure& why) {
    JobReport report = reportOf(JobReport::Kind::Refusal);
    report.refusal = why;
    push(std::move(report));
}

void QueueSink::end() {
    push(reportOf(JobReport::Kind::End));
}

bool QueueSink::take(std::vector<JobReport>& out, size_t limit) {
    const std::lock_guard lock(mutex_);
    const size_t n = std::min(limit, queue_.size());
    for (size_t i = 0; i < n; ++i) {
        out.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    return !queue_.empty();
}

JobController::JobController(AppState& state, QObject* parent) : QObject(parent), state_(state) {
    drainTimer_.setInterval(kDrainMs);
    connect(&drainTimer_, &QTimer::timeout, this, [this] {
        // A backlog is taken batch by batch, each on its own turn of the
        // event loop, so that painting and input go on in between; an ended
        // job is over once the last of it has been taken.
        const bool more = deliver(kBatch);
        if (!more && ended_) {
            finish();
        } else {
            drainTimer_.setInterval(more ? 0 : kDrainMs);
        }
    });
}

void JobController::shutdown() {
    if (!running_) return;
    state_.job.stopRequested = true;
    if (worker_.joinable()) worker_.join();
    running_ = ended_ = false;
    drainTimer_.stop();
    sink_.reset();
    state_.job.stopRequested = false;
}

void JobController::start(Job job, Body body) {
    if (running()) return;
    job_ = job;
    ++generation_;
    ended_ = false;
    sink_ = std::make_unique<QueueSink>();
    sink_->onJobThread = hook_;
    const bool lowPriority = !state_.highPriority.load();
    running_ = true;
    drainTimer_.setInterval(kDrainMs);
    drainTimer_.start();
    worker_ = std::thread([this, body = std::move(body), lowPriority] {
        // On the job's own thread, which ends with the job: the window's
        // thread and the next job are not touched.
        if (lowPriority) lowerThreadPriority();
        result_ = body(*sink_);
        // The job's last action. Its end goes through the queue, behind
        // everything it reported, and not as an event posted to the window:
        // the queue's mutex orders the result with the window's reading of
        // it in a way ThreadSanitizer sees, which Qt's event queue is not.
        sink_->end();
    });
}

void JobController::stop(uint64_t generation) {
    if (running_ && !ended_ && generation == generation_) state_.job.stopRequested = true;
}

bool JobController::deliver(size_t limit) {
    if (!sink_) return false;
    std::vector<JobReport> reports;
    const bool more = sink_->take(reports, limit);
    std::vector<Notice> rows;
    const auto flushRows = [&] {
        if (!rows.empty()) emit rowsReported(rows);
        rows.clear();
    };
    // Of the progress reports only the latest of the batch is shown.
    const Notice* lastProgress = nullptr;
    for (const JobReport& r : reports) {
        switch (r.kind) {
            case JobReport::Kind::Notice:
                if (r.notice.kind == Notify::Progress || r.notice.kind == Notify::JoinProgress ||
                    r.notice.kind == Notify::RowProgress || r.notice.kind == Notify::PieceCheck) {
                    lastProgress = &r.notice;
                } else {
                    rows.push_back(r.notice);
                }
                break;
            case JobReport::Kind::Check:
                flushRows();
                emit titleSet(QString::fromUtf8(checkResultText(r.check)));
                break;
            case JobReport::Kind::ClearList:
                flushRows();
                emit listCleared();
                break;
            case JobReport::Kind::Refusal:
                flushRows();
                emit messageShown(QString::fromStdString(joinRefusalText(r.refusal)));
                break;
            case JobReport::Kind::End:
                ended_ = true;
                break;
        }
    }
    flushRows();
    if (lastProgress != nullptr) {
        const QString text = QString::fromStdString(progressLine(*lastProgress));
        // The joining page's progress: its join's, or its check's of the pieces.
        if (lastProgress->kind != Notify::JoinProgress &&
            lastProgress->kind != Notify::PieceCheck) {
            emit progress(lastProgress->payload, text);
        } else {
            emit joinProgress(lastProgress->payload, text);
        }
    }
    return more;
}

void JobController::finish() {
    if (worker_.joinable()) worker_.join();
    drainTimer_.stop();
    sink_.reset();
    running_ = ended_ = false;
    emit finished(job_, result_);
    state_.job.stopRequested = false;
}

}  // namespace mpg::ui
