// What the mix does to the sound: rate conversion (band, precision, no ringing before an
// attack) and the limiter (untouched under full scale, turned down above it), judged on
// rendered buffers.
#include "MixerDriving.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"
#include "tests/support/dsp/Fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <soxr.h>

using namespace audio;

namespace {

constexpr int rate = 48000;
using mixer_test::block;
using mixer_test::side;
constexpr double pi = std::numbers::pi;

AudioFormat floatFormat(int channels, float sampleRate)
{
    return { Encoding::PCM_FLOAT, sampleRate, 32, channels, 4 * channels, false, {} };
}

// The whole sound of samples (interleaved, channels wide), written as the worker writes it.
std::vector<float> play(Mixer& mixer, const AudioFormat& format, const std::vector<float>& samples)
{
    auto line = mixer.createLine();
    line->open(format);
    line->start();
    auto out = mixer_test::playWhole(mixer, static_cast<MixerLine&>(*line),
        reinterpret_cast<const std::byte*>(samples.data()), samples.size() * sizeof(float),
        static_cast<std::size_t>(format.frameSize));
    line->close();
    return out;
}

double rms(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

double db(double ratio)
{
    return 20 * std::log10(ratio);
}

} // namespace

TEST(RateConversionT, KeepsTheTopOfTheBandAndTheLevel)
{
    // A tone at 90% of a 44.1 kHz file's top, and one at 1 kHz, both at half scale.
    for (const double frequency : { 0.9 * 22050, 1000.0 }) {
        SCOPED_TRACE(frequency);
        Mixer mixer(rate);
        std::vector<float> tone(44100);
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<float>(0.5 * std::sin(2 * pi * frequency * i / 44100.0));
        const auto left = side(play(mixer, floatFormat(1, 44100), tone), 0);
        ASSERT_GT(left.size(), 40000u);
        const double level = db(rms(left, 8000, 40000) / (0.5 / std::sqrt(2.0)));
        EXPECT_NEAR(level, 0.0, 0.1) << level << " dB";
    }
}

TEST(RateConversionT, MonoConvertsAsOneChannelToBothSidesWithThePrecisionOfADoubleReference)
{
    // Noise at 44.1 kHz, converted by a line in the worker's pieces, against the same filter
    // run in double precision on the whole sound at once.
    std::mt19937 random(5);
    std::normal_distribution<double> normal(0, 0.2);
    std::vector<double> noise(44100);
    for (auto& x : noise)
        x = std::clamp(normal(random), -0.99, 0.99);
    std::vector<float> input(noise.begin(), noise.end());

    Mixer mixer(rate);
    const auto out = play(mixer, floatFormat(1, 44100), input);
    const auto left = side(out, 0), right = side(out, 1);
    ASSERT_EQ(left, right) << "mono is spread to both sides after conversion";

    std::vector<double> reference(noise.size() * 2);
    std::size_t made = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(
        config::converterQuality | config::converterPhase(44100, rate), SOXR_DOUBLE_PRECISION);
    ASSERT_EQ(soxr_oneshot(44100, rate, 1, std::vector<double>(noise.begin(), noise.end()).data(),
                  noise.size(), nullptr, reference.data(), reference.size(), &made, &io, &quality,
                  nullptr),
        nullptr);
    reference.resize(made);
    // The line's output starts where the sound starts.
    std::size_t first = 0;
    while (first < left.size() && left[first] == 0.0f)
        ++first;
    ASSERT_GE(left.size(), first + 40000);
    double signal = 0, error = 0;
    for (std::size_t i = 1000; i < 40000; ++i) {
        signal += reference[i] * reference[i];
        const double e = left[first + i] - reference[i];
        error += e * e;
    }
    const double snr = 10 * std::log10(signal / error);
    std::printf("conversion SNR against a double-precision reference: %.1f dB\n", snr);
    EXPECT_GE(snr, 120.0);
}

// Where the band kept ends within hearing (files below 40 kHz), a click after silence only
// rises to its peak, with no ringing before it. From 44.1 kHz the filter is linear in phase
// and rings on both sides, only at the top of the band, out of hearing: nothing below 16 kHz
// before the click.
TEST(RateConversionT, NoRingingBeforeAnAttackThatAListenerCouldHear)
{
    for (const float fileRate : { 16000.0f, 8000.0f, 44100.0f }) {
        SCOPED_TRACE(fileRate);
        std::vector<float> click(static_cast<std::size_t>(fileRate / 10), 0.0f);
        click[click.size() / 2] = 0.9f;
        Mixer mixer(rate);
        const auto left = side(play(mixer, floatFormat(1, fileRate), click), 0);
        const auto peak = static_cast<std::size_t>(
            std::max_element(left.begin(), left.end(),
                [](float a, float b) { return std::fabs(a) < std::fabs(b); })
            - left.begin());
        const float top = left[peak];
        ASSERT_GT(std::fabs(top), 0.1f);
        ASSERT_GT(peak, 1100u);
        if (fileRate < 40000) {
            // Anything above -80 dB before the peak is the click's own rise: one sign, growing.
            for (std::size_t i = peak - 1024; i < peak; ++i) {
                if (std::fabs(left[i]) <= std::fabs(top) * 1e-4f)
                    continue;
                ASSERT_GT(left[i] * top, 0.0f) << peak - i << " frames before the peak";
                ASSERT_LE(std::fabs(left[i]), std::fabs(left[i + 1]))
                    << peak - i << " frames before the peak";
            }
            continue;
        }
        // The 1024 frames up to a quarter of a millisecond before the peak, through a Hann
        // window so that nothing leaks down from the top of the band.
        std::vector<std::complex<double>> before(1024);
        const std::size_t n = before.size();
        for (std::size_t i = 0; i < n; ++i)
            before[i] = left[peak - 12 - n + i] * (0.5 - 0.5 * std::cos(2 * pi * i / n));
        dsp::fft(before);
        double audible = 0;
        for (std::size_t bin = 1; bin < before.size() / 2; ++bin)
            if (static_cast<double>(bin) * rate / before.size() < 16000)
                audible += std::norm(before[bin]);
        EXPECT_LT(10 * std::log10(audible / before.size() + 1e-30), db(std::fabs(top) * 1e-4))
            << "ringing below 16 kHz before the attack";
    }
}

namespace {

// Eight full-scale sines at once, as eight lines.
std::vector<float> eightSines(bool limited, std::vector<double>& frequencies)
{
    constexpr int frames = 16384;
    frequencies.clear();
    std::vector<float> mix(2 * frames, 0.0f);
    for (int k = 0; k < 8; ++k) {
        // On FFT bins, so each tone is one line of the spectrum.
        const double f = rate * (37.0 + 41.0 * k) / frames;
        frequencies.push_back(f);
        for (int i = 0; i < frames; ++i) {
            const auto x = static_cast<float>(0.999 * std::sin(2 * pi * f * i / rate + k));
            mix[2 * static_cast<std::size_t>(i)] += x;
            mix[2 * static_cast<std::size_t>(i) + 1] += x;
        }
    }
    if (!limited) {
        for (auto& x : mix)
            x = std::clamp(x, -1.0f, 1.0f);
        return mix;
    }
    Mixer mixer(rate);
    std::vector<std::unique_ptr<SourceDataLine>> lines;
    for (int k = 0; k < 8; ++k) {
        lines.push_back(mixer.createLine());
        lines.back()->open(floatFormat(2, rate));
        lines.back()->start();
        std::vector<float> one(2 * frames);
        for (int i = 0; i < frames; ++i)
            one[2 * static_cast<std::size_t>(i)] = one[2 * static_cast<std::size_t>(i) + 1]
                = static_cast<float>(0.999 * std::sin(2 * pi * frequencies[k] * i / rate + k));
        // The ring holds them all.
        lines.back()->write(reinterpret_cast<const std::byte*>(one.data()), 0,
            static_cast<std::int32_t>(one.size() * sizeof(float)));
    }
    std::vector<float> out(2 * frames);
    for (int b = 0; b < frames / block; ++b)
        mixer.render(out.data() + 2 * b * block, block);
    return out;
}

struct MixFigures {
    float peak;
    double atRail; // share of samples at full scale
    double distortionDb; // energy away from the eight tones, against all of it
};

MixFigures measure(const std::vector<float>& stereo, const std::vector<double>& frequencies)
{
    MixFigures f { 0, 0, 0 };
    const auto left = side(stereo, 0);
    for (float x : left) {
        f.peak = std::max(f.peak, std::fabs(x));
        f.atRail += std::fabs(x) >= 1.0f ? 1 : 0;
    }
    f.atRail /= static_cast<double>(left.size());
    // The last half, once the limiter has settled, through a Hann window.
    const std::size_t n = left.size() / 2;
    std::vector<std::complex<double>> spectrum(n);
    for (std::size_t i = 0; i < n; ++i)
        spectrum[i] = left[n + i] * (0.5 - 0.5 * std::cos(2 * pi * i / n));
    dsp::fft(spectrum);
    double tones = 0, rest = 0;
    for (std::size_t bin = 1; bin < n / 2; ++bin) {
        const double hz = static_cast<double>(bin) * rate / n;
        const bool near = std::any_of(frequencies.begin(), frequencies.end(),
            [&](double t) { return std::fabs(hz - t) <= 30.0; });
        (near ? tones : rest) += std::norm(spectrum[bin]);
    }
    f.distortionDb = 10 * std::log10(rest / (tones + rest));
    return f;
}

} // namespace

TEST(LimiterT, EightFullScaleSinesAreTurnedDownNotSquaredOff)
{
    std::vector<double> frequencies;
    const auto clamped = eightSines(false, frequencies);
    const auto limited = eightSines(true, frequencies);
    const MixFigures before = measure(clamped, frequencies);
    const MixFigures after = measure(limited, frequencies);
    std::printf("eight full-scale sines, clamped: peak %.3f, %.1f%% at the rail, distortion %.1f "
                "dB; limited: peak %.3f, %.2f%% at the rail, distortion %.1f dB\n",
        before.peak, 100 * before.atRail, before.distortionDb, after.peak, 100 * after.atRail,
        after.distortionDb);
    EXPECT_LE(after.peak, 1.0f);
    EXPECT_LT(after.atRail, 0.005);
    EXPECT_GT(before.atRail, 0.2) << "the case is loud enough to matter";
    EXPECT_LT(after.distortionDb, -40.0);
    EXPECT_LT(after.distortionDb, before.distortionDb - 20.0);
}

TEST(LimiterT, ALoneHitAndAnyMixUnderFullScaleComeOutBitExact)
{
    // A hit at -1 dBFS, and two lines whose sum peaks just under full scale.
    std::mt19937 random(3);
    std::uniform_real_distribution<float> spread(-1.0f, 1.0f);
    const float level = std::pow(10.0f, -1.0f / 20);
    std::vector<float> hit(2 * 4096), other(2 * 4096);
    for (std::size_t i = 0; i < hit.size(); ++i) {
        hit[i] = level * spread(random);
        other[i] = (1.0f - level) * 0.999f * spread(random);
    }
    hit[100] = level; // its peak exactly
    for (const bool both : { false, true }) {
        SCOPED_TRACE(both ? "two lines" : "a lone hit");
        Mixer mixer(rate);
        std::vector<std::unique_ptr<SourceDataLine>> lines;
        for (const auto* samples : { &hit, &other }) {
            if (samples == &other && !both)
                continue;
            lines.push_back(mixer.createLine());
            lines.back()->open(floatFormat(2, rate));
            lines.back()->write(reinterpret_cast<const std::byte*>(samples->data()), 0,
                static_cast<std::int32_t>(samples->size() * sizeof(float)));
            lines.back()->drain(); // the whole sound, so its last block is played as it is
            lines.back()->start();
        }
        std::vector<float> out(hit.size());
        for (std::size_t b = 0; b < out.size() / (2 * block); ++b)
            mixer.render(out.data() + 2 * b * block, block);
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], both ? hit[i] + other[i] : hit[i]) << i;
        EXPECT_EQ(mixer.limitedBlocks(), 0u);
    }
}
