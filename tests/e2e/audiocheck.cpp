// Looks at what the program played: a raw recording (signed 16-bit little-endian mono, as
// parec writes it) compared with the sample files that should be in it. Times are seconds
// from the recording's start.
//
//   audiocheck identify REC RATE REF...     which reference the recording's sound is, by
//                                           normalised cross-correlation of its opening
//   audiocheck expect REC RATE FROM LATEST EXPECTED REF...
//                                           identify, then judge: EXPECTED (one of the REFs)
//                                           must win with the score and lead of
//                                           tests/support/dsp/Match.h, its onset no earlier than
//                                           FROM and no later than LATEST; exits 1 when not,
//                                           and 3 when it falls short of the score only by
//                                           drop-outs around which the whole sample came, moved
//                                           by "moved MS"
//   audiocheck sounding REC RATE FROM       where the first sound at or after FROM begins, and
//                                           how long the recording runs on from there; exits 1
//                                           while there is none
//   audiocheck quiet REC RATE SECONDS       exits 0 when the recording's last SECONDS are silent
//   audiocheck follow REC RATE REF FROM TO  whether REF, aligned at its onset, still plays in
//                                           the window FROM..TO seconds after that onset; with
//                                           the drop-outs in it, and "moved MS" when it came
//                                           whole around them
//   audiocheck level REC RATE               peak and RMS of the recording
//   audiocheck pulses REC RATE              each run of sound and its area (the sum of its
//                                           samples, in full-scale samples), then the total
//   audiocheck length REF                   a sample file's length in seconds
#include "tests/support/dsp/Match.h"
#include "tests/support/dsp/Resample.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Signal = std::vector<double>;

Signal readRecording(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Signal samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<unsigned char>(bytes[2 * i]);
        const auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(lo | (hi << 8)) / 32768.0;
    }
    return samples;
}

// A sample file as the recording would hold it: mixed to mono, at the recording's rate.
Signal readReference(const char* path, int rate)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "audiocheck: cannot read %s: %s\n", path, sf_strerror(nullptr));
        std::exit(2);
    }
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<float> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t f = 0; f < mono.size(); ++f) {
        float sum = 0;
        for (int c = 0; c < info.channels; ++c)
            sum += frames[f * info.channels + c];
        mono[f] = sum / info.channels;
    }
    return dsp::resample(Signal(mono.begin(), mono.end()), info.samplerate, rate);
}

