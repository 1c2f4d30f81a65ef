// window_bench FILE [RUNS]: the scan of FILE through the window program
// (offscreen, started with its "го" button, timed until the job has ended)
// beside the same scan on the same thread layout with a sink that only
// records what it is told. Prints the median seconds of each and the ratio.
// window_bench --broken [RUNS]: the same for streams of 1,000, 10,000 and
// 100,000 broken blocks (made by mpgsynth), with the longest time the
// window's thread went without serving a 10 ms timer during the scan.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "analysis/grid_sink.h"
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
    void notify(const mpg::Notice& n) override { events.emplace_back(n.kind, n.payload); }
    void reportCheck(mpg::CheckResult) override {}
    void clearErrorList() override {}
    std::vector<std::pair<mpg::Notify, int32_t>> events;
};

// The scan on a worker thread, as the window runs it, reporting to `sink`.
double threadScan(const std::string& path, mpg::JobSink& sink) {
    mpg::AppState state;
    const auto start = Clock::now();
    // On a worker thread, as the window runs it.
    std::unique_ptr<QThread> worker(QThread::create([&] {
        if (state.view.openStream(path) != mpg::OpenStatus::Opened) return;
        if (mpg::scanStream(state, sink)) std::fprintf(stderr, "the scan failed\n");
        state.view.closeFile();
    }));
    worker->start();
    worker->wait();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double sinkScan(const std::string& path) {
    RecordingSink sink;
    return threadScan(path, sink);
}

// The scan writing the list's rows as the command line does.
double gridScan(const std::string& path) {
    mpg::ErrorGrid grid;
    mpg::GridSink sink(grid);
    return threadScan(path, sink);
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

// Counts the longest gap between the turns of a 10 ms timer on the window's thread.
struct PauseMeter {
    QTimer tick;
    Clock::time_point last = Clock::now();
    double longest = 0;
    PauseMeter() {
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest = std::max(longest, std::chrono::duration<double>(now - last).count());
            last = now;
        });
        tick.start(10);
    }
};

double windowScan(const std::string& path, double* longestPause = nullptr) {
    Program p(path);
    PauseMeter meter;
    const double seconds = p.timed([&] { p.scan(); });
    if (longestPause != nullptr) *longestPause = meter.longest;
    return seconds;
}

// The scan through the window, then one press of the hammer (the strategy
// checked by default). Returns the hammer's seconds; `longestPause` gets the
// longest time the window's thread went without serving a 10 ms timer.
double windowHammer(const std::string& path, double& longestPause) {
    Program p(path);
    p.timed([&] { p.scan(); });
    PauseMeter meter;
    const double seconds =
        p.timed([&] { emit p.main.findChild<mpg::ui::TImage*>("ImageHAMMER")->clicked(); });
    longestPause = meter.longest;
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Streams whose every block after the headers is broken: 7 bytes each.
int brokenBlocks(int runs) {
    QTemporaryDir dir;
    std::printf(
        "broken blocks | scan with a recording sink | with the command line's rows | through the "
        "window | window / command line's rows | longest pause of the window\n");
    for (const int blocks : {1000, 10000, 100000}) {
        const QString path = dir.filePath(QStringLiteral("broken-%1.mpg").arg(blocks));
        const int made =
            QProcess::execute(QStringLiteral(MPGSYNTH),
                              {path, QStringLiteral("--size"), QString::number(64 + 7 * blocks),
                               QStringLiteral("--broken-packets")});
        if (made != 0) return 1;
        std::vector<double> sink, rows, window;
        double pause = 0;
        for (int i = 0; i < runs; ++i) {
            double p = 0;
            sink.push_back(sinkScan(path.toStdString()));
            rows.push_back(gridScan(path.toStdString()));
            window.push_back(windowScan(path.toStdString(), &p));
            pause = std::max(pause, p);
        }
        const double s = median(sink), r = median(rows), w = median(window);
        std::printf("%d | %.3f s | %.3f s | %.3f s | %.2f | %.0f ms\n", blocks, s, r, w, w / r,
                    pause * 1000);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench FILE [RUNS] | --broken [RUNS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (path == "--broken") return brokenBlocks(runs);
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
