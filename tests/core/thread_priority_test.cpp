#include "stream/thread_priority.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace mpg {
namespace {

int ioClassOfThisThread() {
    constexpr int kWhoProcess = 1;
    return static_cast<int>(::syscall(SYS_ioprio_get, kWhoProcess, 0)) >> 13;
}

// Lowered on its own thread only: the thread that started it keeps its CPU
// and I/O classes.
TEST(ThreadPriority, LowersOnlyTheCallingThread) {
    const int policy = ::sched_getscheduler(0);
    const int ioClass = ioClassOfThisThread();
    int lowPolicy = -1, lowIoClass = -1;
    bool lowered = false;
    std::thread job([&] {
        lowered = lowerThreadPriority();
        lowPolicy = ::sched_getscheduler(0);
        lowIoClass = ioClassOfThisThread();
    });
    job.join();
    EXPECT_TRUE(lowered);
    EXPECT_EQ(lowPolicy, SCHED_IDLE);
    EXPECT_EQ(lowIoClass, 3);  // IOPRIO_CLASS_IDLE
    EXPECT_EQ(::sched_getscheduler(0), policy);
    EXPECT_EQ(ioClassOfThisThread(), ioClass);
}

}  // namespace
}  // namespace mpg