std::string baseName(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// Every reference's opening matched against the recording, the winner and the runner-up.
struct Identified {
    std::vector<dsp::Match> matches;
    int best = -1, second = -1;
};

Identified identify(const Signal& recording, int rate, int count, char** references)
{
    const auto opening = static_cast<std::size_t>(dsp::openingSeconds * rate);
    const dsp::Matcher matcher(recording, opening);
    Identified found;
    for (int i = 0; i < count; ++i) {
        const dsp::Match m = matcher.best(readReference(references[i], rate), opening);
        std::printf("candidate %s score %.4f onset %.4f\n", baseName(references[i]).c_str(),
            m.score, double(m.lag) / rate);
        found.matches.push_back(m);
        if (found.best < 0 || m.score > found.matches[found.best].score) {
            found.second = found.best;
            found.best = i;
        } else if (found.second < 0 || m.score > found.matches[found.second].score) {
            found.second = i;
        }
    }
    if (found.best < 0 || found.matches[found.best].score <= 0) {
        std::printf("best none\n");
        found.best = -1;
        return found;
    }
    const dsp::Match& best = found.matches[found.best];
    const double second = found.second < 0 ? 0 : found.matches[found.second].score;
    std::printf("best %s score %.4f second %.4f onset %.4f runner-up %s\n",
        baseName(references[found.best]).c_str(), best.score, second, double(best.lag) / rate,
        found.second < 0 ? "none" : baseName(references[found.second]).c_str());
    return found;
}

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
    std::size_t first = 0, std::size_t last = SIZE_MAX)
{
    last = std::min(last, reference.size());
    const auto window = static_cast<std::size_t>(rate / 100);
    auto energy = [&](std::size_t at) {
        double e = 0;
        for (std::size_t i = at; i < at + window; ++i)
            e += reference[i] * reference[i];
        return e;
    };
    // Correlation and level of the recording against the sample's window at `at`, the recording
    // moved by `shift`.
    auto follows = [&](std::size_t at, long shift, double& level) {
        double dot = 0, rec = 0, ref = 0;
        for (std::size_t i = at; i < at + window; ++i) {
            const long r = lag + shift + static_cast<long>(i);
            const double x = r >= 0 && r < static_cast<long>(recording.size())
                ? recording[static_cast<std::size_t>(r)]
                : 0.0;
            dot += x * reference[i];
            rec += x * x;
            ref += reference[i] * reference[i];
        }
        level = std::sqrt(rec / ref);
        return rec > 0 ? dot / std::sqrt(rec * ref) : 0.0;
    };
    // The best place for the sample's window at `at` within 100 ms of `around`, and how well
    // the recording follows it there.
    auto place = [&](std::size_t at, long around, double& best) {
        long moved = 0;
        double unused = 0;
        best = -1;
        for (long shift = -rate / 10; shift <= rate / 10; ++shift) {
            const double c = follows(at, around + shift, unused);
            if (c > best) {
                best = c;
                moved = shift;
            }
        }
        return moved;
    };
    double loudest = 0;
    for (std::size_t at = 0; at + window <= reference.size(); at += window)
        loudest = std::max(loudest, energy(at));
    Continuity found;
    std::string text;
    char part[200];
    // A drop-out early in the sample leaves most of it later: the match aligns to that. The
    // sample starts where its opening is.
    double level = 0, opening = 0;
    if (follows(first, 0, level) < 0.9) {
        const long moved = place(first, 0, opening);
        if (opening >= 0.9)
            found.startShift = moved;
    }
    long shifted = found.startShift;
    for (std::size_t at = first; at + window <= last; at += window) {
        // The faint tail, 50 dB under the loudest, is left to the recording's 16-bit noise.
        if (energy(at) < loudest * 1e-5 || follows(at, shifted, level) >= 0.9)
            continue;
        if (lag + shifted + static_cast<long>(at + window) > static_cast<long>(recording.size())) {
            std::snprintf(part, sizeof part, "recorded only %.3f s of it", double(at) / rate);
            found.whole = false;
            text += (text.empty() ? "" : "; ") + std::string(part);
            break;
        }
        // Where the sound after the break went: the first window within 100 ms after it that
        // follows the sample again, at its best shift within 100 ms. The shift is either way:
        // a sound server that drops the time a stop of the machine took drops it from the
        // recording too. A sample that follows nowhere is lost from here on.
        double best = 0;
        long moved = 0;
        std::size_t next = at + window;
        for (; next + window <= last && next <= at + 10 * window; next += window)
            if ((moved = place(next, shifted, best)), best >= 0.9)
                break;
        ++found.dropouts;
        std::snprintf(part, sizeof part,
            "drop-out %.3f s into it (level %.2f of the sample's), the rest %.1f ms %s",
            double(at) / rate, level, 1000.0 * std::abs(moved) / rate,
            moved >= 0 ? "late" : "early");
        text += (text.empty() ? "" : "; ") + std::string(part);
        if (next + window > last)
            break;
        if (best < 0.9) {
            found.whole = false;
            text += ", and it follows the sample nowhere near";
            break;
        }
        shifted += moved;
        found.movedMs += 1000.0 * static_cast<double>(std::abs(moved)) / rate;
        at = next; // that window placed the rest
    }
    if (!text.empty())
        found.text = text;
    return found;
}

// The onset may lie this much before the press: the correlation aligns to a sample, and a
// sample converter rings a little ahead of a sound.
constexpr double earliestBeforePress = 0.002;

