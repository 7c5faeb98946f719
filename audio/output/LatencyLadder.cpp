#include "audio/output/LatencyLadder.h"

#include "audio/output/OutputConfig.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace audio {

namespace {

std::int64_t ns(std::chrono::nanoseconds d)
{
    return d.count();
}

} // namespace

LatencyLadder::Rules LatencyLadder::Rules::fromConfig(std::span<const int> steps, std::size_t start,
    int rate, double closeCall, double holds, bool stallsPastUnderruns)
{
    Rules rules;
    rules.steps.assign(steps.begin(), steps.end());
    rules.start = start;
    rules.rate = rate;
    rules.closeCall = closeCall;
    rules.holds = holds;
    rules.windowNs = ns(config::latencyWindow);
    rules.silenceNs = ns(config::silenceBeforeStepDown);
    rules.silentMemoryNs = ns(config::silentStallMemory);
    rules.heardBackOffNs = ns(config::heardFailureBackOff);
    rules.silentBackOffNs = ns(config::silentFailureBackOff);
    rules.maxDoublings = config::backOffDoublings;
    rules.stallsPastUnderruns = stallsPastUnderruns;
    return rules;
}

LatencyLadder::LatencyLadder(Rules rules, std::int64_t nowNs)
    : rules_(std::move(rules))
    , step_(std::min(rules_.start, rules_.steps.size() - 1))
    , changedNs_(nowNs)
    , cleanSinceNs_(nowNs)
    , failures_(rules_.steps.size(), 0)
    , retryAtNs_(rules_.steps.size(), nowNs)
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
    std::size_t from, std::int64_t stallNs, std::int64_t nowNs) const
{
    const std::size_t top = rules_.steps.size() - 1;
    while (from < top && !(fits(from, stallNs) && ready(from, nowNs)))
        ++from;
    return std::min(from, top);
}

std::int64_t LatencyLadder::worstStallNs() const
{
    std::int64_t worst = 0;
    for (const Moment& m : history_)
        worst = std::max(worst, m.stallNs);
    return worst;
}

std::int64_t LatencyLadder::fail(std::size_t step, bool heard, std::int64_t nowNs)
{
    const int doublings = std::min(failures_[step], rules_.maxDoublings);
    ++failures_[step];
    const std::int64_t wait = (heard ? rules_.heardBackOffNs : rules_.silentBackOffNs)
        * (std::int64_t { 1 } << doublings);
    retryAtNs_[step] = std::max(retryAtNs_[step], nowNs + wait);
    return wait;
}

LatencyLadder::Decision LatencyLadder::moveTo(
    std::size_t step, Change change, Why why, std::int64_t nowNs)
{
    if (step == step_)
        return {};
    step_ = step;
    changedNs_ = nowNs;
    cleanSinceNs_ = nowNs;
    return { change, why, 0 };
}

LatencyLadder::Decision LatencyLadder::tick(const Seen& seen, std::int64_t nowNs)
{
    const bool underran = seen.underruns > underruns_;
    const bool heard = seen.heardUnderruns > heard_;
    underruns_ = seen.underruns;
    heard_ = seen.heardUnderruns;
    const std::size_t top = rules_.steps.size() - 1;

    // The machine stopped for longer than any step lasts: nothing to learn about the steps.
    if (static_cast<double>(seen.stallNs) >= durationNs(top))
        return {};
    const bool silent = seen.lastSoundNs <= 0 || nowNs - seen.lastSoundNs >= rules_.silenceNs;
    history_.push_back({ nowNs, seen.stallNs, !silent });
    while (!history_.empty() && history_.front().atNs < nowNs - rules_.windowNs)
        history_.pop_front();
    std::erase_if(history_,
        [&](const Moment& m) { return !m.sounding && m.atNs < nowNs - rules_.silentMemoryNs; });

    if (underran) {
        cleanSinceNs_ = nowNs;
        if (!rules_.stallsPastUnderruns)
            history_.back().stallNs = 0;
        if (step_ == top)
            return {};
        const std::int64_t wait = fail(step_, heard, nowNs);
        const std::int64_t stallNs = rules_.stallsPastUnderruns ? seen.stallNs : 0;
        Decision decision = moveTo(smallestFitting(step_ + 1, stallNs, nowNs), Change::Up,
            heard ? Why::HeardUnderrun : Why::SilentUnderrun, nowNs);
        decision.waitNs = wait;
        return decision;
    }
    if (static_cast<double>(seen.stallNs) >= rules_.closeCall * durationNs(step_))
        return moveTo(
            smallestFitting(step_ + 1, seen.stallNs, nowNs), Change::Up, Why::CloseCall, nowNs);

    // A step that has played a whole window without an underrun starts its back-off afresh.
    if (nowNs - cleanSinceNs_ >= rules_.windowNs)
        failures_[step_] = 0;
    if (silent && nowNs - changedNs_ >= rules_.silenceNs) {
        const std::size_t lower = smallestFitting(0, worstStallNs(), nowNs);
        if (lower < step_)
            return moveTo(lower, Change::Down, Why::RoomBelow, nowNs);
    }
    return {};
}

} // namespace audio
