#include "audio/output/Realtime.h"

#include <sched.h>

namespace audio {

bool makeThisThreadRealtime(int priority)
{
    sched_param param {};
    param.sched_priority = priority;
    // On Linux the pid 0 is the calling thread, not the whole process.
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

} // namespace audio
