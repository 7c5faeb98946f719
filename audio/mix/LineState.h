#pragma once

#include "audio/mix/SpscRing.h"

#include <atomic>
#include <cstdint>

namespace audio {

// The mixer's real-time thread may only touch lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<float>::is_always_lock_free
    && std::atomic<std::int64_t>::is_always_lock_free
    && std::atomic<std::uint64_t>::is_always_lock_free);

// What a line shares with the mixer. The writer fills the ring and sets the flags; render
// reads them. The fields after the comment below belong to render alone.
struct LineState {
    explicit LineState(std::size_t ringFrames);
    ~LineState();
    LineState(const LineState&) = delete;
    LineState& operator=(const LineState&) = delete;

    SpscRing ring;
    std::atomic<bool> started { false };
    // Set once everything has been written: a short ring is then the end, not an underrun.
    std::atomic<bool> ended { false };
    std::atomic<float> pan { 0.0f };
    // Linear, applied with the pan: 1 leaves the sound as it is.
    std::atomic<float> gain { 1.0f };
    // steady_clock time in nanoseconds when render first mixed a frame of this line, or 0.
    std::atomic<std::int64_t> firstOutputNs { 0 };

    // Render's own state.
    bool playing = false; // has begun to sound
    bool starved = false; // ran dry before its end and faded out; fades in when frames come
    std::size_t leftAfterBlock = 0; // frames the ring still held after the last block
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
};

// [real-time] Left and right gains of a pan position: a balance law, so the centre leaves both
// sides at full level and each end silences the other side.
inline void panGains(float pan, float& left, float& right) noexcept
{
    left = pan > 0.0f ? 1.0f - pan : 1.0f;
    right = pan < 0.0f ? 1.0f + pan : 1.0f;
}

} // namespace audio
