#pragma once

#include "audio/output/OutputConfig.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace audio {

// What a stream's real-time thread tells the thread that chooses its buffer, lock-free: the
// underruns and which of them were heard, when the latest came, the worst stall since the
// chooser last looked, and when the output last held sound.
class StreamWatch {
public:
    // [real-time] count underruns noticed at nowNs, for a gap in the output that began gapNs
    // before: heard when the output was sounding up to then, or when the block they lost
    // held sound (lostSound).
    void underran(
        unsigned count, std::int64_t nowNs, std::int64_t gapNs, bool lostSound = false) noexcept
    {
        const std::int64_t lastSound = lastSoundNs_.load(std::memory_order_relaxed);
        const std::int64_t within = std::chrono::nanoseconds(config::heardWithin).count();
        if (lostSound || (lastSound > 0 && lastSound >= nowNs - gapNs - within))
            heardUnderruns_.fetch_add(count, std::memory_order_relaxed);
        lastUnderrunNs_.store(nowNs, std::memory_order_relaxed);
        underruns_.fetch_add(count, std::memory_order_release);
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
    std::uint64_t underruns() const noexcept { return underruns_.load(std::memory_order_acquire); }
    std::uint64_t heardUnderruns() const noexcept
    {
        return heardUnderruns_.load(std::memory_order_relaxed);
    }
    std::int64_t lastUnderrunNs() const noexcept
    {
        return lastUnderrunNs_.load(std::memory_order_relaxed);
    }
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
    std::atomic<std::uint64_t> heardUnderruns_ { 0 };
    std::atomic<std::int64_t> lastUnderrunNs_ { 0 };
    std::atomic<std::int64_t> worstStallNs_ { 0 };
    std::atomic<std::int64_t> lastSoundNs_ { 0 };
};

} // namespace audio
