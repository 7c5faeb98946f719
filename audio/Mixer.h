#pragma once

#include "audio/AudioSystem.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace audio {

struct LineState;

// Sums every open line into one stereo float stream. render runs on the device's real-time
// thread: it takes no lock, allocates nothing and makes no system call. Lines are found
// through a table of slots published by an atomic pointer; lines come and go, and the table
// grows, on other threads only.
class Mixer {
public:
    explicit Mixer(int sampleRate);
    // Every line must be closed first.
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    int sampleRate() const { return sampleRate_; }

    // Mixes frames frames of every started line into out (interleaved stereo), replacing what
    // was there, and clips to [-1, 1] with NaN and infinity made silent. One thread at a time.
    void render(float* out, int frames) noexcept;

    // The libsamplerate converter (a SRC_* value) for lines opened from now on whose rate
    // differs from the mixer's.
    int resamplerType() const { return resamplerType_.load(std::memory_order_relaxed); }
    void setResamplerType(int type) { resamplerType_.store(type, std::memory_order_relaxed); }

    // A line that plays through this mixer once opened.
    std::unique_ptr<SourceDataLine> createLine();

    // Running totals for tests and benchmarks. An underrun is a block in which a playing line
    // had fewer frames ready than asked and had not been drained; a late block is one whose
    // render took longer than the block lasts.
    std::uint64_t blocks() const { return blocks_.load(std::memory_order_relaxed); }
    std::uint64_t framesRendered() const { return frames_.load(std::memory_order_relaxed); }
    std::uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
    std::uint64_t lateBlocks() const { return lateBlocks_.load(std::memory_order_relaxed); }
    // Lines attached since the mixer was made, and lines that have begun to sound.
    std::uint64_t linesOpened() const { return linesOpened_.load(std::memory_order_relaxed); }
    std::uint64_t linesSounded() const { return linesSounded_.load(std::memory_order_relaxed); }
    // Lines now attached, and the most attached at once since the mixer was made or the
    // peak was last reset.
    std::size_t lineCount() const;
    std::size_t peakLineCount() const;
    void resetPeakLineCount();
    // Slots in the current table (it only grows).
    std::size_t tableCapacity() const;
    // Line states alive in the process, in any mixer: each holds a ring.
    static std::size_t liveLineStates();

    // For lines: attach makes a line visible to render; detach hides it and returns only once
    // render can no longer be reading it, so the caller may free it.
    void attach(LineState* line);
    void detach(LineState* line);

private:
    struct Table;

    void waitForRenderToPass() const;
    static void retire(Table* table);

    const int sampleRate_;
    std::atomic<Table*> table_;
    // Odd while render runs; lets a closer know when render has let go of a line or table.
    std::atomic<std::uint64_t> renderSequence_ { 0 };
    std::atomic<int> resamplerType_;
    std::atomic<std::uint64_t> blocks_ { 0 };
    std::atomic<std::uint64_t> frames_ { 0 };
    std::atomic<std::uint64_t> underruns_ { 0 };
    std::atomic<std::uint64_t> lateBlocks_ { 0 };
    std::atomic<std::uint64_t> linesOpened_ { 0 };
    std::atomic<std::uint64_t> linesSounded_ { 0 };
    mutable std::mutex tableMutex_; // serialises attach and detach; render never takes it
    std::size_t attached_ = 0;
    std::size_t peakAttached_ = 0;
};

} // namespace audio
