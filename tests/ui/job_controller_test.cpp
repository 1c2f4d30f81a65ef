// The job controller on its own: what a job reports and returns crosses from
// its thread to the window's, and the end of a job is handed over behind the
// last of its reports. Run under ThreadSanitizer too (make test-tsan), where
// a hand-over the sanitizer cannot see fails the test.
#include <QtTest>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "text/messages.h"
#include "ui/job_controller.h"

using namespace mpg;
using namespace mpg::ui;

class JobControllerTest : public QObject {
    Q_OBJECT
  private slots:
    void jobsInTurnDeliverEverythingBeforeTheirEnd();
    void stopAndShutdown();
    void backlogOfSeveralBatchesKeepsItsOrder();
};

// Jobs one after the other, each started from the end of the one before:
// every row, title and message arrives in the order sent and before the
// job's end, which carries the job's own result.
void JobControllerTest::jobsInTurnDeliverEverythingBeforeTheirEnd() {
    AppState state;
    JobController jobs(state);
    constexpr int kJobs = 12;
    std::vector<std::string> seen;  // what the window's thread received, in order
    int ended = 0;
    const auto startJob = [&](int n) {
        jobs.start(Job::Scan, [n](JobSink& sink) {
            sink.reportCheck(CheckResult::NoSignature);
            for (int32_t i = 0; i < 500 * (n + 1); ++i) sink.notify({Notify::Broken, i, 0, 0, {}});
            sink.reportRefusal(failureOf(FailureKind::OpenFailed, "in" + std::to_string(n)));
            return int32_t{100 + n};
        });
    };
    QObject::connect(&jobs, &JobController::titleSet,
                     [&](const QString& t) { seen.push_back(t.toStdString()); });
    QObject::connect(&jobs, &JobController::messageShown,
                     [&](const QString& t) { seen.push_back(t.toStdString()); });
    QObject::connect(&jobs, &JobController::rowsReported, [&](const std::vector<Notice>& rows) {
        for (const Notice& r : rows) seen.push_back("row " + std::to_string(r.payload));
    });
    QObject::connect(&jobs, &JobController::finished, [&](Job, const JobResult& result) {
        const int n = ended;
        QCOMPARE(std::get<int32_t>(result), 100 + n);
        QVERIFY(!jobs.running());
        std::vector<std::string> expected{checkResultText(CheckResult::NoSignature)};
        for (int i = 0; i < 500 * (n + 1); ++i) expected.push_back("row " + std::to_string(i));
        expected.push_back(
            joinRefusalText(failureOf(FailureKind::OpenFailed, "in" + std::to_string(n))));
        QVERIFY(seen == expected);
        seen.clear();
        if (++ended < kJobs) startJob(ended);
    });
    startJob(0);
    QTRY_COMPARE_WITH_TIMEOUT(ended, kJobs, 60000);
    QCOMPARE(jobs.generation(), uint64_t{kJobs});
}

// A stop reaches only the job it was asked for; a shutdown stops and waits
// for a running job, whose end is then never reported; neither leaves the
// stop request behind for the next job.
void JobControllerTest::stopAndShutdown() {
    AppState state;
    JobController jobs(state);
    int finished = 0;
    int32_t lastResult = -1;
    QObject::connect(&jobs, &JobController::finished, [&](Job, const JobResult& r) {
        ++finished;
        lastResult = std::get<int32_t>(r);
    });
    const auto untilStopped = [&state](JobSink& sink) {
        int32_t steps = 0;
        while (!state.job.stopRequested) {
            sink.notify({Notify::Progress, 0, 1, 2, {}});
            ++steps;
            QThread::msleep(1);
        }
        return steps;
    };

    jobs.start(Job::Scan, untilStopped);
    jobs.stop(jobs.generation() + 1);  // an answer meant for another job
    QTest::qWait(50);
    QVERIFY(jobs.running());
    jobs.stop(jobs.generation());
    QTRY_COMPARE(finished, 1);
    QVERIFY(lastResult > 0);
    QVERIFY(!state.job.stopRequested);

    jobs.start(Job::Join, untilStopped);
    QTest::qWait(20);
    jobs.shutdown();
    QVERIFY(!jobs.running());
    QVERIFY(!state.job.stopRequested);
    QTest::qWait(100);
    QCOMPARE(finished, 1);

    jobs.start(Job::Save, [](JobSink&) { return int32_t{7}; });
    QTRY_COMPARE(finished, 2);
    QCOMPARE(lastResult, 7);
    QVERIFY(jobs.job() == Job::Save);
}

// A job that reports far more rows than the window hands on in one turn,
// with its other reports among them, the progress in between: the window
// gets every row once, the reports where they were sent, and last the
// progress the job sent last.
void JobControllerTest::backlogOfSeveralBatchesKeepsItsOrder() {
    AppState state;
    JobController jobs(state);
    constexpr int32_t kRows = 70000;
    const auto at = [](int32_t i) { return i == 20000 || i == 50001; };
    std::vector<std::string> seen, expected;
    for (int32_t i = 0; i < kRows; ++i) {
        if (at(i)) expected.push_back(checkResultText(CheckResult::NoSignature));
        expected.push_back("row " + std::to_string(i));
    }
    expected.push_back("cleared");
    int lastPercent = -1;
    bool ended = false;
    jobs.start(Job::Scan, [&](JobSink& sink) {
        for (int32_t i = 0; i < kRows; ++i) {
            if (at(i)) sink.reportCheck(CheckResult::NoSignature);
            sink.notify({Notify::Broken, i, 0, 0, {}});
            sink.notify({Notify::Progress, i * 100 / kRows, uint64_t(i), kRows, {}});
        }
        sink.clearErrorList();
        sink.notify({Notify::Progress, 100, kRows, kRows, {}});
        return int32_t{0};
    });
    QObject::connect(&jobs, &JobController::titleSet,
                     [&](const QString& t) { seen.push_back(t.toStdString()); });
    QObject::connect(&jobs, &JobController::listCleared, [&] { seen.push_back("cleared"); });
    QObject::connect(&jobs, &JobController::rowsReported, [&](const std::vector<Notice>& rows) {
        for (const Notice& r : rows) seen.push_back("row " + std::to_string(r.payload));
    });
    QObject::connect(&jobs, &JobController::progress,
                     [&](int percent, const QString&) { lastPercent = percent; });
    QObject::connect(&jobs, &JobController::finished, [&] { ended = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
    QVERIFY(seen == expected);
    QCOMPARE(lastPercent, 100);
}

QTEST_MAIN(JobControllerTest)
#include "job_controller_test.moc"
