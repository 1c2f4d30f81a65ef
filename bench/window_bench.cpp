// window_bench FILE [RUNS]: the scan of FILE through the window program
// (offscreen, started with its "го" button, timed until the job has ended)
// beside the same scan on the same thread layout with a sink that only
// records what it is told. Prints the median seconds of each and the ratio.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "analysis/progress_throttle.h"
#include "analysis/scan.h"
#include "ui/form_du.h"
#include "ui/form_yes_no.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

namespace {

using Clock = std::chrono::steady_clock;

class RecordingSink : public mpg::ThrottledSink {
  public:
    void notify(mpg::Notify kind, int32_t payload) override { events.emplace_back(kind, payload); }
    void setTitle(const std::string&) override {}
    void clearErrorList() override {}
    std::vector<std::pair<mpg::Notify, int32_t>> events;
};

double sinkScan(const std::string& path) {
    mpg::AppState state;
    RecordingSink sink;
    const auto start = Clock::now();
    // On a worker thread, as the window runs it.
    std::unique_ptr<QThread> worker(QThread::create([&] {
        if (state.view.openStream(path) != mpg::OpenStatus::Opened) return;
        mpg::scanStream(state, sink);
        state.view.closeFile();
    }));
    worker->start();
    worker->wait();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The window program with its input named, as start-up makes it.
struct Program {
    mpg::AppState state;
    mpg::ui::TFormMain main{state};
    mpg::ui::TFormYesNo yesNo;
    mpg::ui::TFormDU dump;

    explicit Program(const std::string& path) {
        main.setForms(&yesNo, &dump);
        main.show();
        QCoreApplication::processEvents();
        main.findChild<QLineEdit*>("EditIN")->setText(QString::fromStdString(path));
    }
    // Runs the command and waits for the job it starts; its seconds.
    double timed(const std::function<void()>& command) {
        const auto start = Clock::now();
        command();
        while (main.jobRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
    void scan() { main.findChild<QPushButton*>("BitBtnGO")->click(); }
};

double windowScan(const std::string& path) {
    Program p(path);
    return p.timed([&] { p.scan(); });
}

// The scan through the window, then one press of the hammer (the strategy
// checked by default). Returns the hammer's seconds; `longestPause` gets the
// longest time the window's thread went without serving a 10 ms timer.
double windowHammer(const std::string& path, double& longestPause) {
    Program p(path);
    p.timed([&] { p.scan(); });
    QTimer tick;
    auto last = Clock::now();
    longestPause = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longestPause = std::max(longestPause, std::chrono::duration<double>(now - last).count());
        last = now;
    });
    tick.start(10);
    last = Clock::now();
    return p.timed([&] { emit p.main.findChild<mpg::ui::TImage*>("ImageHAMMER")->clicked(); });
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench FILE [RUNS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> sink, window;
    for (int i = 0; i < runs; ++i) {
        sink.push_back(sinkScan(path));
        window.push_back(windowScan(path));
    }
    const double s = median(sink), w = median(window);
    std::printf(
        "scan with a recording sink: %.3f s\nscan through the window:    %.3f s\nwindow / sink: "
        "%.2f\n",
        s, w, w / s);
    double pause = 0;
    const double hammer = windowHammer(path, pause);
    std::printf("hammer through the window: %.3f s, longest pause of the window: %.0f ms\n", hammer,
                pause * 1000);
    return 0;
}
