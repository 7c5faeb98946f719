#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace audio {

// Chooses a stream's buffer among a few steps from what its real-time thread saw: underruns,
// and each moment's worst stall (how late the stream was served, beyond its normal pace).
//
// It climbs at once on an underrun or a close call, to the smallest step that leaves room for
// the worst stall seen lately, and at least back to the last step that held a whole window;
// it never comes back to a step that failed. It steps down only while the output is silent,
// so that a step which does not hold fails where no one hears it, and only as far as the worst
// stall over a long window would have fitted. So it starts on a step that holds on a busy
// machine, a quiet machine soon plays on a small one, and a step down that fails after all is
// heard once, then the last step that held plays again.
//
// One thread at a time: the thread that opens the stream makes it, then the stream's chooser
// (its control thread) owns it.
class LatencyLadder {
public:
    struct Rules {
        std::vector<int> steps; // frames, smallest first
        std::size_t start = 0; // index of the step to begin on
        int rate = 48000;
        // A stall of this share of the step's duration or more is a close call.
        double closeCall = 0.75;
        // A step holds while the worst stall stays under this share of its duration.
        double holds = 0.5;
        std::int64_t windowNs = 0; // the history a step down looks at, and waits for
        std::int64_t silenceNs = 0; // silent output wanted before a step down
        // Down as far as the window's worst stall fits at once, or one step a window: for a
        // stall measure too coarse to vouch for a step far below.
        bool downAsFarAsFits = true;

        // [any] With the window and the silence the audio service uses. Not on the real-time
        // thread: it allocates.
        static Rules fromConfig(std::span<const int> steps, std::size_t start, int rate,
            double closeCall, double holds, bool downAsFarAsFits);
    };
    enum class Change { None, Up, Down };

    LatencyLadder(Rules rules, std::int64_t nowNs);

    // [stream] The step chosen, in frames.
    int current() const { return rules_.steps[step_]; }
    // [stream] The worst stall in the window, in nanoseconds.
    std::int64_t worstStallNs() const;

    // [stream] Called now and then with the running count of underruns, the worst stall since
    // the last call, and when the output last held sound (all on the monotonic clock).
    Change tick(std::uint64_t underruns, std::int64_t stallNs, std::int64_t lastSoundNs,
        std::int64_t nowNs);

private:
    double durationNs(std::size_t step) const;
    bool fits(std::size_t step, std::int64_t stallNs) const;
    // The first step from from on that the stall fits, or to when none before it does.
    std::size_t smallestFitting(std::size_t from, std::size_t to, std::int64_t stallNs) const;

    Rules rules_;
    std::size_t step_;
    std::size_t floor_ = 0; // the smallest step not yet failed
    std::size_t held_; // the last step that held a whole window
    std::uint64_t underruns_ = 0;
    std::int64_t changedNs_;
    struct Moment {
        std::int64_t atNs;
        std::int64_t stallNs;
    };
    std::deque<Moment> history_;
};

} // namespace audio
