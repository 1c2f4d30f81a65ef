// The background worker and how a job talks to the window. A job runs on one
// worker thread; its notifications are blocking calls into the window's
// thread (the job waits until the window has handled them, so the window
// reads job data only while the job stands still), and its end is posted to
// the window as the worker's very last action.
#pragma once

#include <QObject>
#include <QThread>
#include <functional>

#include "analysis/progress_throttle.h"

namespace mpg::ui {

// What the window does for a running job, on its own thread.
class JobWindow {
  public:
    virtual ~JobWindow() = default;
    virtual void onJobNotify(Notify kind, int32_t payload) = 0;  // the job waits meanwhile
    virtual void onJobDone(int32_t result) = 0;                  // posted; the job has ended
    virtual void setCaptionText(const QString& text) = 0;
    virtual void clearErrorList() = 0;
    virtual void showMessage(const QString& text) = 0;  // the joining page's message line
};

// Delivers a job's reports to the window. Progress-only reports come at most
// about 30 a second (the window shows no more); every report it delivers, and
// every report of a broken block, waits for the window.
class WindowSink : public ThrottledSink {
  public:
    WindowSink(JobWindow& window, QObject* windowObject);

    void notify(Notify kind, int32_t payload) override;
    void setTitle(const std::string& text) override;
    void clearErrorList() override;
    void showMessage(const std::string& text) override;

  private:
    void call(const std::function<void()>& f);

    JobWindow& window_;
    QObject* windowObject_;
};

// The worker thread: runs its body once (Execute) and posts the result. A
// low-priority job first lowers its thread to idle CPU and I/O priority.
class TXXXThread : public QThread {
    Q_OBJECT
  public:
    using Body = std::function<int32_t()>;
    TXXXThread(Body body, JobWindow& window, QObject* windowObject, bool lowPriority = false);

  protected:
    void run() override { Execute(); }

  private:
    void Execute();

    Body body_;
    JobWindow& window_;
    QObject* windowObject_;
    bool lowPriority_;
};

}  // namespace mpg::ui
