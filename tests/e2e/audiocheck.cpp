// Looks at what the program played: a raw recording (signed 16-bit little-endian mono, as
// parec writes it; a stereo one is read as one stream of samples) compared with the sample files
// that should be in it. Times are seconds from the recording's start.
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
//   audiocheck onsets REC RATE MIN_GAP      where each hit begins, one a line: runs of sound
//                                           that start within MIN_GAP seconds of a hit's onset
//                                           are that hit, cut by drop-outs
//   audiocheck hits REC RATE PULSE          how many hits of the pulse file PULSE a recording
//                                           of flat pulses holds, by its area: "hits N unit
//                                           AREA total AREA"
//   audiocheck length REF                   a sample file's length in seconds
#include "tests/e2e/SoundChecks.h"
#include "tests/support/dsp/Resample.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace sc = soundchecks;
using sc::Signal;

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

std::vector<Signal> readReferences(int count, char** paths, int rate)
{
    std::vector<Signal> references;
    for (int i = 0; i < count; ++i)
        references.push_back(readReference(paths[i], rate));
    return references;
}

std::vector<std::string> baseNames(int count, char** paths)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(baseName(paths[i]));
    return names;
}

void printIdentified(const sc::Identified& found, int rate, const std::vector<std::string>& names)
{
    for (std::size_t i = 0; i < found.matches.size(); ++i)
        std::printf("candidate %s score %.4f onset %.4f\n", names[i].c_str(),
            found.matches[i].score, double(found.matches[i].lag) / rate);
    if (found.best < 0) {
        std::printf("best none\n");
        return;
    }
    const dsp::Match& best = found.matches[static_cast<std::size_t>(found.best)];
    const double second
        = found.second < 0 ? 0 : found.matches[static_cast<std::size_t>(found.second)].score;
    std::printf("best %s score %.4f second %.4f onset %.4f runner-up %s\n",
        names[static_cast<std::size_t>(found.best)].c_str(), best.score, second,
        double(best.lag) / rate,
        found.second < 0 ? "none" : names[static_cast<std::size_t>(found.second)].c_str());
}

int identify(const Signal& recording, int rate, int count, char** paths)
{
    const sc::Identified found = sc::identify(recording, rate, readReferences(count, paths, rate));
    printIdentified(found, rate, baseNames(count, paths));
    return found.best < 0 ? 1 : 0;
}

int expect(const Signal& recording, int rate, double from, double latest,
    const std::string& expected, int count, char** paths)
{
    int index = -1;
    for (int i = 0; i < count; ++i)
        if (paths[i] == expected)
            index = i;
    if (index < 0) {
        std::fprintf(stderr, "audiocheck: %s is not among the references\n", expected.c_str());
        return 2;
    }
    const std::vector<std::string> names = baseNames(count, paths);
    const sc::Verdict v = sc::expect(recording, rate, from, latest, static_cast<std::size_t>(index),
        readReferences(count, paths, rate), names);
    printIdentified(v.identified, rate, names);
    const double score = v.identified.matches[static_cast<std::size_t>(index)].score;
    std::printf(
        "expected %s: score %.4f, lead %.4f over %s, onset %.4f, %.4f after the press; %s\n",
        names[static_cast<std::size_t>(index)].c_str(), score, score - v.rivalScore,
        v.rival < 0 ? "none" : names[static_cast<std::size_t>(v.rival)].c_str(), v.onset,
        v.onset - from, v.whole.text.c_str());
    for (const std::string& fault : v.faults)
        std::printf("fail: %s\n", fault.c_str());
    if (v.status() == 3) {
        for (const std::string& fault : v.owed)
            std::printf("owed to drop-outs: %s\n", fault.c_str());
        std::printf("moved %.1f ms\n", v.whole.movedMs);
    }
    return v.status();
}

