#include "audio/output/Realtime.h"

#include <sched.h>
#include <time.h>

namespace audio {

std::int64_t monotonicNs() noexcept
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool makeThisThreadRealtime(int priority)
{
    sched_param param {};
    param.sched_priority = priority;
    // On Linux the pid 0 is the calling thread, not the whole process.
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

} // namespace audio
