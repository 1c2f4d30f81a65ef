#include "ui/job_runner.h"

#include <QMetaObject>

#include "stream/thread_priority.h"

namespace mpg::ui {

WindowSink::WindowSink(JobWindow& window, QObject* windowObject)
    : window_(window), windowObject_(windowObject) {}

void WindowSink::call(const std::function<void()>& f) {
    // A job run on the window's own thread (as some tests do) calls directly:
    // a blocking call into one's own thread would never return.
    if (QThread::currentThread() == windowObject_->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(windowObject_, f, Qt::BlockingQueuedConnection);
}

void WindowSink::notify(Notify kind, int32_t payload) {
    call([this, kind, payload] { window_.onJobNotify(kind, payload); });
}

void WindowSink::setTitle(const std::string& text) {
    const QString t = QString::fromStdString(text);
    call([this, t] { window_.setCaptionText(t); });
}

void WindowSink::showMessage(const std::string& text) {
    const QString t = QString::fromStdString(text);
    call([this, t] { window_.showMessage(t); });
}

void WindowSink::clearErrorList() {
    call([this] { window_.clearErrorList(); });
}

TXXXThread::TXXXThread(Body body, JobWindow& window, QObject* windowObject, bool lowPriority)
    : body_(std::move(body)),
      window_(window),
      windowObject_(windowObject),
      lowPriority_(lowPriority) {}

void TXXXThread::Execute() {
    // On the job's own thread, which ends with the job: the window's thread
    // and the next job are not touched.
    if (lowPriority_) lowerThreadPriority();
    const int32_t result = body_();
    JobWindow* window = &window_;
    QMetaObject::invokeMethod(
        windowObject_, [window, result] { window->onJobDone(result); }, Qt::QueuedConnection);
}

}  // namespace mpg::ui
