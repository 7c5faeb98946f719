#include "audio/output/LatencyLadder.h"

#include <cassert>

namespace audio {

LatencyLadder::LatencyLadder(std::span<const int> steps, Clock::duration settle)
    : steps_(steps.begin(), steps.end())
    , settle_(settle)
{
    assert(!steps_.empty());
}

bool LatencyLadder::observe(std::uint64_t underruns, Clock::time_point now)
{
    if (underruns <= seen_)
        return false;
    seen_ = underruns;
    if (atTop() || (climbed_ && now - lastClimb_ < settle_))
        return false;
    ++step_;
    lastClimb_ = now;
    climbed_ = true;
    return true;
}

} // namespace audio
