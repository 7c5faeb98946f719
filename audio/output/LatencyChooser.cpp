#include "audio/output/LatencyChooser.h"

#include "audio/output/AudioLog.h"
#include "audio/output/OutputStream.h"

#include <cstdio>
#include <string>
#include <utility>

namespace audio {

namespace {

double seconds(std::int64_t ns)
{
    return static_cast<double>(ns) / 1e9;
}

std::string reason(const LatencyLadder::Decision& decision, std::int64_t stallNs)
{
    using Why = LatencyLadder::Why;
    char text[96] = "";
    switch (decision.why) {
    case Why::HeardUnderrun:
    case Why::SilentUnderrun:
        std::snprintf(text, sizeof text, "an underrun %s, so that step waits %.0f s",
            decision.why == Why::HeardUnderrun ? "was heard" : "in silence",
            seconds(decision.waitNs));
        break;
    case Why::CloseCall:
        std::snprintf(
            text, sizeof text, "a stall of %.2f ms came close", static_cast<double>(stallNs) / 1e6);
        break;
    case Why::RoomBelow:
        return "the output is silent and the stalls it remembers fit";
    case Why::Nothing:
        break;
    }
    return text;
}

} // namespace

LatencyChooser::LatencyChooser(
    const char* server, LatencyLadder::Rules rules, StreamWatch& watch, std::int64_t nowNs)
    : server_(server)
    , rate_(rules.rate)
    , watch_(watch)
    , ladder_(std::move(rules), nowNs)
    , target_(ladder_.current())
{
}

void LatencyChooser::reportUnderruns(std::uint64_t underruns, std::uint64_t heard)
{
    if (underruns == reportedUnderruns_)
        return;
    // Times on the monotonic clock, so that they can be set beside the machine's own pauses.
    qCInfo(lcAudio, "%s: %llu underruns at %.3f s %s (%llu so far)", server_,
        static_cast<unsigned long long>(underruns - reportedUnderruns_),
        seconds(watch_.lastUnderrunNs()), heard > reportedHeard_ ? "while sounding" : "in silence",
        static_cast<unsigned long long>(underruns));
    reportedUnderruns_ = underruns;
    reportedHeard_ = heard;
}

std::optional<int> LatencyChooser::choose(std::int64_t nowNs)
{
    LatencyLadder::Seen seen;
    seen.underruns = watch_.underruns(); // first: the heard ones are counted before it
    seen.heardUnderruns = watch_.heardUnderruns();
    seen.stallNs = watch_.takeWorstStall();
    seen.lastSoundNs = watch_.lastSoundNs();
    reportUnderruns(seen.underruns, seen.heardUnderruns);

    const int before = ladder_.current();
    const LatencyLadder::Decision decision = ladder_.tick(seen, nowNs);
    worstStallNs_.store(ladder_.worstStallNs(), std::memory_order_relaxed);
    if (decision.change == LatencyLadder::Change::None)
        return std::nullopt;
    const int now = ladder_.current();
    // Told first: whoever sees the new target in info(), or the server follow it, finds why in
    // the log.
    qCInfo(lcAudio,
        "%s: %d frames -> %d frames (%.1f ms) at %.3f s: %s; worst stall lately %.2f ms, %llu "
        "underruns so far",
        server_, before, now, framesToMs(now, rate_), seconds(nowNs),
        reason(decision, seen.stallNs).c_str(), static_cast<double>(ladder_.worstStallNs()) / 1e6,
        static_cast<unsigned long long>(seen.underruns));
    target_.store(now, std::memory_order_release);
    return now;
}

} // namespace audio
