#include "stream/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace mpg {

namespace {

// From linux/ioprio.h, which glibc does not wrap: the class sits above 13
// bits of level; who 1 with id 0 names the calling thread.
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioWhoProcess = 1;

}  // namespace

bool lowerThreadPriority() {
    sched_param param{};
    param.sched_priority = 0;
    bool cpu = ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param) == 0;
    // Linux gives each thread its own nice value; the process keeps its own.
    if (!cpu) cpu = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19) == 0;
    const bool io =
        ::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift) == 0;
    return cpu && io;
}

}  // namespace mpg
