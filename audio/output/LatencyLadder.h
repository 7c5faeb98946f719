#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace audio {

// Chooses a stream's buffer among a few steps from what its real-time thread saw: underruns,
// heard or not, and each moment's worst stall (how late the stream was served, beyond its
// normal pace).
//
// A stall that comes close to a step's end climbs at once to the smallest step with room for
// it; nothing is held against the step, since nothing was lost. An underrun climbs at least one
// step and makes the step it happened on wait before it is tried again: briefly when no one
// heard it, and for a back-off that doubles with each heard failure of that step otherwise.
// Steps down come only while the output is silent, to the smallest step that is not waiting
// and has room for the worst stall remembered: a window of them met while sounding, and the
// last few seconds of those met in silence, which no one heard. A stall longer than the largest
// step is the machine stopping: no step survives it, so it moves nothing and blames no step.
//
// So the stream starts small, spends the silence before the first hit learning the machine,
// and no single event pins it for good.
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
        // A step has room for a stall under this share of its duration.
        double holds = 0.5;
        std::int64_t windowNs = 0; // how long a stall met while sounding is remembered
        std::int64_t silentMemoryNs = 0; // and one met in silence
        std::int64_t silenceNs = 0; // silent output, and time on a step, wanted before a step down
        std::int64_t heardBackOffNs = 0; // the first wait of a step that failed where it was heard
        std::int64_t silentBackOffNs = 0; // the first wait of a step that underran in silence
        int maxDoublings = 4; // the waits double with each failure, this many times at most
        // Whether a stall is still measured once the server has run dry. When it is not, the
        // stall seen with an underrun is only as long as the buffer was: an underrun then
        // climbs one step, not as far as that stall would need.
        bool stallsPastUnderruns = true;

        // [any] With the timings the audio service uses. Not on the real-time thread: it
        // allocates.
        static Rules fromConfig(std::span<const int> steps, std::size_t start, int rate,
            double closeCall, double holds, bool stallsPastUnderruns);
    };

    // What the real-time thread saw: running counts, the worst stall since the last look, and
    // when the output last held sound (monotonic clock).
    struct Seen {
        std::uint64_t underruns = 0;
        std::uint64_t heardUnderruns = 0;
        std::int64_t stallNs = 0;
        std::int64_t lastSoundNs = 0;
    };

    enum class Change { None, Up, Down };
    enum class Why { Nothing, HeardUnderrun, SilentUnderrun, CloseCall, RoomBelow };
    struct Decision {
        Change change = Change::None;
        Why why = Why::Nothing;
        std::int64_t waitNs = 0; // how long the failed step now waits, for an underrun
    };

    LatencyLadder(Rules rules, std::int64_t nowNs);

    // [stream] The step chosen, in frames.
    int current() const { return rules_.steps[step_]; }
    // [stream] The worst stall remembered, in nanoseconds.
    std::int64_t worstStallNs() const;

    // [stream] Called now and then, with the monotonic time.
    Decision tick(const Seen& seen, std::int64_t nowNs);

private:
    double durationNs(std::size_t step) const;
    bool fits(std::size_t step, std::int64_t stallNs) const;
    bool ready(std::size_t step, std::int64_t nowNs) const { return retryAtNs_[step] <= nowNs; }
    // The first step from from on that has room for the stall and is not waiting; the top when
    // none is.
    std::size_t smallestFitting(std::size_t from, std::int64_t stallNs, std::int64_t nowNs) const;
    std::int64_t fail(std::size_t step, bool heard, std::int64_t nowNs);
    Decision moveTo(std::size_t step, Change change, Why why, std::int64_t nowNs);

    Rules rules_;
    std::size_t step_;
    std::uint64_t underruns_ = 0;
    std::uint64_t heard_ = 0;
    std::int64_t changedNs_; // when the current step was chosen
    std::int64_t cleanSinceNs_; // the current step's last underrun, or when it was chosen
    std::vector<int> failures_; // each step's failures since it last held a window
    std::vector<std::int64_t> retryAtNs_; // when each step may be tried again
    struct Moment {
        std::int64_t atNs;
        std::int64_t stallNs;
        bool sounding;
    };
    std::deque<Moment> history_;
};

} // namespace audio
