// Giving way to the rest of the machine: a job that the user runs without
// "высокий приоритет задачи" lowers its own thread, so that it gets the CPU
// and the disk only when nothing else wants them.
#pragma once

namespace mpg {

// Lowers the calling thread (not the process) to the idle CPU class
// (SCHED_IDLE, or nice 19 where that is refused) and to the idle I/O class.
// A thread cannot raise itself again without privileges: call it on a
// thread that ends with its job. True when both were lowered.
bool lowerThreadPriority();

}  // namespace mpg
