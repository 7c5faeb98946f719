#pragma once

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace audio {

// A single-producer single-consumer ring of stereo float frames on two atomic counters, in the
// manner of JUCE's AbstractFifo. The counters only grow, so a full ring and an empty one differ
// and every slot is used. The producer writes into the free region and publishes it with one
// release store; the consumer reads the filled region the same way. Neither side ever blocks.
// The producer is a line's player thread, the consumer the mixer's render on the real-time
// thread.
class SpscRing {
public:
    static constexpr int channels = 2;

    // capacity must be a power of two. The storage is zeroed here, so its pages are touched
    // before the real-time thread first reads them.
    explicit SpscRing(std::size_t capacity)
        : capacity_(capacity)
        , mask_(capacity - 1)
        , data_(new float[capacity * channels]())
    {
        assert(capacity > 0 && (capacity & mask_) == 0);
    }

    // [any]
    std::size_t capacity() const noexcept { return capacity_; }

    // [player] Producer side.
    std::size_t freeFrames() const noexcept
    {
        return capacity_
            - static_cast<std::size_t>(
                write_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
    }
    // [player] Copies up to frames frames (interleaved stereo) in and publishes them; returns how
    // many.
    std::size_t push(const float* frames, std::size_t count)
    {
        const std::uint64_t w = write_.load(std::memory_order_relaxed);
        const std::size_t room
            = capacity_ - static_cast<std::size_t>(w - read_.load(std::memory_order_acquire));
        const std::size_t n = std::min(room, count);
        const std::size_t start = static_cast<std::size_t>(w) & mask_;
        const std::size_t first = std::min(n, capacity_ - start);
        std::copy_n(frames, first * channels, data_.get() + start * channels);
        std::copy_n(frames + first * channels, (n - first) * channels, data_.get());
        write_.store(w + n, std::memory_order_release);
        return n;
    }
    // [any] Frames published so far.
    std::uint64_t written() const noexcept { return write_.load(std::memory_order_acquire); }

    // [real-time] Consumer side.
    std::size_t readyFrames() const noexcept
    {
        return static_cast<std::size_t>(
            write_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed));
    }
    // [real-time] The filled region as at most two spans: first [p1, p1 + n1), then
    // [p2, p2 + n2).
    struct Spans {
        const float* p1;
        std::size_t n1;
        const float* p2;
        std::size_t n2;
    };
    Spans peek(std::size_t count) const noexcept
    {
        const std::uint64_t r = read_.load(std::memory_order_relaxed);
        const std::size_t start = static_cast<std::size_t>(r) & mask_;
        const std::size_t first = std::min(count, capacity_ - start);
        return { data_.get() + start * channels, first, data_.get(), count - first };
    }
    // [real-time] Hands count frames back to the producer.
    void consume(std::size_t count) noexcept
    {
        read_.store(read_.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }
    // [any] Frames consumed so far.
    std::uint64_t consumed() const noexcept { return read_.load(std::memory_order_acquire); }

private:
    const std::size_t capacity_;
    const std::size_t mask_;
    std::unique_ptr<float[]> data_;
    // On separate cache lines: each side writes only its own.
    alignas(64) std::atomic<std::uint64_t> write_ { 0 };
    alignas(64) std::atomic<std::uint64_t> read_ { 0 };
};

} // namespace audio
