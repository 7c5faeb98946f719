// Reads the demo kits back from disk, prints what each file measures, and checks that each
// sounds like its instrument, that the kits differ, and that the end-to-end tests can tell
// every sample from the others of its kit. It shares no code with the synthesizer on purpose:
// it must catch the synthesizer's mistakes, not repeat them.
//
//   tamborel-kitcheck KITS-FOLDER
#include "tests/support/dsp/Fft.h"
#include "tests/support/dsp/Match.h"
#include "tests/support/dsp/Resample.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numbers>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kits = { "acoustic", "rock", "metal" };
const std::vector<std::string> files
    = { "Bass.wav", "Snare.wav", "Tom1.wav", "Tom2.wav", "FloorTom.wav", "HiHat.wav", "OHiHat.wav",
          "Ride.wav", "RideCup.wav", "Crash.wav", "China.wav", "Splash.wav" };
const std::set<std::string> drumFiles
    = { "Bass.wav", "Snare.wav", "Tom1.wav", "Tom2.wav", "FloorTom.wav" };

struct Audio {
    int rate = 0;
    int channels = 0;
    int subtype = 0;
    std::vector<std::vector<double>> ch;
    std::size_t frames() const { return ch.empty() ? 0 : ch[0].size(); }
    std::vector<double> mono() const
    {
        std::vector<double> m(frames(), 0.0);
        for (const auto& c : ch)
            for (std::size_t i = 0; i < m.size(); ++i)
                m[i] += c[i] / static_cast<double>(ch.size());
        return m;
    }
};

bool load(const fs::path& path, Audio& a)
{
    SF_INFO info {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return false;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.subtype = info.format & SF_FORMAT_SUBMASK;
    std::vector<double> inter(static_cast<std::size_t>(info.frames * info.channels));
    // Read raw values: a float file above full scale must show as such.
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    const sf_count_t got = sf_readf_double(f, inter.data(), info.frames);
    sf_close(f);
    a.ch.assign(static_cast<std::size_t>(info.channels),
        std::vector<double>(static_cast<std::size_t>(got)));
    for (sf_count_t i = 0; i < got; ++i)
        for (int c = 0; c < info.channels; ++c)
            a.ch[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)]
                = inter[static_cast<std::size_t>(i * info.channels + c)];
    return got == info.frames;
}

double db(double x)
{
    return 20.0 * std::log10(std::max(x, 1e-12));
}

