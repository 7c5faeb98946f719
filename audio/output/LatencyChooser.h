#pragma once

#include "audio/output/LatencyLadder.h"
#include "audio/output/StreamWatch.h"

#include <atomic>
#include <cstdint>
#include <optional>

namespace audio {

// The control side of a PipeWire or PulseAudio stream: now and then it hands what the real-time
// thread saw to the stream's ladder, and tells in the log every underrun and every change of
// step, with its time on the monotonic clock and its reason.
class LatencyChooser {
public:
    // [player] server names the stream in the log. watch must outlive the chooser.
    LatencyChooser(
        const char* server, LatencyLadder::Rules rules, StreamWatch& watch, std::int64_t nowNs);

    // [stream] The new step in frames, when the ladder moved; the stream then asks for it.
    std::optional<int> choose(std::int64_t nowNs);

    // [any] The step asked for, in frames, and the worst stall remembered.
    int target() const noexcept { return target_.load(std::memory_order_acquire); }
    double worstStallMs() const noexcept
    {
        return static_cast<double>(worstStallNs_.load(std::memory_order_relaxed)) / 1e6;
    }

private:
    void reportUnderruns(std::uint64_t underruns, std::uint64_t heard);

    const char* server_;
    int rate_;
    StreamWatch& watch_;
    LatencyLadder ladder_; // the stream's control thread's own, as are the counts below
    std::uint64_t reportedUnderruns_ = 0;
    std::uint64_t reportedHeard_ = 0;
    std::atomic<int> target_;
    std::atomic<std::int64_t> worstStallNs_ { 0 };
};

} // namespace audio
