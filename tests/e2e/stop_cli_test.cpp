// mpgmend-cli stopped by a signal while it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "stream/file_io.h"
#include "support/temp_dir.h"

namespace mpg {
namespace {

using test::readFile;

// Runs the CLI with `args`, its standard error into err.txt of `dir`, until
// `ready` says so (or it ends, or 20 seconds pass); then sends it `signal`.
// Its standard error, and its exit code in `code` (-1 when it did not exit
// by itself: one that does not end within 20 seconds is killed, so that a
// stop that goes unheard fails the test instead of hanging it).
std::string stopWhen(const std::vector<std::string>& args, const test::TempDir& dir,
                     const std::function<bool(pid_t)>& ready, int signal, int& code) {
    const std::string err = dir.file("err.txt");
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        std::vector<char*> argv{const_cast<char*>(MPGMEND_CLI)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(MPGMEND_CLI, argv.data());
        ::_exit(127);
    }
    int status = 0, wait = 0;
    const auto runs = [&] { return ++wait < 200'000 && ::waitpid(child, &status, WNOHANG) == 0; };
    while (runs() && !ready(child)) ::usleep(100);
    ::kill(child, signal);
    for (wait = 0; runs();) ::usleep(100);
    if (wait == 200'000) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> text = readFile(err);
    return {text.begin(), text.end()};
}

// SIGTERM and SIGHUP stop a job as Ctrl-C does: the output it was to replace
// (with --force) stays whole, what was written is kept beside it, and no
// temporary file is left behind.
TEST(CliStop, TermAndHangUpKeepTheOutputTheJobWasToReplace) {
    const std::vector<uint8_t> head = readFile(test::fixture("av.mpg"));
    for (const int signal : {SIGTERM, SIGHUP}) {
        test::TempDir dir;
        const std::string piece = dir.write("piece.mpg", head), out = dir.write("out.mpg", head);
        ASSERT_EQ(::truncate(piece.c_str(), 1LL << 30), 0);  // the rest a hole
        const auto writing = [&](pid_t) {                    // its temporary file is there
            const std::vector<std::string> names = test::listFolder(dir.path());
            return std::any_of(names.begin(), names.end(), [](const std::string& n) {
                return n.starts_with(kTemporaryPrefix);
            });
        };
        int code = 0;
        const std::string err =
            stopWhen({"join", "--glue", "--force", "-o", out, piece}, dir, writing, signal, code);
        EXPECT_EQ(code, 1) << signal;
        EXPECT_NE(err.find("прервано пользователем"), std::string::npos) << err;
        EXPECT_EQ(readFile(out), head);
        EXPECT_EQ(test::listFolder(dir.path()),
                  (std::vector<std::string>{"err.txt", "out.mpg", "out.mpg.partial", "piece.mpg"}));
        const std::vector<uint8_t> kept = readFile(out + ".partial");
        EXPECT_TRUE(kept.size() >= head.size() &&
                    std::equal(head.begin(), head.end(), kept.begin()));
    }
}

// Ctrl-C while a write waits on a reader that reads nothing stops the job
// all the same. The FIFO is full before the repair writes: its first write
// waits with nothing written, which only a signal that is not restarted
// ends ("pipe_write" where the process waits, "pipe_wait" in older kernels).
TEST(CliStop, InterruptEndsAWriteThatWaitsOnItsReader) {
    test::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int filler = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    const std::vector<uint8_t> chunk(4096, 0x5A);
    while (::write(filler, chunk.data(), chunk.size()) > 0) {
    }
    const auto waiting = [](pid_t pid) {
        const std::vector<uint8_t> at = readFile("/proc/" + std::to_string(pid) + "/wchan");
        return std::string(at.begin(), at.end()).find("pipe_w") != std::string::npos;
    };
    int code = 0;
    const std::string err =
        stopWhen({"repair", test::fixture("av.mpg"), "-o", fifo}, dir, waiting, SIGINT, code);
    ::close(filler);
    ::close(reader);
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("прервано пользователем"), std::string::npos) << err;
}

}  // namespace
}  // namespace mpg
