#pragma once

#include <cstdint>
#include <ctime>

namespace audio {

// [real-time, any] The monotonic clock in nanoseconds: the one sound servers stamp their cycles
// with, and steady_clock's on Linux. Read without a system call (the vDSO), so the real-time
// threads may use it.
inline std::int64_t monotonicNs() noexcept
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace audio
