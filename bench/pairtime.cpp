// pairtime: times two commands in interleaved pairs (ours, theirs, ours,
// theirs...) and prints the median of the pairs' ratios with their spread,
// each side's median seconds and peak resident memory, and the machine's
// load over the pairs.
//
//   pairtime [--pairs N] [--warmup N] [--sync] [--remove PATH]... [--ok STATUS,...]
//            [--ours-out PATH] [--theirs-out PATH] [--each] -- OURS... --vs THEIRS...
//
// Each command is started with fork and exec, without a shell: its standard
// input is /dev/null, its standard output /dev/null or the --ours-out /
// --theirs-out file (made anew for each run, as a shell's "> FILE" does),
// its standard error /dev/null. A run is timed with the monotonic clock from
// just before the fork to wait4's return, which also gives the child's peak
// resident memory. Before every run, untimed: the --remove paths are
// removed, and with --sync the dirty pages of the run before are written
// out, so that no run pays for another's writeback. --warmup runs (1 by
// default) of each side come first, untimed, with the page cache warm after.
// An exit status outside --ok (0 by default) or a signal stops everything.
//
// The one line printed, in seconds and KB:
//   pairs=N ours=S theirs=S ratio=R min=R max=R q1=R q3=R ours_kb=K theirs_kb=K
//   load1=L steal=P
// load1 is the one-minute load average when the pairs began; steal the share
// (%) of the processors' time that the host took for other guests meanwhile.
// --each writes every pair's seconds and ratio to standard error.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pair_stats.h"

namespace {

struct Side {
    std::vector<std::string> argv;
    std::string out = "/dev/null";
    std::vector<double> seconds;
    long peakKb = 0;
};

struct Options {
    int pairs = 7;
    int warmup = 1;
    bool sync = false;
    bool each = false;
    std::vector<std::string> remove;
    std::vector<int> ok{0};
    Side ours, theirs;
};

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<int> statusList(const std::string& text) {
    std::vector<int> list;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) list.push_back(std::atoi(item.c_str()));
    return list;
}

bool parse(int argc, char** argv, Options& o) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--") break;
        if (a == "--sync") {
            o.sync = true;
        } else if (a == "--each") {
            o.each = true;
        } else if (a == "--pairs" && hasValue) {
            o.pairs = std::atoi(argv[++i]);
        } else if (a == "--warmup" && hasValue) {
            o.warmup = std::atoi(argv[++i]);
        } else if (a == "--remove" && hasValue) {
            o.remove.emplace_back(argv[++i]);
        } else if (a == "--ok" && hasValue) {
            o.ok = statusList(argv[++i]);
        } else if (a == "--ours-out" && hasValue) {
            o.ours.out = argv[++i];
        } else if (a == "--theirs-out" && hasValue) {
            o.theirs.out = argv[++i];
        } else {
            return false;
        }
    }
    Side* side = &o.ours;
    for (++i; i < argc; ++i) {
        if (std::strcmp(argv[i], "--vs") == 0 && side == &o.ours) {
            side = &o.theirs;
        } else {
            side->argv.emplace_back(argv[i]);
        }
    }
    return o.pairs > 0 && o.warmup >= 0 && !o.ours.argv.empty() && !o.theirs.argv.empty();
}

void describe(const Side& side) {
    for (const std::string& a : side.argv) std::fprintf(stderr, " %s", a.c_str());
    if (side.out != "/dev/null") std::fprintf(stderr, " > %s", side.out.c_str());
}

// Runs the side once; its seconds, or a negative figure when it failed.
double runOnce(const Options& o, Side& side) {
    for (const std::string& path : o.remove) ::unlink(path.c_str());
    if (o.sync) ::sync();
    std::vector<char*> args;
    for (const std::string& a : side.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const double start = now();
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(side.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    pid_t done;
    do {
        done = ::wait4(pid, &status, 0, &usage);
    } while (done < 0 && errno == EINTR);
    const double seconds = now() - start;
    if (done != pid) return -1;
    side.peakKb = std::max(side.peakKb, usage.ru_maxrss);
    const bool accepted =
        WIFEXITED(status) && std::find(o.ok.begin(), o.ok.end(), WEXITSTATUS(status)) != o.ok.end();
    if (!accepted) {
        std::fprintf(stderr, "pairtime: exit status %d%s from",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                     WIFSIGNALED(status) ? " (a signal)" : "");
        describe(side);
        std::fprintf(stderr, "\n");
        return -1;
    }
    return seconds;
}

// The processors' time from /proc/stat: all of it, and the share stolen.
struct CpuTimes {
    unsigned long long total = 0, steal = 0;
};

CpuTimes cpuTimes() {
    CpuTimes t;
    std::ifstream stat("/proc/stat");
    std::string name;
    stat >> name;
    if (name != "cpu") return t;
    // user nice system idle iowait irq softirq steal (guest time is in user)
    for (int field = 0; field < 8; ++field) {
        unsigned long long v = 0;
        if (!(stat >> v)) break;
        t.total += v;
        if (field == 7) t.steal = v;
    }
    return t;
}

double loadNow() {
    std::ifstream load("/proc/loadavg");
    double one = 0;
    load >> one;
    return one;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: pairtime [--pairs N] [--warmup N] [--sync] [--remove PATH]... "
                     "[--ok STATUS,...] [--ours-out PATH] [--theirs-out PATH] [--each] -- OURS... "
                     "--vs THEIRS...\n");
        return 2;
    }
    for (int i = 0; i < o.warmup; ++i) {
        if (runOnce(o, o.ours) < 0 || runOnce(o, o.theirs) < 0) return 1;
    }
    o.ours.peakKb = o.theirs.peakKb = 0;
    const double load = loadNow();
    const CpuTimes before = cpuTimes();
    for (int i = 0; i < o.pairs; ++i) {
        const double a = runOnce(o, o.ours);
        const double b = a < 0 ? -1 : runOnce(o, o.theirs);
        if (b < 0) return 1;
        o.ours.seconds.push_back(a);
        o.theirs.seconds.push_back(b);
        if (o.each) std::fprintf(stderr, "pair %d: %.6f %.6f %.4f\n", i + 1, a, b, a / b);
    }
    for (const std::string& path : o.remove) ::unlink(path.c_str());
    const CpuTimes after = cpuTimes();
    const double steal = after.total > before.total ? 100.0 * double(after.steal - before.steal) /
                                                          double(after.total - before.total)
                                                    : 0;
    const mpg::bench::PairSummary s = mpg::bench::summarisePairs(o.ours.seconds, o.theirs.seconds);
    std::printf(
        "pairs=%zu ours=%.6f theirs=%.6f ratio=%.4f min=%.4f max=%.4f q1=%.4f q3=%.4f "
        "ours_kb=%ld theirs_kb=%ld load1=%.2f steal=%.1f\n",
        s.pairs, s.oursMedian, s.theirsMedian, s.ratio, s.ratioMin, s.ratioMax, s.ratioQ1,
        s.ratioQ3, o.ours.peakKb, o.theirs.peakKb, load, steal);
    return 0;
}
