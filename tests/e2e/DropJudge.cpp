#include "tests/e2e/DropJudge.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <regex>

namespace dropcheck {

namespace {

// A processor given back for one of the probe's periods between two stops is still mostly
// away: a stream's round of wake-ups (the server asks, the program renders, the server mixes)
// rarely completes in it. Its stops on either side are one.
constexpr double backBetween = 1.5 * probePeriod;

// How far from a pause a stretch of the recording may seem and still be that pause. A press's
// time is taken before dropcheck exits and xdotool starts, connects and sends the key: here 20
// to 30 ms before the key was sent on an idle machine. X and the program pass it on in a few
// milliseconds, and the sound waits up to a cycle for the stream. A stretch is placed by the
// soonest of a few presses, so it seems early by that much, never late, but for a few
// milliseconds: the server renders ahead in bursts, which move a sound and a hole differently.
// And the silence the server plays for a missed block can begin up to a cycle from the pause.
constexpr double placementError = 0.050;
constexpr double placementLate = 0.010;

// The program's own word places a hole more closely than the presses can when the machine is
// stopping often: a press's sound came up to 160 ms after its time was taken in the sound
// tests, in such hours. The pauses before an underrun the program logged while sounding, this
// soon after a hole as the presses place it, may excuse that hole.
constexpr double underrunLate = 0.150;

struct Window {
    double before, after; // seconds
};

Window recordingTolerance(const ProgramLog& log, double t)
{
    const double cycle = log.seconds(log.cycleAt(t));
    return { placementLate + cycle, placementError + cycle };
}

// How long after a stall the program may log it. PipeWire's real-time thread sees an underrun
// at the end of the stall; PulseAudio's notice of one passes the server's main thread and ours
// on its way. A few milliseconds, more on a busy machine.
constexpr double logLag = 0.020;

// The pauses that can have led to something the program logged at t, having seen it up to
// lag after it: begun by then (a pause's start is when its probe last ran, before the stop), and
// not ended more than lag before. Times are printed to the millisecond on both sides.
bool ledTo(const Pause& p, double t, double lag)
{
    constexpr double rounding = 0.001;
    return p.from <= t + rounding && p.to >= t - lag - rounding;
}

std::vector<const Pause*> pausesBefore(const std::vector<Pause>& pauses, double t, double lag)
{
    std::vector<const Pause*> near;
    for (const Pause& p : pauses)
        if (ledTo(p, t, lag))
            near.push_back(&p);
    return near;
}

const Pause* longestOf(const std::vector<const Pause*>& pauses)
{
    return *std::max_element(pauses.begin(), pauses.end(),
        [](const Pause* a, const Pause* b) { return a->seconds() < b->seconds(); });
}

// Runs of exact zeros shorter than this are the noise crossing zero, not a hole.
constexpr double shortestHole = 0.0005;

struct Hole {
    std::size_t from, to; // samples
};

// Whitened: pink noise is mostly low tones, which make its every stretch look alike; its
// differences are nearly white, so that a stretch matches itself alone.
std::vector<double> whitened(const std::vector<short>& s)
{
    std::vector<double> w(s.size(), 0.0);
    for (std::size_t i = 1; i < s.size(); ++i)
        w[i] = static_cast<double>(s[i]) - static_cast<double>(s[i - 1]);
    return w;
}

// Every sample of the kit is the same noise, so every key starts with the same opening: the
// recording's first few milliseconds of sound. Where in [from, to) another opening begins, to
// the sample: the earliest place the opening matches nearly as well as anywhere (a press's
// second key starts the same opening a little later), or none when it matches nowhere. With
// the two voices of the press before sounding beside it, a new one matched with a normalised
// correlation of 0.4 to 0.6 here, and noise under 0.2.
std::optional<std::size_t> openingAt(const std::vector<double>& w, std::size_t first,
    std::size_t length, std::size_t from, std::size_t to)
{
    double reference = 0;
    for (std::size_t j = 0; j < length; ++j)
        reference += w[first + j] * w[first + j];
    to = std::min(to, w.size() - length);
    std::vector<double> match;
    for (std::size_t i = from; i < to; ++i) {
        double dot = 0, energy = 0;
        for (std::size_t j = 0; j < length; ++j) {
            dot += w[first + j] * w[i + j];
            energy += w[i + j] * w[i + j];
        }
        match.push_back(energy > 0 ? dot / std::sqrt(reference * energy) : 0);
    }
    if (match.empty())
        return std::nullopt;
    const double best = *std::max_element(match.begin(), match.end());
    if (best < 0.35)
        return std::nullopt;
    for (std::size_t k = 0; k < match.size(); ++k)
        if (match[k] >= 0.7 * best)
            return from + k;
    return std::nullopt;
}

// A press whose onset was found: the recording's start on the monotonic clock, as it puts it.
struct Anchor {
    double position; // seconds into the recording
    double start;
};

// Each press is an anchor. Its key was sent after its time was taken, and its sound came out
// later still: by the time xdotool took to start and X and the program to pass the key on, and
// by the wait for the stream's next cycle. So each press puts the recording's start no later
// than its time less its onset's position, and the press that sounded soonest comes closest.
// The first onset is the first sound; each later one is searched for near where the one before
// and the presses' spacing put it.
std::vector<Anchor> anchors(
    const std::vector<short>& s, int rate, std::size_t first, const std::vector<double>& presses)
{
    const std::vector<double> w = whitened(s);
    const auto length = static_cast<std::size_t>(0.010 * rate);
    std::vector<Anchor> found { { static_cast<double>(first) / rate,
        presses[0] - static_cast<double>(first) / rate } };
    if (first + length > s.size())
        return found;
    std::size_t last = first;
    double lastPress = presses[0];
    for (std::size_t k = 1; k < presses.size(); ++k) {
        const double expected = static_cast<double>(last) + (presses[k] - lastPress) * rate;
        const auto from = static_cast<std::size_t>(std::max(0.0, expected - 0.3 * rate));
        const auto to = static_cast<std::size_t>(std::max(0.0, expected + 0.3 * rate));
        if (const auto at = openingAt(w, first, length, from, to)) {
            const double position = static_cast<double>(*at) / rate;
            found.push_back({ position, presses[k] - position });
            last = *at;
            lastPress = presses[k];
        }
    }
    return found;
}

// Whether each underrun the program logged while sounding between from and to came with a
// pause; prints each. Returns how many did not.
int judgeUnderruns(const ProgramLog& log, const std::vector<Pause>& pauses, double from, double to)
{
    int unexplained = 0;
    for (const ProgramLog::Underruns& u : log.underruns) {
        if (u.at < from || u.at > to)
            continue;
        std::printf("%ld underrun%s logged at %.3f s %s", u.count, u.count == 1 ? "" : "s", u.at,
            u.sounding ? "while sounding" : "in silence, not heard\n");
        if (!u.sounding)
            continue;
        const auto near = pausesBefore(pauses, u.at, logLag);
        if (near.empty()) {
            ++unexplained;
            std::printf(
                ": NOT explained, no pause up to it or ending %.1f ms before\n", 1000 * logLag);
        } else {
            std::printf(": with %s\n", describe(*longestOf(near)).c_str());
        }
    }
    return unexplained;
}

// The runs of digital silence of shortestHole or more between a recording's first and last
// sound.
std::vector<Hole> findHoles(
    const std::vector<short>& s, int rate, std::size_t first, std::size_t last)
{
    const auto shortest = static_cast<std::size_t>(std::max(1.0, shortestHole * rate));
    std::vector<Hole> holes;
    for (std::size_t i = first; i < last;) {
        std::size_t j = i;
        while (j < last && s[j] == 0)
            ++j;
        if (j - i >= shortest)
            holes.push_back({ i, j });
        i = j == i ? i + 1 : j;
    }
    return holes;
}

// Where a stretch of the recording lies on the monotonic clock: by the presses that
// sounded soonest among the few before it and the few after. A recording is not rigidly
// tied to the clock: across a stop of the machine a sound server may drop the time it
// missed rather than catch up, and the recording loses it too. So the stretch's start is
// placed by the presses before it and its end by those after, whichever is earlier or
// later.
std::pair<double, double> placeOnClock(const std::vector<Anchor>& found, double from, double to)
{
    constexpr std::size_t few = 3;
    double before = -1e300, after = -1e300;
    std::size_t seenBefore = 0, seenAfter = 0;
    for (auto a = found.rbegin(); a != found.rend(); ++a)
        if (a->position <= from && seenBefore++ < few)
            before = std::max(before, a->start);
    for (const Anchor& a : found)
        if (a.position >= to && seenAfter++ < few)
            after = std::max(after, a.start);
    if (seenAfter == 0)
        after = before;
    return std::pair { from + std::min(before, after), to + std::max(before, after) };
}

struct HoleTally {
    int unexcused = 0;
    double silence = 0;
    double unexcusedSilence = 0;
};

// Each hole against the pauses near it, spending their excuses; tells each one's verdict.
HoleTally judgeHoles(const std::vector<Hole>& holes, int rate, const std::vector<Anchor>& found,
    const std::vector<Pause>& during, std::vector<double>& excuse, const ProgramLog& log)
{
    HoleTally tally;
    for (const Hole& h : holes) {
        const double length = static_cast<double>(h.to - h.from) / rate;
        const auto [from, to] = placeOnClock(
            found, static_cast<double>(h.from) / rate, static_cast<double>(h.to) / rate);
        tally.silence += length;
        const Window tolerance = recordingTolerance(log, from);
        std::vector<std::size_t> near;
        double available = 0;
        const auto ranDryThen = [&](const Pause& p) {
            for (const ProgramLog::Underruns& u : log.underruns)
                if (u.sounding && u.at >= from - tolerance.before && u.at <= to + underrunLate
                    && ledTo(p, u.at, logLag))
                    return true;
            return false;
        };
        for (std::size_t k = 0; k < during.size(); ++k) {
            if ((during[k].from <= to + tolerance.after && during[k].to >= from - tolerance.before)
                || ranDryThen(during[k])) {
                near.push_back(k);
                available += excuse[k];
            }
        }
        const bool excused = length <= available;
        std::string by;
        std::size_t idle = 0;
        for (const std::size_t k : near) {
            if (excuse[k] <= 0) {
                ++idle;
                continue;
            }
            char text[96];
            std::snprintf(text, sizeof text, ", less %d frames, plus %d: %.2f ms%s",
                log.bufferAt(during[k].from), log.cycleAt(during[k].from), 1000 * excuse[k],
                excused ? " to spend" : "");
            by += (by.empty() ? "" : "; ") + describe(during[k]) + text;
        }
        if (excused) {
            double owed = length;
            for (const std::size_t k : near) {
                const double spent = std::min(owed, excuse[k]);
                excuse[k] -= spent;
                owed -= spent;
            }
        } else {
            ++tally.unexcused;
            tally.unexcusedSilence += length;
        }
        std::printf("hole at %.3f s to %.3f s (%.3f s into the recording): %.2f ms, %s", from, to,
            static_cast<double>(h.from) / rate, 1000 * length,
            excused ? "excused by " : "NOT excused");
        if (!excused)
            std::printf(", the pauses from %.1f ms before it to %.1f ms after excuse %.2f ms%s",
                1000 * tolerance.before, 1000 * tolerance.after, 1000 * available,
                by.empty() ? "" : ": ");
        std::printf("%s", by.c_str());
        if (idle)
            std::printf(
                "%s%zu shorter pauses excusing nothing", by.empty() ? "; " : "; and ", idle);
        std::printf("\n");
    }
    return tally;
}

} // namespace

std::string describe(const Pause& p)
{
    std::string cpus;
    for (int c : p.cpus)
        cpus += (cpus.empty() ? "" : ",") + std::to_string(c);
    char text[96];
    std::snprintf(text, sizeof text, "the pause at %.3f s of %.2f ms (cpu %s)", p.from,
        1000 * p.seconds(), cpus.c_str());
    return text;
}

// Merged, in time order; each as long as the probe printed it, not as its rounded times.
std::vector<Pause> parsePauses(std::istream& in)
{
    std::vector<Pause> seen;
    std::string line;
    while (std::getline(in, line)) {
        double from = 0, to = 0, ms = 0;
        int cpu = 0;
        if (std::sscanf(
                line.c_str(), "pause from %lf s to %lf s on cpu %d: %lf ms", &from, &to, &cpu, &ms)
            == 4)
            seen.push_back({ from, from + ms / 1000, { cpu } });
    }
    std::sort(
        seen.begin(), seen.end(), [](const Pause& a, const Pause& b) { return a.from < b.from; });
    std::map<int, Pause*> lastOn;
    std::vector<Pause> joined;
    joined.reserve(seen.size());
    for (const Pause& p : seen) {
        const int cpu = *p.cpus.begin();
        Pause*& last = lastOn[cpu];
        if (last && p.from - last->to < backBetween) {
            last->to = std::max(last->to, p.to);
        } else {
            joined.push_back(p);
            last = &joined.back();
        }
    }
    std::sort(joined.begin(), joined.end(),
        [](const Pause& a, const Pause& b) { return a.from < b.from; });
    std::vector<Pause> merged;
    for (const Pause& p : joined) {
        if (!merged.empty() && p.from <= merged.back().to) {
            merged.back().to = std::max(merged.back().to, p.to);
            merged.back().cpus.insert(p.cpus.begin(), p.cpus.end());
        } else {
            merged.push_back(p);
        }
    }
    return merged;
}

ProgramLog parseLog(std::istream& in)
{
    static const std::regex openPipeWire(
        R"(^tamborel\.audio: PipeWire output at (\d+) Hz, asking for a quantum of (\d+) frames)");
    static const std::regex openPulse(R"(^tamborel\.audio: PulseAudio output at (\d+) Hz, )"
                                      R"(target latency [0-9.]+ ms \((\d+) frames\))");
    static const std::regex step(
        R"(^tamborel\.audio: (PipeWire|PulseAudio): [^0-9]*(\d+) frames -> )"
        R"((\d+) frames \([0-9.]+ ms\) at ([0-9.]+) s)");
    static const std::regex underruns(
        R"(^tamborel\.audio: (PipeWire|PulseAudio): (\d+) under\w+ at ([0-9.]+) s )"
        R"((while sounding|in silence))");
    ProgramLog log;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (log.opening == 0 && std::regex_search(line, m, openPipeWire)) {
            log.rate = std::stoi(m[1]);
            log.opening = std::stoi(m[2]);
        } else if (log.opening == 0 && std::regex_search(line, m, openPulse)) {
            log.pulse = true;
            log.rate = std::stoi(m[1]);
            log.opening = std::stoi(m[2]);
        } else if (std::regex_search(line, m, step)) {
            log.steps.push_back({ std::stod(m[4]), std::stoi(m[2]), std::stoi(m[3]) });
        } else if (std::regex_search(line, m, underruns)) {
            log.underruns.push_back({ std::stod(m[3]), std::stol(m[2]), m[4] == "while sounding" });
        } else if (line.starts_with("tamborel.audio: ")
            && (line.find("->") != std::string::npos || line.find("under") != std::string::npos)) {
            log.unread.push_back(line);
        }
    }
    std::sort(log.steps.begin(), log.steps.end(),
        [](const ProgramLog::Step& a, const ProgramLog::Step& b) { return a.at < b.at; });
    return log;
}