// The expected sample must win by the score and lead identification asks, and start where the
// key press can have started it.
int expect(const Signal& recording, int rate, double from, double latest,
    const std::string& expected, int count, char** references)
{
    int index = -1;
    for (int i = 0; i < count; ++i)
        if (references[i] == expected)
            index = i;
    if (index < 0) {
        std::fprintf(stderr, "audiocheck: %s is not among the references\n", expected.c_str());
        return 2;
    }
    const Identified found = identify(recording, rate, count, references);
    const dsp::Match& match = found.matches[static_cast<std::size_t>(index)];
    double rival = 0;
    std::string rivalName = "none";
    for (int i = 0; i < count; ++i)
        if (i != index && found.matches[static_cast<std::size_t>(i)].score >= rival) {
            rival = found.matches[static_cast<std::size_t>(i)].score;
            rivalName = baseName(references[i]);
        }
    const std::string name = baseName(expected);
    const Continuity whole
        = continuity(recording, readReference(expected.c_str(), rate), match.lag, rate);
    const double onset = double(match.lag + whole.startShift) / rate;
    std::printf(
        "expected %s: score %.4f, lead %.4f over %s, onset %.4f, %.4f after the press; %s\n",
        name.c_str(), match.score, match.score - rival, rivalName.c_str(), onset, onset - from,
        whole.text.c_str());

    std::vector<std::string> faults;
    // What drop-outs cost the score: a sample that came out whole around them is still the
    // sample, if something outside excuses them. Drop-outs that leave the sample recognised are
    // the drop-out test's to judge, hole by hole; the recorder's own glitches look alike here.
    std::vector<std::string> owed;
    const bool dropoutsOnly = whole.dropouts > 0 && whole.whole && found.best == index;
    char text[256];
    if (found.best != index) {
        std::snprintf(text, sizeof text, "heard %s, not %s",
            found.best < 0 ? "nothing" : baseName(references[found.best]).c_str(), name.c_str());
        faults.push_back(text);
    }
    if (match.score < dsp::identifyScore) {
        std::snprintf(text, sizeof text, "%s matches only %.4f (at least %.2f)", name.c_str(),
            match.score, dsp::identifyScore);
        (dropoutsOnly ? owed : faults).push_back(text);
    }
    if (match.score - rival < dsp::identifyLead) {
        std::snprintf(text, sizeof text, "%s leads %s by only %.4f (at least %.2f)", name.c_str(),
            rivalName.c_str(), match.score - rival, dsp::identifyLead);
        (dropoutsOnly ? owed : faults).push_back(text);
    }
    if (onset < from - earliestBeforePress) {
        std::snprintf(text, sizeof text,
            "%s starts at %.4f s, before the key was pressed at %.4f s", name.c_str(), onset, from);
        faults.push_back(text);
    }
    if (onset > latest) {
        std::snprintf(text, sizeof text,
            "%s starts at %.4f s, %.4f s after the press: later than %.4f s", name.c_str(), onset,
            onset - from, latest);
        faults.push_back(text);
    }
    for (const std::string& fault : faults)
        std::printf("fail: %s\n", fault.c_str());
    if (!faults.empty())
        return 1;
    if (owed.empty())
        return 0;
    owed.insert(owed.begin(), name + " came out whole around drop-outs: " + whole.text);
    for (const std::string& fault : owed)
        std::printf("owed to drop-outs: %s\n", fault.c_str());
    std::printf("moved %.1f ms\n", whole.movedMs);
    return 3;
}

// Anything above this counts as sound: the null sink gives exact zeros when nothing plays,
// and every demo sample decays into digital silence.
constexpr double soundLevel = 0.001;

int sounding(const Signal& recording, int rate, double from)
{
    for (auto i = static_cast<std::size_t>(std::max(0.0, from) * rate); i < recording.size(); ++i)
        if (std::abs(recording[i]) >= soundLevel) {
            std::printf(
                "start %.4f held %.4f\n", double(i) / rate, double(recording.size() - i) / rate);
            return 0;
        }
    std::printf("silent\n");
    return 1;
}

int quiet(const Signal& recording, int rate, double seconds)
{
    const auto span = static_cast<std::size_t>(seconds * rate);
    if (recording.size() < span)
        return 1;
    for (std::size_t i = recording.size() - span; i < recording.size(); ++i)
        if (std::abs(recording[i]) >= soundLevel)
            return 1;
    return 0;
}

