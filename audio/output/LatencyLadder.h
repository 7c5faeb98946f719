#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace audio {

// Finds the smallest buffer that holds: starts at the first step and climbs one step at each
// underrun, up to the last. Underruns that come before a climb has had time to take effect
// are counted but do not climb again.
class LatencyLadder {
public:
    using Clock = std::chrono::steady_clock;

    // steps in frames, smallest first.
    LatencyLadder(std::span<const int> steps, Clock::duration settle);

    int current() const { return steps_[step_]; }
    bool atTop() const { return step_ + 1 == steps_.size(); }

    // Takes the running count of underruns; returns true when it climbed.
    bool observe(std::uint64_t underruns, Clock::time_point now);

private:
    std::vector<int> steps_;
    Clock::duration settle_;
    std::size_t step_ = 0;
    std::uint64_t seen_ = 0;
    Clock::time_point lastClimb_ {};
    bool climbed_ = false;
};

} // namespace audio