Times parseTimes(std::istream& in)
{
    Times times;
    std::string what;
    double t = 0;
    while (in >> what >> t) {
        if (what == "start")
            times.start = t;
        else if (what == "stop")
            times.stop = t;
        else if (what == "press")
            times.presses.push_back(t);
    }
    return times;
}

// A hole is excused only by the pauses it overlaps, and by no more of them than the stream's
// buffer could not ride out: a pause less the buffer, plus one cycle, since the stream can be
// a cycle short of full when the pause begins. Each pause's excuse is spent once, by the holes
// that overlap it.
int judge(const std::vector<short>& s, int rate, double seconds, const Times& times,
    const std::vector<Pause>& pauses, const ProgramLog& log)
{
    if (log.opening == 0 || log.rate <= 0) {
        std::printf("fail: the program's log names no stream it opened\n");
        return 1;
    }
    if (times.presses.empty()) {
        std::printf("fail: no presses noted\n");
        return 1;
    }
    std::size_t first = 0, last = s.size();
    while (first < last && s[first] == 0)
        ++first;
    while (last > first && s[last - 1] == 0)
        --last;
    if (first == last) {
        std::printf("fail: the recording holds no sound\n");
        return 1;
    }
    const std::vector<Hole> holes = findHoles(s, rate, first, last);

    const std::vector<Anchor> found = anchors(s, rate, first, times.presses);
    const auto [lowest, highest] = std::minmax_element(found.begin(), found.end(),
        [](const Anchor& a, const Anchor& b) { return a.start < b.start; });
    std::printf("%zu of %zu presses found in the recording; they put its start between %.3f s "
                "and %.3f s\n",
        found.size(), times.presses.size(), lowest->start, highest->start);
    std::vector<Pause> during;
    for (const Pause& p : pauses)
        if (p.to >= times.start && p.from <= times.stop)
            during.push_back(p);
    std::vector<double> excuse;
    for (const Pause& p : during)
        excuse.push_back(log.excuseOf(p));
    const auto longest = std::max_element(during.begin(), during.end(),
        [](const Pause& a, const Pause& b) { return a.seconds() < b.seconds(); });
    std::printf("%zu pauses while recording%s%s; %s at %.1f kHz, %d frames at first, %zu steps\n",
        during.size(), longest == during.end() ? "" : ", the longest ",
        longest == during.end() ? "" : describe(*longest).c_str(), log.server(), log.rate / 1000.0,
        log.opening, log.steps.size());
    for (const std::string& line : log.unread)
        std::printf("a line of the program's not understood here: %s\n", line.c_str());

    const HoleTally tally = judgeHoles(holes, rate, found, during, excuse, log);
    const int unexplained = judgeUnderruns(log, pauses, times.start, times.stop);
    const double sounding = static_cast<double>(last - first) / rate;
    std::printf("sounding %.2f s, %zu holes, %.1f ms of silence, %.1f ms of it not excused\n",
        sounding, holes.size(), 1000 * tally.silence, 1000 * tally.unexcusedSilence);
    bool failed = false;
    if (sounding < seconds) {
        std::printf("fail: too little sound, %.2f s of %.2f s\n", sounding, seconds);
        failed = true;
    }
    if (tally.unexcused) {
        std::printf("fail: %d holes no pause excuses\n", tally.unexcused);
        failed = true;
    }
    if (unexplained) {
        std::printf("fail: %d underruns while sounding that no pause explains\n", unexplained);
        failed = true;
    }
    return failed ? 1 : 0;
}

