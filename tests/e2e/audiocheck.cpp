// Looks at what the program played: a raw recording (signed 16-bit little-endian mono, as
// parec writes it) compared with the sample files that should be in it.
//
//   audiocheck identify REC RATE REF...     which reference the recording's sound is, by
//                                           normalised cross-correlation of its onset
//   audiocheck follow REC RATE REF FROM TO  whether REF, aligned at its onset, still plays in
//                                           the window FROM..TO seconds after that onset
//   audiocheck level REC RATE               peak and RMS of the recording
//   audiocheck length REF                   a sample file's length in seconds
#include "tools/dsp/Fft.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
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
    if (info.samplerate != rate) {
        const double ratio = double(rate) / info.samplerate;
        std::vector<float> converted(static_cast<std::size_t>(mono.size() * ratio) + 16);
        SRC_DATA data {};
        data.data_in = mono.data();
        data.input_frames = static_cast<long>(mono.size());
        data.data_out = converted.data();
        data.output_frames = static_cast<long>(converted.size());
        data.src_ratio = ratio;
        src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1);
        converted.resize(static_cast<std::size_t>(data.output_frames_gen));
        mono.swap(converted);
    }
    return Signal(mono.begin(), mono.end());
}

struct Match {
    double score = 0; // normalised correlation, 1 for a perfect copy
    long lag = 0; // where in the recording the reference starts
};

// The best normalised cross-correlation of the reference's first `length` samples against
// every position of the recording.
Match bestMatch(const Signal& recording, const Signal& reference, std::size_t length)
{
    length = std::min(length, reference.size());
    if (recording.size() < length || length == 0)
        return {};
    std::size_t n = 1;
    while (n < recording.size() + length)
        n <<= 1;
    std::vector<std::complex<double>> a(n), b(n);
    for (std::size_t i = 0; i < recording.size(); ++i)
        a[i] = recording[i];
    for (std::size_t i = 0; i < length; ++i)
        b[i] = reference[i];
    dsp::fft(a);
    dsp::fft(b);
    for (std::size_t i = 0; i < n; ++i)
        a[i] *= std::conj(b[i]);
    dsp::fft(a, true);

    double refEnergy = 0;
    for (std::size_t i = 0; i < length; ++i)
        refEnergy += reference[i] * reference[i];
    std::vector<double> cumulative(recording.size() + 1, 0.0);
    for (std::size_t i = 0; i < recording.size(); ++i)
        cumulative[i + 1] = cumulative[i] + recording[i] * recording[i];

    Match best;
    for (std::size_t lag = 0; lag + length <= recording.size(); ++lag) {
        const double energy = cumulative[lag + length] - cumulative[lag];
        if (energy <= 1e-9 || refEnergy <= 1e-12)
            continue;
        const double score = a[lag].real() / std::sqrt(energy * refEnergy);
        if (score > best.score)
            best = { score, static_cast<long>(lag) };
    }
    return best;
}

std::string baseName(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

int identify(const Signal& recording, int rate, int count, char** references)
{
    const auto window = static_cast<std::size_t>(0.4 * rate);
    int bestIndex = -1;
    Match best, second;
    for (int i = 0; i < count; ++i) {
        const Match m = bestMatch(recording, readReference(references[i], rate), window);
        std::printf("candidate %s score %.4f onset %.4f\n", baseName(references[i]).c_str(),
            m.score, double(m.lag) / rate);
        if (m.score > best.score) {
            second = best;
            best = m;
            bestIndex = i;
        } else if (m.score > second.score) {
            second = m;
        }
    }
    if (bestIndex < 0) {
        std::printf("best none\n");
        return 1;
    }
    std::printf("best %s score %.4f second %.4f onset %.4f\n",
        baseName(references[bestIndex]).c_str(), best.score, second.score, double(best.lag) / rate);
    return 0;
}

int follow(const Signal& recording, int rate, const char* referencePath, double from, double to)
{
    const Signal reference = readReference(referencePath, rate);
    const Match onset = bestMatch(recording, reference, static_cast<std::size_t>(0.2 * rate));
    const auto begin = static_cast<std::size_t>(from * rate),
               end = static_cast<std::size_t>(to * rate);
    double dot = 0, recEnergy = 0, refEnergy = 0;
    for (std::size_t i = begin; i < end && i < reference.size(); ++i) {
        const std::size_t at = static_cast<std::size_t>(onset.lag) + i;
        if (at >= recording.size())
            break;
        dot += recording[at] * reference[i];
        recEnergy += recording[at] * recording[at];
        refEnergy += reference[i] * reference[i];
    }
    const double score
        = recEnergy > 0 && refEnergy > 0 ? dot / std::sqrt(recEnergy * refEnergy) : 0;
    std::printf("onset %.4f score %.4f level %.4f\n", double(onset.lag) / rate, score,
        refEnergy > 0 ? std::sqrt(recEnergy / refEnergy) : 0);
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
        std::fprintf(stderr, "usage: audiocheck identify|follow|level REC RATE ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const Signal recording = readRecording(argv[2]);
    const int rate = std::atoi(argv[3]);
    if (mode == "identify" && argc >= 5)
        return identify(recording, rate, argc - 4, argv + 4);
    if (mode == "follow" && argc == 7)
        return follow(recording, rate, argv[4], std::atof(argv[5]), std::atof(argv[6]));
    if (mode == "level")
        return level(recording, rate);
    std::fprintf(stderr, "audiocheck: bad arguments\n");
    return 2;
}
