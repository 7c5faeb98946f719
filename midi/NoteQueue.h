#pragma once

#include "midi/MidiParser.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace midi {

// Notes handed from PipeWire's real-time thread to the event thread: a fixed ring, one writer
// and one reader, no lock and no allocation. A note that finds it full is dropped and counted:
// a thousand notes in one cycle is a broken source, not a drummer.
class NoteQueue {
public:
    static constexpr std::size_t capacity = 256;

    // [real-time] Returns false, and counts the note dropped, when the ring is full.
    bool push(const NoteOn& note) noexcept
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == capacity) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        notes_[head % capacity] = note;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    // [event] Takes the oldest note; false when there is none.
    bool pop(NoteOn& note) noexcept
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return false;
        note = notes_[tail % capacity];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    // [any]
    std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

private:
    std::array<NoteOn, capacity> notes_ {};
    alignas(64) std::atomic<std::size_t> head_ { 0 };
    alignas(64) std::atomic<std::size_t> tail_ { 0 };
    std::atomic<std::uint64_t> dropped_ { 0 };
};

} // namespace midi