// A sample that came out whole around drop-outs that moved it by ms in all, recorded from a
// press at from to to: excused only by the underruns the program logged while sounding in that
// time, each with a pause before it, and by no more of those pauses than the stream's buffer could
// not ride out.
int excuse(
    double ms, double from, double to, const std::vector<Pause>& pauses, const ProgramLog& log)
{
    if (log.opening == 0 || log.rate <= 0) {
        std::printf("fail: the program's log names no stream it opened\n");
        return 1;
    }
    std::vector<const Pause*> causes;
    int underruns = 0, unexplained = 0;
    for (const ProgramLog::Underruns& u : log.underruns) {
        if (!u.sounding || u.at < from || u.at > to + logLag)
            continue;
        ++underruns;
        const auto near = pausesBefore(pauses, u.at, logLag);
        unexplained += near.empty() ? 1 : 0;
        std::printf("%ld underrun%s logged at %.3f s while sounding, %s\n", u.count,
            u.count == 1 ? "" : "s", u.at,
            near.empty() ? "with no pause before it"
                         : ("after " + describe(*longestOf(near))).c_str());
        for (const Pause* p : near)
            if (std::find(causes.begin(), causes.end(), p) == causes.end())
                causes.push_back(p);
    }
    double available = 0;
    for (const Pause* p : causes)
        available += log.excuseOf(*p);
    std::printf(
        "drop-outs moving the sound %.1f ms; the pauses excuse %.2f ms\n", ms, 1000 * available);
    if (underruns == 0) {
        std::printf("fail: the program logged no underrun while sounding then\n");
        return 1;
    }
    if (unexplained) {
        std::printf("fail: %d underruns while sounding that no pause explains\n", unexplained);
        return 1;
    }
    if (ms > 1000 * available) {
        std::printf("fail: the drop-outs outlast what the pauses excuse\n");
        return 1;
    }
    return 0;
}