// Second-order filter for measurements only.
struct Filter {
    double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
    static Filter make(double b0, double b1, double b2, double a0, double a1, double a2)
    {
        return { b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0 };
    }
    static Filter lowPass(double rate, double hz)
    {
        const double w = 2 * std::numbers::pi * hz / rate, c = std::cos(w),
                     a = std::sin(w) / std::numbers::sqrt2;
        return make((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + a, -2 * c, 1 - a);
    }
    static Filter highPass(double rate, double hz, double q = 1 / std::numbers::sqrt2)
    {
        const double w = 2 * std::numbers::pi * hz / rate, c = std::cos(w),
                     a = std::sin(w) / (2 * q);
        return make((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + a, -2 * c, 1 - a);
    }
    static Filter highShelf(double rate, double hz, double gainDb)
    {
        const double A = std::pow(10.0, gainDb / 40), w = 2 * std::numbers::pi * hz / rate,
                     c = std::cos(w), s = 2 * std::sqrt(A) * std::sin(w) / std::numbers::sqrt2;
        return make(A * ((A + 1) + (A - 1) * c + s), -2 * A * ((A - 1) + (A + 1) * c),
            A * ((A + 1) + (A - 1) * c - s), (A + 1) - (A - 1) * c + s, 2 * ((A - 1) - (A + 1) * c),
            (A + 1) - (A - 1) * c - s);
    }
    double operator()(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Power spectrum of a Hann-windowed stretch, zero-padded to 'size'.
std::vector<double> spectrum(
    const std::vector<double>& x, std::size_t from, std::size_t count, std::size_t size)
{
    std::vector<std::complex<double>> buf(size);
    count = std::min({ count, x.size() > from ? x.size() - from : 0, size });
    for (std::size_t i = 0; i < count; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / count);
        buf[i] = x[from + i] * w;
    }
    dsp::fft(buf);
    std::vector<double> p(size / 2);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = std::norm(buf[i]);
    return p;
}

// Share of the energy above 'cut' Hz in a stretch of the sound, 0..1.
double shareAbove(const std::vector<double>& x, double rate, double seconds, double cut)
{
    const std::size_t size = 1 << 15;
    const auto p = spectrum(x, 0, static_cast<std::size_t>(seconds * rate), size);
    double hi = 0, total = 0;
    for (std::size_t i = 1; i < p.size(); ++i) {
        total += p[i];
        if (i * rate / size > cut)
            hi += p[i];
    }
    return total > 0 ? hi / total : 0;
}

// Frequency of the strongest spectral peak between lo and hi, refined between bins.
double strongest(const std::vector<double>& x, double rate, std::size_t from, std::size_t count,
    double lo, double hi)
{
    const std::size_t size = 1 << 17;
    const auto p = spectrum(x, from, count, size);
    const double bin = rate / size;
    std::size_t best = 0;
    for (auto i = static_cast<std::size_t>(lo / bin); i < static_cast<std::size_t>(hi / bin); ++i)
        if (p[i] > p[best])
            best = i;
    if (best == 0 || best + 1 >= p.size())
        return best * bin;
    const double l = std::log(p[best - 1] + 1e-30), c = std::log(p[best] + 1e-30),
                 r = std::log(p[best + 1] + 1e-30);
    const double den = l - 2 * c + r;
    return (best + (den != 0 ? 0.5 * (l - r) / den : 0.0)) * bin;
}

// Pitch over time from the zero crossings of the signal low-passed just above the pitch.
// Returns {early, late}: from the first half-periods after the hit, and the median period
// over 150 ms from 'settle' seconds on.
std::pair<double, double> pitchTrack(
    const std::vector<double>& x, double rate, double cutoff, double settle)
{
    // Filtered forwards and backwards: no phase shift, so a sweeping pitch is not smeared.
    std::vector<double> y = x;
    for (int pass = 0; pass < 4; ++pass) {
        Filter f = Filter::lowPass(rate, cutoff);
        for (double& v : y)
            v = f(v);
        std::reverse(y.begin(), y.end());
    }
    // Start at the hit itself, not at the filter's faint run-up to it.
    double peak = 0;
    for (double v : y)
        peak = std::max(peak, std::abs(v));
    std::size_t onset = 0;
    while (onset < y.size() && std::abs(y[onset]) < 0.1 * peak)
        ++onset;
    std::vector<double> z; // zero crossings either way, interpolated
    for (std::size_t i = std::max<std::size_t>(onset, 1); i < y.size(); ++i)
        if ((y[i - 1] < 0) != (y[i] < 0) && y[i - 1] != y[i])
            z.push_back(i - 1 + y[i - 1] / (y[i - 1] - y[i]));
    if (z.size() < 4)
        return { 0, 0 };
    const double early = rate / (z[2] - z[0]);
    std::vector<double> late;
    for (std::size_t i = 2; i < z.size(); ++i)
        if (z[i - 2] > settle * rate && z[i] < (settle + 0.15) * rate)
            late.push_back(rate / (z[i] - z[i - 2]));
    if (late.empty())
        return { early, 0 };
    std::nth_element(late.begin(), late.begin() + late.size() / 2, late.end());
    return { early, late[late.size() / 2] };
}

struct Measures {
    std::string format;
    double seconds = 0, peakDb = -200, rmsDb = -200, loudness = -200, dc = 0, first = 0;
    double tailDb = 0; // level 60-10 ms before the end against the peak
    bool endsInZeros = false;
    int clipped = 0;
    double peakAt = 0; // seconds
    double onsetDb = 0; // loudest sample of the first 15 ms against the peak
    double ring = 0; // seconds until 40 dB below the loudest moment
    double centroid = 0; // Hz, first 300 ms
    double attackHigh = 0; // energy above 2 kHz in the first 20 ms, 0..1
    double highShare = 0; // energy above 2 kHz in the first 200 ms, 0..1
    double crestDb = 0; // peak against RMS of the first 300 ms
    double corr = 1, sideDb = -200; // stereo correlation and side-to-mid energy
    double balanceDb = 0; // left against right
    double pitchEarly = 0, pitchLate = 0;
};

std::string formatName(const Audio& a)
{
    const char* enc = a.subtype == SF_FORMAT_PCM_16 ? "PCM16"
        : a.subtype == SF_FORMAT_PCM_24             ? "PCM24"
        : a.subtype == SF_FORMAT_FLOAT              ? "FLOAT"
                                                    : "other";
    return std::string(enc) + " " + std::to_string(a.channels) + "ch " + std::to_string(a.rate);
}

Measures measure(const Audio& a, const std::string& file)
{
    Measures m;
    const double rate = a.rate;
    const std::size_t n = a.frames();
    m.format = formatName(a);
    m.seconds = n / rate;
    const auto mono = a.mono();

    double peak = 0, sum = 0;
    std::size_t peakIndex = 0;
    for (const auto& c : a.ch) {
        double mean = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double v = std::abs(c[i]);
            if (v > peak) {
                peak = v;
                peakIndex = i;
            }
            sum += c[i] * c[i];
            mean += c[i];
            if (v >= 0.9999)
                ++m.clipped;
        }
        m.dc = std::max(m.dc, std::abs(mean / n));
        m.first = std::max(m.first, std::abs(c[0]));
    }
    m.peakDb = db(peak);
    m.peakAt = peakIndex / rate;
    double onset = 0;
    for (const auto& c : a.ch)
        for (std::size_t i = 0; i < std::min(n, static_cast<std::size_t>(0.015 * rate)); ++i)
            onset = std::max(onset, std::abs(c[i]));
    m.onsetDb = db(onset) - m.peakDb;
    m.rmsDb = 10 * std::log10(std::max(sum / (n * a.ch.size()), 1e-24));

    // Short-term loudness, K-weighted roughly: a high shelf and a low cut, loudest 200 ms. A
    // mono file counts as played on both speakers.
    {
        std::vector<std::vector<double>> k = a.ch;
        if (k.size() == 1)
            k.push_back(k[0]);
        for (auto& c : k) {
            Filter shelf = Filter::highShelf(rate, 1500, 4), cut = Filter::highPass(rate, 38, 0.5);
            for (double& v : c)
                v = cut(shelf(v));
        }
        const auto win = static_cast<std::size_t>(0.2 * rate),
                   hop = static_cast<std::size_t>(0.05 * rate);
        double best = 0;
        for (std::size_t at = 0; at == 0 || at + win <= n; at += hop) {
            double ms = 0;
            for (const auto& c : k)
                for (std::size_t i = at; i < std::min(at + win, n); ++i)
                    ms += c[i] * c[i];
            best = std::max(best, ms / win);
        }
        m.loudness = -0.691 + 10 * std::log10(std::max(best, 1e-24));
    }

    // Decay: 10 ms RMS frames.
    const auto frame = static_cast<std::size_t>(0.01 * rate);
    std::vector<double> env;
    for (std::size_t at = 0; at + frame <= n; at += frame) {
        double ms = 0;
        for (std::size_t i = at; i < at + frame; ++i)
            ms += mono[i] * mono[i];
        env.push_back(10 * std::log10(ms / frame + 1e-30));
    }
    const double loudest = *std::max_element(env.begin(), env.end());
    std::size_t last = 0;
    for (std::size_t i = 0; i < env.size(); ++i)
        if (env[i] > loudest - 40)
            last = i;
    m.ring = (last + 1) * 0.01;

    const auto endZeros = static_cast<std::size_t>(0.01 * rate);
    m.endsInZeros = true;
    for (const auto& c : a.ch)
        for (std::size_t i = n - std::min(endZeros, n); i < n; ++i)
            m.endsInZeros &= c[i] == 0.0;
    double tail = 0;
    for (const auto& c : a.ch)
        for (std::size_t i = n - std::min(n, static_cast<std::size_t>(0.06 * rate));
             i < n - std::min(n, endZeros); ++i)
            tail = std::max(tail, std::abs(c[i]));
    m.tailDb = db(tail) - m.peakDb;

    {
        const auto count = static_cast<std::size_t>(0.3 * rate);
        const auto p = spectrum(mono, 0, count, 1 << 15);
        double w = 0, total = 0;
        for (std::size_t i = 1; i < p.size(); ++i) {
            w += p[i] * i * rate / (1 << 15);
            total += p[i];
        }
        m.centroid = total > 0 ? w / total : 0;
        const auto hit = std::min(n, static_cast<std::size_t>(0.3 * rate));
        double ms = 0;
        for (std::size_t i = 0; i < hit; ++i)
            ms += mono[i] * mono[i];
        m.crestDb = db(peak) - 10 * std::log10(ms / hit + 1e-30);
    }
    m.attackHigh = shareAbove(mono, rate, 0.02, 2000);
    m.highShare = shareAbove(mono, rate, 0.2, 2000);
    if (a.ch.size() == 2) {
        double ll = 0, rr = 0, lr = 0, mid = 0, side = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double l = a.ch[0][i], r = a.ch[1][i];
            ll += l * l;
            rr += r * r;
            lr += l * r;
            mid += (l + r) * (l + r);
            side += (l - r) * (l - r);
        }
        m.corr = lr / std::sqrt(ll * rr + 1e-30);
        m.sideDb = 10 * std::log10((side + 1e-30) / (mid + 1e-30));
        m.balanceDb = 10 * std::log10((ll + 1e-30) / (rr + 1e-30));
    }
    if (drumFiles.count(file)) {
        // Settled pitch from the spectrum, then the bend from zero crossings around it.
        const bool kick = file == "Bass.wav";
        const double lo = kick ? 30 : file == "Snare.wav" ? 120 : 50;
        const double hi = kick ? 120 : 400;
        const double settleAt = kick ? 0.12 : 0.15;
        const double settled = strongest(mono, rate, static_cast<std::size_t>(settleAt * rate),
            static_cast<std::size_t>(0.25 * rate), lo, hi);
        if (kick) {
            // The kick's sweep is wide and fast: follow it wave by wave.
            const auto [early, late] = pitchTrack(mono, rate, 3.0 * settled, settleAt);
            m.pitchEarly = early;
            m.pitchLate = late > 0 ? late : settled;
        } else {
            // A tom's or snare's bend is small and the stick's thump crowds the first waves, so
            // compare the spectral peak of the first 50 ms with the settled one.
            m.pitchEarly = strongest(mono, rate, 0, static_cast<std::size_t>(0.05 * rate),
                0.95 * settled, 1.45 * settled);
            m.pitchLate = settled;
        }
    }
    return m;
}

struct Checker {
    int passed = 0, failed = 0;
    void operator()(bool ok, const std::string& what)
    {
        if (ok) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAIL %s\n", what.c_str());
        }
    }
};

