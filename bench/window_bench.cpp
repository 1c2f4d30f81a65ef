// window_bench FILE [RUNS]: the scan of FILE through the window program
// (offscreen, started with its "го" button, timed until the job has ended)
// beside the same scan on the same thread layout with a sink that only
// records what it is told. Prints the median seconds of each and the ratio.
// window_bench --broken [RUNS]: the same for streams of 1,000, 10,000 and
// 100,000 broken blocks (made by mpgsynth), with the longest time the
// window's thread went without serving a 10 ms timer during the scan.
// window_bench --pairs [PAIRS] [SIZE]: the window beside the command line
// doing the same work, in interleaved pairs (window, command line, window...),
// each side timed from its start (the window's button, the process's spawn)
// to the end of its job: the scan, and the scan followed by each strategy of
// the hammer, on streams of SIZE bytes (default 256 MiB) with 0 to 100,000
// runs of zeros and on streams whose every block is broken. Prints a markdown
// table with the median of each side, the median of the pairs' ratios and
// the least and greatest ratio.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
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

// The command-line companion run as a process, its output thrown away; its
// seconds from the spawn to its exit.
double cliRun(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string cli = MPGMEND_CLI;
    argv.push_back(cli.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", cli.c_str());
        std::exit(1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    // 0: no broken block; 3: broken blocks found or left.
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3)) {
        std::fprintf(stderr, "mpgmend-cli failed\n");
        std::exit(1);
    }
    return seconds;
}

// The strategies as the window's radio buttons and the command line's --apply name them.
struct StrategyNames {
    const char* radio;
    const char* apply;
};
constexpr StrategyNames kStrategies[] = {
    {"RadioEQ", "eq"}, {"RadioRERE", "rescan"}, {"RadioISALL", "sizes"}, {"RadioAUTO", "auto"}};

// The scan through the window, then, given a strategy, the hammer with it:
// from the click on "го" to the end of the last job.
// The rows the window's last scan listed.
int listedRows = 0;

// The rows that name a block (an empty list holds one unused row).
int blockRows(const mpg::ErrorGrid& grid) {
    const int rows = grid.rowCount() - 1;
    return rows == 1 && !grid.rowUsed(1) ? 0 : rows;
}

// `scanSeconds`, when given, gets the part the scan took.
double windowWork(const std::string& path, const char* radio, double* scanSeconds = nullptr) {
    Program p(path);
    const auto start = Clock::now();
    const double seconds = p.timed([&] {
        p.scan();
        if (radio == nullptr) return;
        while (p.main.jobRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        listedRows = blockRows(p.main.grid());
        if (scanSeconds != nullptr)
            *scanSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        p.main.findChild<QRadioButton*>(radio)->setChecked(true);
        emit p.main.findChild<mpg::ui::TImage*>("ImageHAMMER")->clicked();
    });
    if (radio == nullptr) listedRows = blockRows(p.main.grid());
    return seconds;
}

// The same work by the command line: `scan`, or `repair --apply X --dry-run`
// (the scan, the strategy, the plan printed, no stream written).
double cliWork(const std::string& path, const char* apply) {
    if (apply == nullptr) return cliRun({"scan", path});
    return cliRun({"repair", path, "--apply", apply, "--dry-run"});
}

std::string grouped(int n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// One row of the table: `pairs` interleaved pairs.
void comparePairs(const std::string& label, const std::string& what, const std::string& path,
                  const StrategyNames* strategy, int pairs) {
    std::vector<double> window, cli, ratios;
    // One untimed run of each side first: the page cache and the window's fonts warm.
    windowWork(path, strategy ? strategy->radio : nullptr);
    cliWork(path, strategy ? strategy->apply : nullptr);
    for (int i = 0; i < pairs; ++i) {
        window.push_back(windowWork(path, strategy ? strategy->radio : nullptr));
        cli.push_back(cliWork(path, strategy ? strategy->apply : nullptr));
        ratios.push_back(window.back() / cli.back());
    }
    const auto [least, most] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("| %s | %s | %s | %.3f | %.3f | %.2f | %.2f-%.2f |\n", label.c_str(),
                grouped(listedRows).c_str(), what.c_str(), median(window), median(cli),
                median(ratios), *least, *most);
    std::fflush(stdout);
}

int windowBesideCli(int pairs, uint64_t size) {
    QTemporaryDir dir;
    const auto make = [&](const QString& name, const QStringList& how) {
        const QString path = dir.filePath(name);
        if (QProcess::execute(QStringLiteral(MPGSYNTH), QStringList{path} + how) != 0) {
            std::fprintf(stderr, "mpgsynth failed\n");
            std::exit(1);
        }
        return path.toStdString();
    };
    std::printf(
        "| stream | rows listed | work | window (s) | command line (s) | window / command line "
        "| least-greatest ratio |\n|---|---|---|---|---|---|---|\n");
    for (const int runs : {0, 1000, 10000, 100000}) {
        const std::string path = make(QStringLiteral("runs-%1.mpg").arg(runs),
                                      {QStringLiteral("--size"), QString::number(size),
                                       QStringLiteral("--zero-runs"), QString::number(runs)});
        const std::string label = grouped(runs) + " runs of zeros";
        comparePairs(label, "scan", path, nullptr, pairs);
        for (const StrategyNames& s : kStrategies) {
            if (runs >= 10000)
                comparePairs(label, std::string("scan + ") + s.apply, path, &s, pairs);
        }
        QFile::remove(QString::fromStdString(path));
    }
    // Every block after the headers broken, 7 bytes each: the cost per row alone.
    for (const int blocks : {1000, 10000, 100000}) {
        const std::string path = make(QStringLiteral("broken-%1.mpg").arg(blocks),
                                      {QStringLiteral("--size"), QString::number(64 + 7 * blocks),
                                       QStringLiteral("--broken-packets")});
        const std::string label = grouped(blocks) + " blocks, every one broken";
        comparePairs(label, "scan", path, nullptr, pairs);
        if (blocks < 10000) continue;
        for (const StrategyNames& s : kStrategies)
            comparePairs(label, std::string("scan + ") + s.apply, path, &s, pairs);
    }
    return 0;
}

// A line of /proc/self/status in kilobytes ("VmRSS:", "VmHWM:").
long statusKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').front().toLong();
    }
    return -1;
}