int follow(const Signal& recording, int rate, const char* referencePath, double from, double to)
{
    const Signal reference = readReference(referencePath, rate);
    const auto opening = static_cast<std::size_t>(0.2 * rate);
    const dsp::Match onset = dsp::Matcher(recording, opening).best(reference, opening);
    const auto begin = static_cast<std::size_t>(from * rate),
               end = static_cast<std::size_t>(to * rate);
    double level = 0;
    // The window's score with the recording moved by shift frames.
    const auto scoreAt = [&](long shift) {
        double dot = 0, recEnergy = 0, refEnergy = 0;
        for (std::size_t i = begin; i < end && i < reference.size(); ++i) {
            const long at = onset.lag + shift + static_cast<long>(i);
            if (at < 0 || at >= static_cast<long>(recording.size()))
                break;
            const double x = recording[static_cast<std::size_t>(at)];
            dot += x * reference[i];
            recEnergy += x * x;
            refEnergy += reference[i] * reference[i];
        }
        level = refEnergy > 0 ? std::sqrt(recEnergy / refEnergy) : 0;
        return recEnergy > 0 && refEnergy > 0 ? dot / std::sqrt(recEnergy * refEnergy) : 0;
    };
    const double score = scoreAt(0);
    std::printf("onset %.4f score %.4f level %.4f\n", double(onset.lag) / rate, score, level);
    if (score >= 0.9)
        return 0;
    // Drop-outs lower the score as a cut-off sound would: said, with how far they moved it.
    // One before the window moves all of it; others break it into stretches.
    long best = 0;
    double bestScore = score;
    for (long shift = -rate / 10; shift <= rate / 10; ++shift)
        if (const double c = scoreAt(shift); c > bestScore) {
            bestScore = c;
            best = shift;
        }
    if (bestScore >= 0.9) {
        std::printf("drop-out before the window: the whole window %.1f ms %s, score %.4f there\n",
            1000.0 * std::abs(best) / rate, best >= 0 ? "late" : "early", bestScore);
        std::printf("moved %.1f ms\n", 1000.0 * std::abs(best) / rate);
        return 0;
    }
    const Continuity whole = continuity(recording, reference, onset.lag, rate, begin, end);
    if (whole.dropouts > 0)
        std::printf("%s\n", whole.text.c_str());
    if (whole.dropouts > 0 && whole.whole)
        std::printf("moved %.1f ms\n", whole.movedMs);
    return 0;
}

int level(const Signal& recording, int rate)
{
    double peak = 0, energy = 0;
    for (double x : recording) {
        peak = std::max(peak, std::abs(x));
        energy += x * x;
    }
    std::printf("peak %.5f rms %.6f seconds %.3f\n", peak,
        recording.empty() ? 0 : std::sqrt(energy / recording.size()),
        double(recording.size()) / rate);
    return 0;
}

// Runs of sound are apart by a millisecond or more of digital silence. Pulses that never go
// below zero add up exactly however their hits overlap and whatever the pan, so the total
// area, against that of one hit of each kind, counts the hits that came out.
int pulses(const Signal& recording, int rate)
{
    const auto gap = static_cast<std::size_t>(std::max(1, rate / 1000));
    double total = 0;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < recording.size();) {
        if (recording[i] == 0) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        double area = 0;
        for (std::size_t silent = 0; i < recording.size() && silent < gap; ++i) {
            area += recording[i];
            silent = recording[i] == 0 ? silent + 1 : 0;
        }
        std::printf("pulse %.4f %.6f\n", double(start) / rate, area);
        total += area;
        ++runs;
    }
    std::printf("total %.6f %zu\n", total, runs);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "length") {
        SF_INFO info {};
        SNDFILE* file = sf_open(argv[2], SFM_READ, &info);
        if (!file)
            return 2;
        sf_close(file);
        std::printf("%.3f\n", double(info.frames) / info.samplerate);
        return 0;
    }
    if (argc < 4) {
        std::fprintf(stderr,
            "usage: audiocheck identify|expect|sounding|quiet|follow|level|pulses REC RATE ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const Signal recording = readRecording(argv[2]);
    const int rate = std::atoi(argv[3]);
    if (mode == "identify" && argc >= 5)
        return identify(recording, rate, argc - 4, argv + 4).best < 0 ? 1 : 0;
    if (mode == "expect" && argc >= 8)
        return expect(
            recording, rate, std::atof(argv[4]), std::atof(argv[5]), argv[6], argc - 7, argv + 7);
    if (mode == "sounding" && argc == 5)
        return sounding(recording, rate, std::atof(argv[4]));
    if (mode == "quiet" && argc == 5)
        return quiet(recording, rate, std::atof(argv[4]));
    if (mode == "follow" && argc == 7)
        return follow(recording, rate, argv[4], std::atof(argv[5]), std::atof(argv[6]));
    if (mode == "level")
        return level(recording, rate);
    if (mode == "pulses")
        return pulses(recording, rate);
    std::fprintf(stderr, "audiocheck: bad arguments\n");
    return 2;
}
