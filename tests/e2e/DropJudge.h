#pragma once

// The drop-out tests' judgement of what they recorded, against the stops of the machine the
// probes saw and what the program logged about its stream. Each judgement tells its reasons on
// standard output and returns 0 when it passes, 1 when not. Times are seconds on the monotonic
// clock, which the program's log uses too; positions in a recording are seconds from its start.
#include <algorithm>
#include <istream>
#include <set>
#include <string>
#include <vector>

namespace dropcheck {

// The probes' period. A probe that woke late was kept from its processor at some moment after
// it went to sleep: the stop began no earlier than that and lasted at most until it woke.
constexpr double probePeriod = 0.001;

// A stop of the machine as the probes saw it; stops that overlap on several processors are one.
struct Pause {
    double from = 0, to = 0;
    std::set<int> cpus;
    double seconds() const { return to - from; }
};

std::string describe(const Pause& p);

// What the probes printed: their stops, merged, in time order.
std::vector<Pause> parsePauses(std::istream& probes);

// A new buffer is not there the moment it is asked for: the graph follows a new quantum at a
// later cycle, and a larger PulseAudio buffer is filled over the next requests. For this long
// after a step the smaller of the two is taken.
constexpr double stepSettles = 0.5;

// What the program logged about its stream: the buffer it opened with (there from the start,
// so without a time), each step since, and its underruns.
struct ProgramLog {
    bool pulse = false;
    int rate = 0;
    int opening = 0; // frames; 0 when it opened no stream
    struct Step {
        double at;
        int from, to;
    };
    std::vector<Step> steps;
    struct Underruns {
        double at;
        long count;
        bool sounding;
    };
    std::vector<Underruns> underruns;
    // Lines about steps or underruns in a form not known here: told, so that none is missed.
    std::vector<std::string> unread;

    int askedAt(double t) const
    {
        int frames = opening;
        for (const Step& s : steps)
            if (s.at <= t)
                frames = s.to;
        return frames;
    }
    int settledAt(double t) const { return std::min(askedAt(t), askedAt(t - stepSettles)); }
    // Frames: the buffer the stream surely had at t. PulseAudio keeps part of the target latency
    // on the sink's side, where it is not the stream's: read from outside, the stream's buffer
    // was 16 ms of a 21.3 ms target and 24 ms of a 32 ms one.
    int bufferAt(double t) const { return pulse ? settledAt(t) * 3 / 4 : settledAt(t); }
    // Frames: how much the stream is given at once. PipeWire's cycle is the quantum; PulseAudio
    // asks for a quarter of the target latency at a time.
    int cycleAt(double t) const { return pulse ? settledAt(t) / 4 : settledAt(t); }
    double seconds(int frames) const { return static_cast<double>(frames) / rate; }
    // How much of a hole a pause excuses: what the buffer could not ride out, plus one cycle,
    // since the stream can be a cycle short of full when the pause begins.
    double excuseOf(const Pause& p) const
    {
        return std::max(0.0, p.seconds() - seconds(bufferAt(p.from)) + seconds(cycleAt(p.from)));
    }
    const char* server() const { return pulse ? "PulseAudio" : "PipeWire"; }
};

ProgramLog parseLog(std::istream& programOutput);

// When the test began and ended recording, and when it pressed each key.
struct Times {
    double start = 0, stop = 0;
    std::vector<double> presses;
};

Times parseTimes(std::istream& in);

// A recording (s16le mono) of presses made every 0.8 s of a kit whose every sample is the same
// steady noise: its holes of digital silence, each against the pauses, and the program's
// underruns while sounding. Fails too when less than `seconds` sounded.
int judge(const std::vector<short>& recording, int rate, double seconds, const Times& times,
    const std::vector<Pause>& pauses, const ProgramLog& log);

// A sample that came out whole around drop-outs that moved it by ms in all, recorded from a
// press at from to to.
int excuse(
    double ms, double from, double to, const std::vector<Pause>& pauses, const ProgramLog& log);

// Hits missing from a recording of presses made perSecond from `from` to `to`.
int lost(long missing, double perSecond, double from, double to, const std::vector<Pause>& pauses,
    const ProgramLog& log);

// The buffer the stream had at `at`, as the server showed it, against a limit: over it only
// after a climb the program logged (since `since`) that a pause explains.
int buffer(long usec, long limitUsec, double at, const std::vector<Pause>& pauses,
    const ProgramLog& log, double since);

} // namespace dropcheck
