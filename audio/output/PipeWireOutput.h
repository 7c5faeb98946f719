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

// Tells, from the graph's clock at each cycle, how many cycles the stream missed or was late
// for: a position further on than the last cycle's end means cycles went by without us, and
// finishing after the next cycle began means the server went on without our block. Only the
// stream's real-time thread uses it.
class CycleWatch {
public:
    // [real-time] position and duration of this cycle in frames; deadlineNs when the next cycle
    // starts and doneNs when our block was ready, both on the monotonic clock. Returns the
    // underruns seen.
    unsigned observe(std::uint64_t position, std::uint64_t duration, std::uint64_t deadlineNs,
        std::int64_t doneNs) noexcept;

private:
    std::uint64_t expected_ = 0;
    bool started_ = false;
};

// [real-time] Fills a buffer of capacityFrames stereo float frames with the frames the graph asked
// for (requested, or the whole buffer when it asks nothing), from the source or as silence when
// there is none yet; returns the frames filled, and in sounded whether any of it is sound.
std::uint32_t fillPipeWireBuffer(RenderSource* source, float* data, std::uint32_t capacityFrames,
    std::uint64_t requested, bool& sounded) noexcept;

} // namespace audio