// A lost cycle takes with it the hits that began in it and ended before the next: at most as
// many as the presses made in a cycle, and one more.
int lost(long missing, double perSecond, double from, double to, const std::vector<Pause>& pauses,
    const ProgramLog& log)
{
    if (missing <= 0) {
        std::printf("%ld hits missing\n", missing);
        return missing == 0 ? 0 : 1;
    }
    long allowed = 0;
    int unexplained = 0;
    for (const ProgramLog::Underruns& u : log.underruns) {
        if (!u.sounding || u.at < from || u.at > to + logLag)
            continue;
        const auto near = pausesBefore(pauses, u.at, logLag);
        unexplained += near.empty() ? 1 : 0;
        const auto each = static_cast<long>(log.seconds(log.cycleAt(u.at)) * perSecond) + 1;
        allowed += u.count * each;
        std::printf("%ld underrun%s logged at %.3f s while sounding, %s, each may lose %ld hits\n",
            u.count, u.count == 1 ? "" : "s", u.at,
            near.empty() ? "with no pause before it"
                         : ("after " + describe(*longestOf(near))).c_str(),
            each);
    }
    std::printf("%ld hits missing; the underruns could lose %ld\n", missing, allowed);
    if (unexplained) {
        std::printf("fail: %d underruns while sounding that no pause explains\n", unexplained);
        return 1;
    }
    if (missing > allowed) {
        std::printf("fail: more hits missing than the underruns could lose\n");
        return 1;
    }
    return 0;
}

