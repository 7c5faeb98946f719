#include "tests/e2e/SoundChecks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace soundchecks {

Identified identify(const Signal& recording, int rate, const std::vector<Signal>& references)
{
    const auto opening = static_cast<std::size_t>(dsp::openingSeconds * rate);
    const dsp::Matcher matcher(recording, opening);
    Identified found;
    for (std::size_t i = 0; i < references.size(); ++i) {
        const dsp::Match m = matcher.best(references[i], opening);
        found.matches.push_back(m);
        const int index = static_cast<int>(i);
        if (found.best < 0 || m.score > found.matches[found.best].score) {
            found.second = found.best;
            found.best = index;
        } else if (found.second < 0 || m.score > found.matches[found.second].score) {
            found.second = index;
        }
    }
    if (found.best >= 0 && found.matches[found.best].score <= 0)
        found.best = -1;
    return found;
}

Continuity continuity(const Signal& recording, const Signal& reference, long lag, int rate,
    std::size_t first, std::size_t last)
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

Verdict expect(const Signal& recording, int rate, double from, double latest, std::size_t expected,
    const std::vector<Signal>& references, const std::vector<std::string>& names)
{
    Verdict v;
    v.identified = identify(recording, rate, references);
    const int index = static_cast<int>(expected);
    const dsp::Match& match = v.identified.matches[expected];
    for (std::size_t i = 0; i < references.size(); ++i)
        if (i != expected && v.identified.matches[i].score >= v.rivalScore) {
            v.rivalScore = v.identified.matches[i].score;
            v.rival = static_cast<int>(i);
        }
    const std::string& name = names[expected];
    const std::string rivalName = v.rival < 0 ? "none" : names[static_cast<std::size_t>(v.rival)];
    v.whole = continuity(recording, references[expected], match.lag, rate);
    v.onset = double(match.lag + v.whole.startShift) / rate;

    // What drop-outs cost the score: a sample that came out whole around them is still the
    // sample, if something outside excuses them. Drop-outs that leave the sample recognised are
    // the drop-out test's to judge, hole by hole; the recorder's own glitches look alike here.
    const int best = v.identified.best;
    const bool dropoutsOnly = v.whole.dropouts > 0 && v.whole.whole && best == index;
    char text[256];
    if (best != index) {
        std::snprintf(text, sizeof text, "heard %s, not %s",
            best < 0 ? "nothing" : names[static_cast<std::size_t>(best)].c_str(), name.c_str());
        v.faults.push_back(text);
    }
    if (match.score < dsp::identifyScore) {
        std::snprintf(text, sizeof text, "%s matches only %.4f (at least %.2f)", name.c_str(),
            match.score, dsp::identifyScore);
        (dropoutsOnly ? v.owed : v.faults).push_back(text);
    }
    if (match.score - v.rivalScore < dsp::identifyLead) {
        std::snprintf(text, sizeof text, "%s leads %s by only %.4f (at least %.2f)", name.c_str(),
            rivalName.c_str(), match.score - v.rivalScore, dsp::identifyLead);
        (dropoutsOnly ? v.owed : v.faults).push_back(text);
    }
    if (v.onset < from - earliestBeforePress) {
        std::snprintf(text, sizeof text,
            "%s starts at %.4f s, before the key was pressed at %.4f s", name.c_str(), v.onset,
            from);
        v.faults.push_back(text);
    }
    if (v.onset > latest) {
        std::snprintf(text, sizeof text,
            "%s starts at %.4f s, %.4f s after the press: later than %.4f s", name.c_str(), v.onset,
            v.onset - from, latest);
        v.faults.push_back(text);
    }
    if (!v.faults.empty())
        v.owed.clear();
    else if (!v.owed.empty())
        v.owed.insert(v.owed.begin(), name + " came out whole around drop-outs: " + v.whole.text);
    return v;
}

std::optional<Sounding> sounding(const Signal& recording, int rate, double from)
{
    for (auto i = static_cast<std::size_t>(std::max(0.0, from) * rate); i < recording.size(); ++i)
        if (std::abs(recording[i]) >= soundLevel)
            return Sounding { double(i) / rate, double(recording.size() - i) / rate };
    return std::nullopt;
}

bool quiet(const Signal& recording, int rate, double seconds)
{
    const auto span = static_cast<std::size_t>(seconds * rate);
    if (recording.size() < span)
        return false;
    for (std::size_t i = recording.size() - span; i < recording.size(); ++i)
        if (std::abs(recording[i]) >= soundLevel)
            return false;
    return true;
}

Followed follow(const Signal& recording, int rate, const Signal& reference, double from, double to)
{
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
    Followed found;
    found.onset = double(onset.lag) / rate;
    found.score = scoreAt(0);
    found.level = level;
    if (found.score >= 0.9)
        return found;
    // Drop-outs lower the score as a cut-off sound would. One before the window moves all of
    // it; others break it into stretches.
    found.shiftedScore = found.score;
    for (long shift = -rate / 10; shift <= rate / 10; ++shift)
        if (const double c = scoreAt(shift); c > found.shiftedScore) {
            found.shiftedScore = c;
            found.shift = shift;
        }
    found.movedWhole = found.shiftedScore >= 0.9;
    if (!found.movedWhole)
        found.within = continuity(recording, reference, onset.lag, rate, begin, end);
    return found;
}

Level level(const Signal& recording, int rate)
{
    double peak = 0, energy = 0;
    for (double x : recording) {
        peak = std::max(peak, std::abs(x));
        energy += x * x;
    }
    return { peak, recording.empty() ? 0 : std::sqrt(energy / double(recording.size())),
        double(recording.size()) / rate };
}

// Pulses that never go below zero add up exactly however their hits overlap and whatever the
// pan, so the total area, against that of one hit of each kind, counts the hits that came out.
Pulses pulses(const Signal& recording, int rate)
{
    const auto gap = static_cast<std::size_t>(std::max(1, rate / 1000));
    Pulses found;
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
        found.runs.push_back({ double(start) / rate, area });
        found.total += area;
    }
    return found;
}

std::vector<double> onsets(const Pulses& found, double minGap)
{
    std::vector<double> starts;
    for (const Pulse& run : found.runs)
        if (starts.empty() || run.start - starts.back() > minGap)
            starts.push_back(run.start);
    return starts;
}

Hits hits(const Signal& recording, int rate, const Signal& pulse, int pulseRate)
{
    Hits found;
    for (double x : pulse)
        found.unit += x;
    // The program plays the pulse at the recording's rate: as many more or fewer frames, each
    // as high.
    found.unit *= double(rate) / pulseRate;
    for (double x : recording)
        found.total += x;
    found.count = found.unit > 0 ? found.total / found.unit : 0;
    return found;
}

} // namespace soundchecks
