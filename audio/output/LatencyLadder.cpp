#include "audio/output/LatencyLadder.h"

#include "audio/output/OutputConfig.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace audio {

LatencyLadder::Rules LatencyLadder::Rules::fromConfig(std::span<const int> steps, std::size_t start,
    int rate, double closeCall, double holds, bool downAsFarAsFits)
{
    Rules rules;
    rules.steps.assign(steps.begin(), steps.end());
    rules.start = start;
    rules.rate = rate;
    rules.closeCall = closeCall;
    rules.holds = holds;
    rules.windowNs = std::chrono::nanoseconds(config::latencyWindow).count();
    rules.silenceNs = std::chrono::nanoseconds(config::silenceBeforeStepDown).count();
    rules.downAsFarAsFits = downAsFarAsFits;
    return rules;
}

LatencyLadder::LatencyLadder(Rules rules, std::int64_t nowNs)
    : rules_(std::move(rules))
    , step_(std::min(rules_.start, rules_.steps.size() - 1))
    , held_(step_)
    , changedNs_(nowNs)
{
    assert(!rules_.steps.empty());
}

double LatencyLadder::durationNs(std::size_t step) const
{
    return 1e9 * rules_.steps[step] / rules_.rate;
}

bool LatencyLadder::fits(std::size_t step, std::int64_t stallNs) const
{
    return static_cast<double>(stallNs) < rules_.holds * durationNs(step);
}

std::size_t LatencyLadder::smallestFitting(
    std::size_t from, std::size_t to, std::int64_t stallNs) const
{
    while (from < to && !fits(from, stallNs))
        ++from;
    return from;
}

std::int64_t LatencyLadder::worstStallNs() const
{
    std::int64_t worst = 0;
    for (const Moment& m : history_)
        worst = std::max(worst, m.stallNs);
    return worst;
}

LatencyLadder::Change LatencyLadder::tick(
    std::uint64_t underruns, std::int64_t stallNs, std::int64_t lastSoundNs, std::int64_t nowNs)
{
    history_.push_back({ nowNs, stallNs });
    while (!history_.empty() && history_.front().atNs < nowNs - rules_.windowNs)
        history_.pop_front();
    const bool underran = underruns > underruns_;
    underruns_ = underruns;
    const std::size_t top = rules_.steps.size() - 1;

    if (underran || static_cast<double>(stallNs) >= rules_.closeCall * durationNs(step_)) {
        if (step_ == top)
            return Change::None;
        floor_ = std::max(floor_, step_ + 1);
        const std::int64_t worst = worstStallNs();
        step_ = smallestFitting(std::max(floor_, held_), top, worst);
        changedNs_ = nowNs;
        return Change::Up;
    }

    const bool watched = nowNs - changedNs_ >= rules_.windowNs;
    if (watched)
        held_ = step_;
    // Down, when the output has been silent a while and this step has been watched for a whole
    // window: to the smallest step not yet failed that the window's worst would have fitted.
    if (step_ > floor_ && watched && nowNs - lastSoundNs >= rules_.silenceNs) {
        const std::int64_t worst = worstStallNs();
        const std::size_t lower
            = smallestFitting(rules_.downAsFarAsFits ? floor_ : step_ - 1, step_, worst);
        if (lower < step_) {
            step_ = lower;
            changedNs_ = nowNs;
            return Change::Down;
        }
    }
    return Change::None;
}

} // namespace audio
