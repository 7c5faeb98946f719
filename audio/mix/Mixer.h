#pragma once

#include "audio/AudioSystem.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace audio {

struct LineState;

// Sums every open line into one stereo float stream. render runs on the device's real-time
// thread: it takes no lock, allocates nothing and makes no system call. Lines are found
// through a table of slots published by an atomic pointer; lines come and go, and the table
// grows, on other threads only, and a line is attached without ever waiting for another.
class Mixer {
public:
    explicit Mixer(int sampleRate);
    // Every line must be closed first.
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // [any] Fixed when the mixer is made.
    int sampleRate() const noexcept { return sampleRate_; }

    // [real-time] Mixes frames frames of every started line into out (interleaved stereo),
    // replacing what was there. A mix within full scale comes out exactly as summed; beyond
    // it a limiter brings it back under full scale (see limit). NaN and
    // infinity come out silent.
    void render(float* out, int frames) noexcept;

    // [any] The converter's quality (a soxr quality recipe; each line adds the phase response for
    // its rates) for lines opened from now on whose rate differs from the mixer's.
    unsigned long converterQuality() const noexcept
    {
        return converterQuality_.load(std::memory_order_relaxed);
    }
    void setConverterQuality(unsigned long recipe) noexcept
    {
        converterQuality_.store(recipe, std::memory_order_relaxed);
    }

    // [player] A line that plays through this mixer once opened.
    std::unique_ptr<SourceDataLine> createLine();

    // [any] Running totals for tests and benchmarks. An underrun is a block in which a playing line
    // had fewer frames ready than asked, or just as many and none written since the block
    // before, and had not been drained (it fades out then); a late block is one whose render
    // took longer than the block lasts; a limited block is one the limiter had to turn down.
    std::uint64_t blocks() const noexcept
    {
        return counters_.blocks.load(std::memory_order_relaxed);
    }
    std::uint64_t framesRendered() const noexcept
    {
        return counters_.frames.load(std::memory_order_relaxed);
    }
    std::uint64_t underruns() const noexcept
    {
        return counters_.underruns.load(std::memory_order_relaxed);
    }
    std::uint64_t lateBlocks() const noexcept
    {
        return counters_.lateBlocks.load(std::memory_order_relaxed);
    }
    std::uint64_t limitedBlocks() const noexcept
    {
        return counters_.limitedBlocks.load(std::memory_order_relaxed);
    }
    // [any] Lines attached since the mixer was made, and lines that have begun to sound.
    std::uint64_t linesOpened() const noexcept
    {
        return linesOpened_.load(std::memory_order_relaxed);
    }
    std::uint64_t linesSounded() const noexcept
    {
        return counters_.linesSounded.load(std::memory_order_relaxed);
    }
    // [any] Lines now attached, and the most attached at once since the mixer was made or the
    // peak was last reset. These take the table lock for a moment.
    std::size_t lineCount() const;
    std::size_t peakLineCount() const;
    void resetPeakLineCount();
    // [any] Slots in the current table (it only grows). Takes the table lock.
    std::size_t tableCapacity() const;
    // [any] Line states alive in the process, in any mixer: each holds a ring.
    static std::size_t liveLineStates() noexcept;

    // [player] For lines: attach makes a line visible to render at once and never waits; detach
    // hides it and returns only once render can no longer be reading it, so the caller may free
    // it.
    void attach(LineState* line);
    void detach(LineState* line);

private:
    struct Table;
    struct Retired {
        Table* table;
        std::uint64_t sequence; // renderSequence_ when it was replaced
    };

    bool renderHasPassed(std::uint64_t seen) const;
    void waitForRenderToPass() const;
    // Frees the replaced tables render has left. Never waits. Under tableMutex_.
    void reclaimTables();
    // What one block's lines came to, for the counters.
    struct BlockTally {
        std::int64_t firstOutputNs = 0; // when the first line that began in it was mixed
        std::uint64_t begun = 0;
        std::uint64_t ranDry = 0;
    };
    // Render's stages, in order: each line that may sound is mixed into the block, with its
    // pan's glide and its fades; the sum is limited; the block is counted.
    void mixLine(LineState& line, float* out, std::size_t frames, BlockTally& tally) noexcept;
    void limit(float* out, std::size_t frames) noexcept;
    void countBlock(std::size_t frames, const BlockTally& tally, std::int64_t startNs) noexcept;

    const int sampleRate_;
    std::atomic<Table*> table_;
    // Odd while render runs; lets a closer know when render has let go of a line or table.
    std::atomic<std::uint64_t> renderSequence_ { 0 };
    std::atomic<unsigned long> converterQuality_;
    // What render counts, on cache lines of their own: the threads that attach and detach
    // write next to nothing render reads or writes.
    struct alignas(64) Counters {
        std::atomic<std::uint64_t> blocks { 0 };
        std::atomic<std::uint64_t> frames { 0 };
        std::atomic<std::uint64_t> underruns { 0 };
        std::atomic<std::uint64_t> lateBlocks { 0 };
        std::atomic<std::uint64_t> limitedBlocks { 0 };
        std::atomic<std::uint64_t> linesSounded { 0 };
    };
    Counters counters_;
    // Render's own state.
    alignas(64) float limiterGain_ = 1.0f;
    std::size_t limiterHold_ = 0; // frames the gain still holds
    float limiterRelease_; // a frame's share of the way back to 1
    std::size_t limiterHoldFrames_;
    std::size_t fadeFrames_; // a starved line's fade out and back in

    alignas(64) std::atomic<std::uint64_t> linesOpened_ { 0 };
    // Serialises attach and detach for a moment; nobody waits while holding it, and render
    // never takes it.
    mutable std::mutex tableMutex_;
    std::size_t attached_ = 0;
    std::size_t peakAttached_ = 0;
    std::vector<Retired> retired_;
};

} // namespace audio
