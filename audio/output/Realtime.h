#pragma once

#include <cstdint>

namespace audio {

// [real-time, any] The monotonic clock in nanoseconds, the one sound servers stamp their cycles
// with. Read without a system call, so the real-time thread may use it.
std::int64_t monotonicNs() noexcept;

// [stream] Gives the calling thread round-robin-free real-time scheduling (SCHED_FIFO) at this
// priority, not inherited by children. Returns false when the system refuses: the thread
// then keeps its normal priority and the stream's latency ladder copes.
bool makeThisThreadRealtime(int priority);

} // namespace audio