// The memory the window takes to load FILE.index (written beforehand, e.g.
// by `mpgmend-cli scan --save-index`): the resident set before the load,
// its peak during the load (the peak is reset first) and after; once on a
// window that has only opened FILE, once after the window's scan of it.
int indexMemory(const std::string& path) {
    std::printf(
        "| window | resident before (MB) | peak while loading (MB) | after (MB) |\n"
        "|---|---|---|---|\n");
    for (const bool scanned : {false, true}) {
        Program p(path);
        if (scanned) p.timed([&] { p.scan(); });
        QCoreApplication::processEvents();
        const long before = statusKb("VmRSS:");
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1) return 1;
        clear.close();
        p.main.findChild<QAction*>("MIzaer")->trigger();
        const long peak = statusKb("VmHWM:");
        QCoreApplication::processEvents();
        std::printf("| %s | %.1f | %.1f | %.1f |\n", scanned ? "after its scan" : "just opened",
                    before / 1024.0, peak / 1024.0, statusKb("VmRSS:") / 1024.0);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Offscreen unless a display is given (xvfb-run -a window_bench ...).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: window_bench FILE [RUNS] | --broken [RUNS] | --pairs [PAIRS] [SIZE] | "
                     "--once FILE [STRATEGY] | --index-memory FILE\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (path == "--broken") return brokenBlocks(runs);
    // One run of the window alone, for a profiler: --once FILE [eq|rescan|sizes|auto].
    if (path == "--once" && argc > 2) {
        const StrategyNames* strategy = nullptr;
        for (const StrategyNames& s : kStrategies)
            if (argc > 3 && std::string(argv[3]) == s.apply) strategy = &s;
        double scan = 0;
        const auto cpu = [](int who) {
            rusage use{};
            ::getrusage(who, &use);
            return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                   double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
        };
        const double window = cpu(RUSAGE_THREAD), all = cpu(RUSAGE_SELF);
        const double seconds = windowWork(argv[2], strategy ? strategy->radio : nullptr, &scan);
        const double windowCpu = cpu(RUSAGE_THREAD) - window, allCpu = cpu(RUSAGE_SELF) - all;
        std::printf(
            "%.3f s (the scan %.3f s); processor: the window's thread %.3f s, the jobs' "
            "%.3f s\n",
            seconds, strategy ? scan : seconds, windowCpu, allCpu - windowCpu);
        return 0;
    }
    if (path == "--index-memory" && argc > 2) return indexMemory(argv[2]);
    if (path == "--pairs") {
        const uint64_t size = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : uint64_t{256} << 20;
        return windowBesideCli(argc > 2 ? std::max(1, std::atoi(argv[2])) : 7, size);
    }
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
