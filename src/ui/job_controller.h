// The background job of the window: one at a time, on a worker thread that
// the controller owns. The job never waits for the window: its reports, with
// the values they report, go into a queue that the window's thread drains
// every 30 ms and hands on as typed signals, rows in batches. The window
// thus reads nothing the job is still changing (the table grows on the job's
// thread), and stays responsive however many broken blocks the job reports.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/progress_throttle.h"
#include "session/repair_session.h"

class QSocketNotifier;

namespace mpg::ui {

// The jobs the window runs. JoinCheck scans the pieces before a join.
enum class Job { Scan, Save, Hammer, Join, Verify, JoinCheck };

// What a job gives back, delivered with its end: the result of the repair
// session's step it ran, or a number.
// A job that ran out of memory outside the session's steps ends with its
// Failure (OutOfMemory).
using JobResult = std::variant<int32_t, ScanResult, ApplyResult, WriteResult, VerifyResult,
                               JoinOutcome, PieceCheckResult, Failure>;

// A report other than a row or the progress, as the job thread queues it,
// with the number of rows queued before it: the window hands everything on
// in the order the job sent it.
struct JobReport {
    enum class Kind { Check, ClearList, Refusal, End };
    Kind kind = Kind::End;
    size_t rowsBefore = 0;
    CheckResult check = CheckResult::Ok;  // Check
    Failure refusal;                      // Refusal
};

// What the job queued: its rows (Broken, Resolved and Withdrawn notices),
// its other reports, and only the latest of its progress notices, which is
// all the window shows.
struct JobReports {
    std::vector<Notice> rows;
    std::vector<JobReport> others;
    std::optional<Notice> progress;

    bool empty() const { return rows.empty() && others.empty() && !progress; }
    void clear() {
        rows.clear();
        others.clear();
        progress.reset();
    }
};

// The job's side of the queue: appends under a mutex and returns at once.
// Progress is offered at most about 30 times a second. A row costs one
// append to a vector whose room the window hands back: a scan that reports
// a hundred thousand rows allocates for them once or twice, not per row.
class QueueSink : public ThrottledSink {
  public:
    void notify(const Notice& notice) override;
    void reportCheck(CheckResult result) override;
    void clearErrorList() override;
    void reportRefusal(const Failure& why) override;

    // The job's thread has returned from the job and reports nothing more.
    void end();

    // Everything queued so far into `out`, which must be empty; the queue
    // goes on in the room `out` held.
    void take(JobReports& out);
    // Runs on the job's thread with every notice before it is queued.
    std::function<void(const Notice&)> onJobThread;

  private:
    void push(JobReport report);

    std::mutex mutex_;
    JobReports queue_;
};

class JobController : public QObject {
    Q_OBJECT
  public:
    using Body = std::function<JobResult(JobSink&)>;

    explicit JobController(AppState& state, QObject* parent = nullptr);
    ~JobController() override;

    // A job cannot outlive the window: a running one is asked to stop and
    // waited for, and what it still reports is dropped.
    void shutdown();

    // From the start until every report has been delivered and `finished`
    // is being emitted.
    bool running() const { return running_; }
    // The job running, or the last one that ran.
    Job job() const { return job_; }
    // Counts the jobs started, so that an answer to a stop question that
    // arrives after its job has ended does not reach the next job.
    uint64_t generation() const { return generation_; }

    // Runs `body` on a new worker thread, at idle priority unless the
    // settings ask for a high one. Does nothing while a job runs.
    void start(Job job, Body body);
    // Asks the job started as `generation` to stop, if it still runs.
    void stop(uint64_t generation);
    // Called on the job's thread with each notice, before the window sees
    // it: tests act at an exact point of a job, as a user might.
    void setJobThreadHook(std::function<void(const Notice&)> hook) { hook_ = std::move(hook); }

  signals:
    void progress(int percent, const QString& text);
    void joinProgress(int percent, const QString& text);
    // Broken, Resolved and Withdrawn notices, in the order the job sent them.
    void rowsReported(const std::vector<mpg::Notice>& notices);
    void titleSet(const QString& text);
    void listCleared();
    void messageShown(const QString& text);
    // The job has ended and every report of it has been delivered, and
    // with it what the job gave back.
    void finished(mpg::ui::Job job, const mpg::ui::JobResult& result);

  private:
    // Takes what the job queued: the drain timer's turn.
    void drain();
    // Hands on up to `limit` rows of what the job queued, with the reports
    // among them; whether more remain taken but not handed on.
    bool deliver(size_t limit);
    // Joins the worker, which has queued its end, and emits `finished`.
    void finish();

    AppState& state_;
    Job job_ = Job::Scan;
    uint64_t generation_ = 0;
    std::unique_ptr<QueueSink> sink_;
    std::thread worker_;
    bool running_ = false;
    JobResult result_;    // written by the worker before it queues its end
    bool ended_ = false;  // the end has been taken from the queue
    std::function<void(const Notice&)> hook_;
    QTimer drainTimer_;
    // Written by the job's thread when it has queued its end.
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> wake_;
    // Taken from the queue and not yet all handed on: rows from rowsFrom_
    // and reports from othersFrom_ on. The room of both vectors goes back
    // to the queue once they are handed on.
    JobReports taken_;
    size_t rowsFrom_ = 0;
    size_t othersFrom_ = 0;
    std::vector<Notice> batch_;
};

}  // namespace mpg::ui
