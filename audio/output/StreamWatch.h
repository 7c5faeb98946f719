#pragma once

#include <atomic>
#include <cstdint>

namespace audio {

// What a stream's real-time thread tells the thread that chooses its buffer, lock-free: the
// underruns, the worst stall since the chooser last looked, and when the output last held sound.
class StreamWatch {
public:
    // [real-time] What the real-time thread saw.
    void underran(unsigned count = 1) noexcept
    {
        underruns_.fetch_add(count, std::memory_order_relaxed);
    }
    void stalled(std::int64_t ns) noexcept
    {
        std::int64_t worst = worstStallNs_.load(std::memory_order_relaxed);
        while (ns > worst
            && !worstStallNs_.compare_exchange_weak(worst, ns, std::memory_order_relaxed))
            ;
    }
    void sounded(std::int64_t nowNs) noexcept
    {
        lastSoundNs_.store(nowNs, std::memory_order_relaxed);
    }

    // [any]
    std::uint64_t underruns() const noexcept { return underruns_.load(std::memory_order_relaxed); }
    std::int64_t lastSoundNs() const noexcept
    {
        return lastSoundNs_.load(std::memory_order_relaxed);
    }
    // [stream] The chooser's side: the worst stall since the last call.
    std::int64_t takeWorstStall() noexcept
    {
        return worstStallNs_.exchange(0, std::memory_order_relaxed);
    }

private:
    alignas(64) std::atomic<std::uint64_t> underruns_ { 0 };
    std::atomic<std::int64_t> worstStallNs_ { 0 };
    std::atomic<std::int64_t> lastSoundNs_ { 0 };
};

} // namespace audio
