#pragma once

#include "audio/Clock.h"

namespace audio {

// [stream] Gives the calling thread round-robin-free real-time scheduling (SCHED_FIFO) at this
// priority, not inherited by children. Returns false when the system refuses: the thread
// then keeps its normal priority and the stream's latency ladder copes.
bool makeThisThreadRealtime(int priority);

} // namespace audio