std::string fmt(const char* f, double a, double b = 0, double c = 0)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, f, a, b, c);
    return buf;
}

struct Range {
    double lo, hi;
};
// Lengths a drummer would expect from each instrument, in seconds.
const std::map<std::string, Range> lengths = {
    { "Bass.wav", { 0.4, 0.9 } },
    { "Snare.wav", { 0.35, 1.0 } },
    { "Tom1.wav", { 0.6, 2.0 } },
    { "Tom2.wav", { 0.7, 2.2 } },
    { "FloorTom.wav", { 0.8, 2.5 } },
    { "HiHat.wav", { 0.12, 0.35 } },
    { "OHiHat.wav", { 0.8, 2.5 } },
    { "Ride.wav", { 2.5, 4.0 } },
    { "RideCup.wav", { 2.0, 4.0 } },
    { "Crash.wav", { 3.0, 4.5 } },
    { "China.wav", { 2.0, 4.0 } },
    { "Splash.wav", { 0.8, 2.0 } },
};

std::string expectedFormat(const std::string& kit, const std::string& file)
{
    if (kit == "acoustic")
        return "PCM16 2ch 44100";
    if (kit == "rock")
        return "PCM24 2ch 48000";
    return drumFiles.count(file) ? "PCM16 1ch 44100" : "FLOAT 2ch 48000";
}

