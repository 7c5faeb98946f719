#pragma once

#include "audio/output/OutputStream.h"

#include <cstdint>

namespace audio {

class RenderSource;

// The parts of the PipeWire stream's real-time callback that do not need a server.

// Tells, from the graph's clock at each cycle, how the stream kept up: a position further on
// than the last cycle's end means cycles went by without us, finishing after the cycle's
// deadline means the server went on without our block, and finishing with little of the cycle
// to spare is a close call.
class CycleWatch {
public:
    struct Seen {
        unsigned underruns = 0; // cycles missed, and this one if it was late
        bool closeCall = false;
    };
    // position and duration of this cycle in frames; startNs when it began, deadlineNs when the
    // next one begins and doneNs when our block was ready, all on the monotonic clock.
    Seen observe(std::uint64_t position, std::uint64_t duration, std::uint64_t startNs,
        std::uint64_t deadlineNs, std::int64_t doneNs);

private:
    std::uint64_t expected_ = 0;
    bool started_ = false;
};

// Fills a buffer of capacityFrames stereo float frames with the frames the graph asked for
// (requested, or the whole buffer when it asks nothing), from the source or as silence when
// there is none yet; returns the frames filled.
std::uint32_t fillPipeWireBuffer(RenderSource* source, float* data, std::uint32_t capacityFrames,
    std::uint64_t requested) noexcept;

} // namespace audio