int sounding(const Signal& recording, int rate, double from)
{
    const std::optional<sc::Sounding> found = sc::sounding(recording, rate, from);
    if (!found) {
        std::printf("silent\n");
        return 1;
    }
    std::printf("start %.4f held %.4f\n", found->start, found->held);
    return 0;
}

int follow(const Signal& recording, int rate, const char* referencePath, double from, double to)
{
    const sc::Followed found
        = sc::follow(recording, rate, readReference(referencePath, rate), from, to);
    std::printf("onset %.4f score %.4f level %.4f\n", found.onset, found.score, found.level);
    if (found.movedWhole) {
        const double ms = 1000.0 * static_cast<double>(std::abs(found.shift)) / rate;
        std::printf("drop-out before the window: the whole window %.1f ms %s, score %.4f there\n",
            ms, found.shift >= 0 ? "late" : "early", found.shiftedScore);
        std::printf("moved %.1f ms\n", ms);
        return 0;
    }
    const sc::Continuity& within = found.within;
    if (within.dropouts > 0)
        std::printf("%s\n", within.text.c_str());
    if (within.dropouts > 0 && within.whole)
        std::printf("moved %.1f ms\n", within.movedMs);
    return 0;
}

int level(const Signal& recording, int rate)
{
    const sc::Level found = sc::level(recording, rate);
    std::printf("peak %.5f rms %.6f seconds %.3f\n", found.peak, found.rms, found.seconds);
    return 0;
}

int pulses(const Signal& recording, int rate)
{
    const sc::Pulses found = sc::pulses(recording, rate);
    for (const sc::Pulse& run : found.runs)
        std::printf("pulse %.4f %.6f\n", run.start, run.area);
    std::printf("total %.6f %zu\n", found.total, found.runs.size());
    return 0;
}

int onsets(const Signal& recording, int rate, double minGap)
{
    for (double start : sc::onsets(sc::pulses(recording, rate), minGap))
        std::printf("%.4f\n", start);
    return 0;
}

// The pulse file as it is, every channel: a stereo recording holds both.
int hits(const Signal& recording, int rate, const char* pulsePath)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(pulsePath, SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "audiocheck: cannot read %s: %s\n", pulsePath, sf_strerror(nullptr));
        return 2;
    }
    Signal pulse(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_double(file, pulse.data(), info.frames);
    sf_close(file);
    if (read != info.frames) {
        std::fprintf(stderr, "audiocheck: %s is cut short\n", pulsePath);
        return 2;
    }
    const sc::Hits found = sc::hits(recording, rate, pulse, info.samplerate);
    std::printf("hits %.0f unit %.6f total %.6f\n", found.count, found.unit, found.total);
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
            "usage: audiocheck identify|expect|sounding|quiet|follow|level|pulses|onsets|hits "
            "REC RATE ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const Signal recording = readRecording(argv[2]);
    const int rate = std::atoi(argv[3]);
    if (mode == "identify" && argc >= 5)
        return identify(recording, rate, argc - 4, argv + 4);
    if (mode == "expect" && argc >= 8)
        return expect(
            recording, rate, std::atof(argv[4]), std::atof(argv[5]), argv[6], argc - 7, argv + 7);
    if (mode == "sounding" && argc == 5)
        return sounding(recording, rate, std::atof(argv[4]));
    if (mode == "quiet" && argc == 5)
        return sc::quiet(recording, rate, std::atof(argv[4])) ? 0 : 1;
    if (mode == "follow" && argc == 7)
        return follow(recording, rate, argv[4], std::atof(argv[5]), std::atof(argv[6]));
    if (mode == "level")
        return level(recording, rate);
    if (mode == "pulses")
        return pulses(recording, rate);
    if (mode == "onsets" && argc == 5)
        return onsets(recording, rate, std::atof(argv[4]));
    if (mode == "hits" && argc == 5)
        return hits(recording, rate, argv[4]);
    std::fprintf(stderr, "audiocheck: bad arguments\n");
    return 2;
}