// Sounds under names (a kit's files, or one file's kits), as identification hears them: mono
// at its rate.
using Sounds = std::map<std::string, std::vector<double>>;

struct Likeness {
    std::string played, other;
    double score = 0;
};

// Each sound played alone, with silence around it as in a recording, and every other sound
// matched against it: the score identification would give that other sound. Closest first.
std::vector<Likeness> likenesses(const Sounds& sounds)
{
    const auto opening = static_cast<std::size_t>(dsp::openingSeconds * dsp::matchRate);
    std::vector<Likeness> all;
    for (const auto& [played, sound] : sounds) {
        std::vector<double> recording(opening, 0.0);
        recording.insert(recording.end(), sound.begin(), sound.end());
        recording.resize(recording.size() + opening, 0.0);
        const dsp::Matcher matcher(recording, opening);
        for (const auto& [other, reference] : sounds) {
            if (other == played)
                continue;
            all.push_back({ played, other, matcher.best(reference, opening).score });
        }
    }
    std::sort(all.begin(), all.end(),
        [](const Likeness& a, const Likeness& b) { return a.score > b.score; });
    return all;
}

// Prints the closest pair and checks that no pair comes closer than the limit.
void checkApart(Checker& check, const std::string& what, const Sounds& sounds, double limit)
{
    const auto pairs = likenesses(sounds);
    if (pairs.empty())
        return;
    std::printf("%s: closest pair: %s scores %.3f when %s plays (at most %.2f)\n", what.c_str(),
        pairs.front().other.c_str(), pairs.front().score, pairs.front().played.c_str(), limit);
    std::string alike;
    for (const Likeness& p : pairs)
        if (p.score > limit)
            alike += fmt(" %.3f", p.score) + " for " + p.other + " when " + p.played + " plays;";
    check(alike.empty(), what + ": every pair told apart, at most " + fmt("%.2f", limit) + alike);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamborel-kitcheck KITS-FOLDER\n");
        return 2;
    }
    const fs::path root(argv[1]);
    Checker check;

    check(fs::is_directory(root / "custom") && fs::is_empty(root / "custom"),
        "custom/ exists and is empty");

    std::map<std::string, std::map<std::string, Measures>> all;
    std::map<std::string, Sounds> heard; // by kit, then file
    std::printf("%-21s %-16s %6s %7s %7s %6s %5s %8s %6s %6s %6s %7s %6s %6s %5s %13s\n", "file",
        "format", "len s", "peak dB", "rms dB", "loud", "crest", "dc", "first", "tail", "ring s",
        "cent Hz", "hf", "atk hf", "corr", "pitch Hz");
    for (const std::string& kit : kits) {
        std::set<std::string> present;
        if (fs::is_directory(root / kit))
            for (const auto& entry : fs::directory_iterator(root / kit))
                present.insert(entry.path().filename().string());
        check(present == std::set<std::string>(files.begin(), files.end()),
            kit + ": holds exactly the twelve sample files");
        for (const std::string& file : files) {
            Audio a;
            if (!load(root / kit / file, a) || a.frames() < 100) {
                check(false, kit + "/" + file + ": readable");
                continue;
            }
            const Measures m = measure(a, file);
            all[kit][file] = m;
            heard[kit][file] = dsp::resample(a.mono(), a.rate, dsp::matchRate);
            std::printf(
                "%-21s %-16s %6.3f %7.2f %7.2f %6.1f %5.1f %8.1e %6.0e %6.0f %6.2f %7.0f %6.3f "
                "%6.3f %5.2f %13s\n",
                (kit + "/" + file).c_str(), m.format.c_str(), m.seconds, m.peakDb, m.rmsDb,
                m.loudness, m.crestDb, m.dc, m.first, m.tailDb, m.ring, m.centroid, m.highShare,
                m.attackHigh, m.corr,
                m.pitchLate > 0 ? fmt("%.0f->%.0f", m.pitchEarly, m.pitchLate).c_str() : "");

            const std::string at = kit + "/" + file + ": ";
            check(m.format == expectedFormat(kit, file),
                at + "format " + m.format + ", expected " + expectedFormat(kit, file));
            check(m.clipped == 0 && m.peakDb <= -0.5,
                at + fmt("no clipping (peak %.2f dBFS)", m.peakDb));
            check(m.peakDb >= -14, at + fmt("not too quiet (peak %.2f dBFS)", m.peakDb));
            check(m.dc < 1e-3, at + fmt("no DC offset (%.2e)", m.dc));
            check(m.first < 0.01, at + fmt("starts from silence (first sample %.2e)", m.first));
            check(m.onsetDb > -3,
                at
                    + fmt("attack is immediate (first 15 ms reach %.1f dB of the peak at %.3f s)",
                        m.onsetDb, m.peakAt));
            check(m.endsInZeros && m.tailDb < -60,
                at + fmt("decays into digital silence (tail %.1f dB under the peak)", m.tailDb));
            const Range len = lengths.at(file);
            check(m.seconds >= len.lo && m.seconds <= len.hi,
                at + fmt("length %.2f s within %.2f..%.2f", m.seconds, len.lo, len.hi));
            if (a.channels == 2) {
                if (file == "Bass.wav" || file == "Snare.wav")
                    check(m.corr > 0.75 && std::abs(m.balanceDb) < 1,
                        at + fmt("centred (corr %.2f, balance %.2f dB)", m.corr, m.balanceDb));
                if (!drumFiles.count(file))
                    check(m.corr > 0.2 && m.corr < 0.97,
                        at + fmt("wide but mono-safe (corr %.2f)", m.corr));
            }
        }
    }

    for (const std::string& kit : kits) {
        if (all[kit].size() != files.size())
            continue;
        auto& k = all[kit];
        const std::string at = kit + ": ";
        double loudest = -200;
        for (const auto& [file, m] : k)
            loudest = std::max(loudest, m.peakDb);
        check(loudest >= -3 && loudest <= -0.9,
            at + fmt("loudest file peaks at %.2f dBFS (-3..-0.9)", loudest));

        const Measures &kick = k["Bass.wav"], &snare = k["Snare.wav"];
        check(kick.pitchLate >= 40 && kick.pitchLate <= 75,
            at + fmt("kick settles low (%.1f Hz)", kick.pitchLate));
        check(kick.pitchEarly >= 1.6 * kick.pitchLate && kick.pitchEarly <= 250,
            at + fmt("kick pitch drops fast (%.0f -> %.0f Hz)", kick.pitchEarly, kick.pitchLate));
        check(kick.ring >= 0.15 && kick.ring <= 0.7, at + fmt("kick rings %.2f s", kick.ring));
        check(snare.pitchLate >= 170 && snare.pitchLate <= 320,
            at + fmt("snare head tone %.0f Hz", snare.pitchLate));
        check(snare.highShare > 0.15,
            at + fmt("snare wires are heard (%.2f of the energy above 2 kHz)", snare.highShare));

        const double t1 = k["Tom1.wav"].pitchLate, t2 = k["Tom2.wav"].pitchLate,
                     t3 = k["FloorTom.wav"].pitchLate;
        check(t1 > 1.15 * t2 && t2 > 1.15 * t3,
            at + fmt("toms descend clearly (%.0f, %.0f, %.0f Hz)", t1, t2, t3));
        for (const char* tom : { "Tom1.wav", "Tom2.wav", "FloorTom.wav" }) {
            const Measures& m = k[tom];
            check(m.pitchEarly > 1.05 * m.pitchLate && m.pitchEarly < 1.6 * m.pitchLate,
                at + tom
                    + fmt(
                        " bends down at the attack (%.0f -> %.0f Hz)", m.pitchEarly, m.pitchLate));
        }
        check(t3 > 60 && t1 < 260, at + fmt("tom range is a tom's (%.0f..%.0f Hz)", t3, t1));

        const Measures &hat = k["HiHat.wav"], &open = k["OHiHat.wav"], &ride = k["Ride.wav"],
                       &cup = k["RideCup.wav"], &crash = k["Crash.wav"], &china = k["China.wav"],
                       &splash = k["Splash.wav"];
        check(hat.ring <= 0.25, at + fmt("closed hat is short (%.2f s)", hat.ring));
        check(open.ring >= 3 * hat.ring, at + fmt("open hat rings on (%.2f s)", open.ring));
        check(hat.centroid > 5000 && open.centroid > 5000,
            at + fmt("hats are bright (%.0f, %.0f Hz)", hat.centroid, open.centroid));
        check(crash.ring >= 1.5 && crash.ring > splash.ring && ride.ring > 1.5,
            at
                + fmt("crash (%.2f s) and ride (%.2f s) are long, the splash (%.2f s) shorter",
                    crash.ring, ride.ring, splash.ring));
        check(china.centroid < crash.centroid,
            at
                + fmt("china is darker than the crash (%.0f < %.0f Hz)", china.centroid,
                    crash.centroid));
        check(cup.centroid < ride.centroid,
            at
                + fmt("cup's bell sits below the ride's ping (%.0f < %.0f Hz)", cup.centroid,
                    ride.centroid));
        const double drumsLoud = std::max(kick.loudness, snare.loudness);
        for (const char* name : { "HiHat.wav", "OHiHat.wav", "Ride.wav", "RideCup.wav", "Crash.wav",
                 "China.wav", "Splash.wav" })
            check(k[name].loudness <= drumsLoud - 1,
                at + name
                    + fmt(
                        " sits under the drums (%.1f against %.1f)", k[name].loudness, drumsLoud));
    }

    if (all["acoustic"].size() == files.size() && all["rock"].size() == files.size()
        && all["metal"].size() == files.size()) {
        auto& ac = all["acoustic"];
        auto& ro = all["rock"];
        auto& me = all["metal"];
        check(me["Bass.wav"].attackHigh > 2 * ac["Bass.wav"].attackHigh
                && me["Bass.wav"].attackHigh > 2 * ro["Bass.wav"].attackHigh,
            fmt("metal kick clicks most (%.3f against %.3f, %.3f of its attack above 2 kHz)",
                me["Bass.wav"].attackHigh, ac["Bass.wav"].attackHigh, ro["Bass.wav"].attackHigh));
        check(
            me["Bass.wav"].ring < ac["Bass.wav"].ring && me["Bass.wav"].ring < ro["Bass.wav"].ring,
            fmt("metal kick is the tightest (%.2f s)", me["Bass.wav"].ring));
        const double kicks[]
            = { ac["Bass.wav"].loudness, ro["Bass.wav"].loudness, me["Bass.wav"].loudness };
        check(*std::max_element(kicks, kicks + 3) - *std::min_element(kicks, kicks + 3) < 2.5,
            fmt("the kits play at matching levels (kicks at %.1f, %.1f, %.1f)", kicks[0], kicks[1],
                kicks[2]));
        check(me["Snare.wav"].pitchLate > 1.15 * ac["Snare.wav"].pitchLate
                && me["Snare.wav"].pitchLate > 1.15 * ro["Snare.wav"].pitchLate,
            fmt("metal snare is tuned highest (%.0f Hz)", me["Snare.wav"].pitchLate));
        check(ro["FloorTom.wav"].pitchLate < 0.9 * ac["FloorTom.wav"].pitchLate
                && ro["Tom1.wav"].pitchLate < 0.9 * ac["Tom1.wav"].pitchLate,
            "rock toms are deeper than acoustic ones");
        // A snare hit is mostly noise, whose crest barely moves under compression; the pitched
        // drums show it, on average over the four.
        auto pitchedCrest = [](std::map<std::string, Measures>& k) {
            return (k["Bass.wav"].crestDb + k["Tom1.wav"].crestDb + k["Tom2.wav"].crestDb
                       + k["FloorTom.wav"].crestDb)
                / 4;
        };
        check(pitchedCrest(ro) < pitchedCrest(ac) - 1.0,
            fmt("rock drums are more compressed (kick and toms crest %.1f against %.1f dB)",
                pitchedCrest(ro), pitchedCrest(ac)));
        check(ac["Snare.wav"].ring > me["Snare.wav"].ring
                && ro["Snare.wav"].ring > me["Snare.wav"].ring,
            "acoustic and rock snares ring longer than the metal one");
        check(me["Crash.wav"].centroid > ac["Crash.wav"].centroid,
            fmt("metal cymbals are brighter (crash %.0f against %.0f Hz)", me["Crash.wav"].centroid,
                ac["Crash.wav"].centroid));
    }

    // Told apart by the end-to-end tests' measure: the played sample must lead the runner-up
    // of its kit clearly, and a drum of one kit must not pass for another kit's.
    for (const std::string& kit : kits)
        if (heard[kit].size() == files.size())
            checkApart(check, kit, heard[kit], dsp::kitLikenessLimit);
    for (const std::string& file : files) {
        Sounds kitsOf;
        for (const std::string& kit : kits)
            if (heard[kit].count(file))
                kitsOf[kit] = heard[kit][file];
        checkApart(check, file + " across the kits", kitsOf, dsp::otherKitLimit);
    }
    std::printf("%d passed, %d failed\n", check.passed, check.failed);
    return check.failed == 0 ? 0 : 1;
}