// The program's chooser looks at its stream every 100 ms: it climbs up to that long after the
// stall that made it.
constexpr double chooserLooks = 0.1;

// A buffer over the limit is excused by the climbs that made it, each after a pause.
int buffer(long usec, long limitUsec, double at, const std::vector<Pause>& pauses,
    const ProgramLog& log, double since)
{
    std::printf("buffer %.2f ms at %.3f s", usec / 1000.0, at);
    if (usec <= limitUsec) {
        std::printf(", at most %.2f ms\n", limitUsec / 1000.0);
        return 0;
    }
    std::printf(", over %.2f ms", limitUsec / 1000.0);
    int climbs = 0, unexplained = 0;
    for (const ProgramLog::Step& s : log.steps) {
        if (s.at > at || s.at < since || s.to <= s.from)
            continue;
        ++climbs;
        std::printf("; the program climbed from %d to %d frames at %.3f s", s.from, s.to, s.at);
        const auto near = pausesBefore(pauses, s.at, chooserLooks + logLag);
        if (near.empty()) {
            ++unexplained;
            std::printf(" with no pause before it");
        } else {
            std::printf(" after %s", describe(*longestOf(near)).c_str());
        }
    }
    if (climbs == 0 || unexplained) {
        std::printf("%s: not excused\n", climbs ? "" : "; no climb logged before");
        return 1;
    }
    std::printf("\n");
    return 0;
}

} // namespace dropcheck
