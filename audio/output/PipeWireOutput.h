#pragma once

#include "audio/output/OutputStream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace audio {

class RenderSource;

// [player] PipeWire's native API: the graph's real-time thread calls the source. Waits until
// the stream is linked: never on the event thread.
std::unique_ptr<OutputStream> openPipeWireOutput(std::string& failure);

// The parts of the PipeWire stream's real-time callback that do not need a server.

// Tells, from the graph's clock at each cycle, how many cycles the stream missed and how late
// it was: the graph's clock moving on by more than one cycle since our last block means cycles
// went by without us, and finishing after the next cycle began means the graph went on without
// our block. A graph clock that stands still or goes back, as when the graph's driver changes,
// starts the count afresh, and so does one that ran ahead of the monotonic clock; a step
// forward is believed only as far as the monotonic clock agrees. Only the stream's real-time
// thread uses it.
class CycleWatch {
public:
    struct Seen {
        unsigned underruns = 0;
        // How long after the cycle began our block was ready, plus the cycles missed before it.
        std::int64_t stallNs = 0;
        // Our block was ready only after its cycle had ended: the graph played silence in its
        // place and drops it, so what it held is lost.
        bool late = false;
    };
    // [real-time] cycleStartNs when this cycle began and doneNs when our block was ready, on
    // the monotonic clock; graphNs the graph's clock at the cycle's start; periodNs how long the
    // cycle lasts.
    Seen observe(std::int64_t cycleStartNs, std::int64_t graphNs, std::int64_t periodNs,
        std::int64_t doneNs) noexcept;

private:
    bool started_ = false;
    std::int64_t lastStartNs_ = 0;
    std::int64_t lastGraphNs_ = 0;
    std::int64_t lastPeriodNs_ = 0;
};

// [real-time] Fills a buffer of capacityFrames stereo float frames with the frames the graph asked
// for (requested, or the whole buffer when it asks nothing), from the source or as silence when
// there is none yet; returns the frames filled, and in sounded whether any of it is sound.
std::uint32_t fillPipeWireBuffer(RenderSource* source, float* data, std::uint32_t capacityFrames,
    std::uint64_t requested, bool& sounded) noexcept;

} // namespace audio
