#pragma once

// How the end-to-end tests judge what the program played, on sound already in memory: a
// recording as a stream of samples in full-scale units at its rate, and references (sample
// files mixed to mono at the recording's rate). tests/e2e/audiocheck.cpp reads the files and
// prints the results; tests/e2e/SoundChecksT.cpp tries them on made-up faults.

#include "tests/support/dsp/Match.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace soundchecks {

using Signal = std::vector<double>;

// Anything above this counts as sound: the null sink gives exact zeros when nothing plays,
// and every demo sample decays into digital silence.
inline constexpr double soundLevel = 0.001;

// The onset may lie this much before the press: the correlation aligns to a sample, and a
// sample converter rings a little ahead of a sound.
inline constexpr double earliestBeforePress = 0.002;

// Every reference's opening matched against the recording, the winner and the runner-up.
// `best` is -1 when nothing matched at all.
struct Identified {
    std::vector<dsp::Match> matches;
    int best = -1, second = -1;
};

Identified identify(const Signal& recording, int rate, const std::vector<Signal>& references);

// How the whole sample came out, aligned at its onset. A drop-out in the output shows as a
// stretch where the recording stops following the sample, silent or shifted; the sound after
// it is followed on at its new place, so that every drop-out is found and the sample's whole
// length checked.
struct Continuity {
    std::string text = "intact";
    int dropouts = 0;
    long startShift = 0; // frames from the match's alignment to where the sample starts
    double movedMs = 0; // how far the drop-outs moved the sound, all together, either way
    bool whole = true; // the sample followed on after each drop-out
};

// Looks at the sample from its frame `first` to its frame `last`: the whole of it by default.
Continuity continuity(const Signal& recording, const Signal& reference, long lag, int rate,
    std::size_t first = 0, std::size_t last = SIZE_MAX);

// The judgement of one recorded press: which reference won, how the expected one matched and
// came out, and what is wrong with it.
struct Verdict {
    Identified identified;
    int rival = -1; // the best-scoring other reference
    double rivalScore = 0;
    Continuity whole; // the expected sample, followed through
    double onset = 0; // seconds: where the expected sample starts
    std::vector<std::string> faults; // each one fails the press
    // Shortfalls a sample that came out whole around drop-outs owes to them, the first line
    // saying so; empty when there are faults or nothing is owed.
    std::vector<std::string> owed;
    // 0 passed, 1 failed, 3 passed but for what drop-outs cost (audiocheck's exit codes).
    int status() const { return !faults.empty() ? 1 : owed.empty() ? 0 : 3; }
};

// `expected` (an index into references and names) must win with the score and lead of
// tests/support/dsp/Match.h, and start no earlier than `from` (less earliestBeforePress) and
// no later than `latest`. `names` name the references in what is said.
Verdict expect(const Signal& recording, int rate, double from, double latest, std::size_t expected,
    const std::vector<Signal>& references, const std::vector<std::string>& names);

// The first sound at or after `from` seconds: where it begins and how long the recording runs
// on from there.
struct Sounding {
    double start = 0, held = 0;
};

std::optional<Sounding> sounding(const Signal& recording, int rate, double from);

// Whether the recording's last `seconds` are silent; a shorter recording is not.
bool quiet(const Signal& recording, int rate, double seconds);

// Whether the reference, aligned at its onset, still plays in the window `from`..`to` seconds
// after that onset.
struct Followed {
    double onset = 0; // seconds into the recording
    double score = 0, level = 0; // the window's correlation, and its level against the sample's
    // When the score falls short: a drop-out before the window moved all of it by `shift`
    // frames, where it scores `shiftedScore`...
    bool movedWhole = false;
    long shift = 0;
    double shiftedScore = 0;
    // ...or else the drop-outs within it.
    Continuity within;
};

Followed follow(const Signal& recording, int rate, const Signal& reference, double from, double to);

struct Level {
    double peak = 0, rms = 0, seconds = 0;
};

Level level(const Signal& recording, int rate);

// Runs of sound, apart by a millisecond or more of digital silence, each with its area: the
// sum of its samples.
struct Pulse {
    double start = 0; // seconds
    double area = 0;
};
struct Pulses {
    std::vector<Pulse> runs;
    double total = 0;
};

Pulses pulses(const Signal& recording, int rate);

// Where each hit begins: a run of sound that starts within `minGap` seconds of the last hit's
// onset is that hit, cut by a drop-out.
std::vector<double> onsets(const Pulses& found, double minGap);

// The hits a recording of flat pulses holds: its area against that of one hit. `pulse` is the
// pulse file's samples, every channel, as the recording holds them all (a stereo recording
// read as one stream of samples); its rate is `pulseRate`, the recording's `rate`.
struct Hits {
    double count = 0;
    double unit = 0; // the area of one hit in the recording
    double total = 0;
};

Hits hits(const Signal& recording, int rate, const Signal& pulse, int pulseRate);

} // namespace soundchecks
