#include "Room.h"

#include <array>

namespace kitsynth {

namespace {

class Delay {
public:
    explicit Delay(std::size_t length)
        : data_(std::max<std::size_t>(length, 1), 0.0)
    {
    }
    // The sample written 'length' pushes ago.
    double front() const { return data_[pos_]; }
    void push(double x)
    {
        data_[pos_] = x;
        pos_ = (pos_ + 1) % data_.size();
    }

private:
    Buffer data_;
    std::size_t pos_ = 0;
};

class AllPass {
public:
    AllPass(std::size_t length, double g)
        : delay_(length)
        , g_(g)
    {
    }
    double process(double x)
    {
        const double d = delay_.front();
        const double v = x + g_ * d;
        delay_.push(v);
        return d - g_ * v;
    }

private:
    Delay delay_;
    double g_;
};

std::size_t samplesOf(double seconds, double rate)
{
    return static_cast<std::size_t>(std::max(1.0, std::round(seconds * rate)));
}

// In-place fast Walsh-Hadamard transform, scaled to stay lossless.
void hadamard(std::array<double, 8>& v)
{
    for (std::size_t h = 1; h < 8; h *= 2)
        for (std::size_t i = 0; i < 8; i += 2 * h)
            for (std::size_t j = i; j < i + h; ++j) {
                const double a = v[j], b = v[j + h];
                v[j] = a + b;
                v[j + h] = a - b;
            }
    for (double& x : v)
        x *= 1.0 / std::sqrt(8.0);
}

} // namespace

Stereo roomOf(const Stereo& dry, double rate, const RoomSettings& s, std::uint64_t seed)
{
    const std::size_t frames = dry.frames();
    Stereo wet(frames);
    Rng rng(seed);

    // What reaches the room: band-limited, as a real room and its mics would hear it.
    Buffer inL = dry.left, inR = dry.right;
    for (Buffer* b : { &inL, &inR }) {
        Biquad::highPass(rate, s.lowCut).run(*b);
        Biquad::lowPass(rate, s.highCut).run(*b);
    }

    // Early reflections: taps per side at different times, thinning out and running on until
    // the diffuse tail has built up.
    constexpr int taps = 18;
    const std::size_t pre = samplesOf(s.predelay, rate);
    for (int side = 0; side < 2; ++side) {
        const Buffer& same = side == 0 ? inL : inR;
        const Buffer& other = side == 0 ? inR : inL;
        Buffer& out = side == 0 ? wet.left : wet.right;
        for (int k = 0; k < taps; ++k) {
            const double t = s.size * (0.002 + 0.042 * std::pow((k + rng.uniform()) / taps, 1.3));
            const std::size_t at = pre + samplesOf(t, rate);
            const double gain = s.early * 0.55 * std::pow(1.0 - k / (taps + 1.0), 1.5)
                * (rng.uniform() < 0.3 ? -1.0 : 1.0);
            const double cross = 0.35 * rng.uniform();
            for (std::size_t i = at; i < frames; ++i)
                out[i] += gain * ((1 - cross) * same[i - at] + cross * other[i - at]);
        }
    }
    Biquad::lowPass(rate, 0.7 * s.highCut).run(wet.left);
    Biquad::lowPass(rate, 0.7 * s.highCut).run(wet.right);

    // Diffuse tail: eight delay lines mixed through a Hadamard matrix, each losing highs faster
    // than lows so the tail darkens as it dies.
    constexpr std::array<double, 8> lengths
        = { 0.0231, 0.0293, 0.0337, 0.0379, 0.0431, 0.0493, 0.0559, 0.0613 };
    std::array<Delay, 8> lines
        = { Delay(0), Delay(0), Delay(0), Delay(0), Delay(0), Delay(0), Delay(0), Delay(0) };
    std::array<double, 8> gain {}, damp {}, state {};
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t n = samplesOf(lengths[i] * s.size, rate);
        lines[i] = Delay(n);
        const double g0 = std::pow(10.0, -3.0 * n / (rate * s.t60));
        const double gHigh = std::pow(10.0, -3.0 * n / (rate * s.highT60));
        const double r = gHigh / g0;
        gain[i] = g0;
        damp[i] = (1 - r) / (1 + r);
    }
    // Input diffusion smears a hard click into a dense wash before it enters the loop;
    // without it the first echoes flutter.
    std::array<AllPass, 4> diffuseL = { AllPass(samplesOf(0.0013 * s.size, rate), 0.65),
        AllPass(samplesOf(0.0029 * s.size, rate), 0.65),
        AllPass(samplesOf(0.0047 * s.size, rate), 0.6),
        AllPass(samplesOf(0.0073 * s.size, rate), 0.55) };
    std::array<AllPass, 4> diffuseR = { AllPass(samplesOf(0.0017 * s.size, rate), 0.65),
        AllPass(samplesOf(0.0033 * s.size, rate), 0.65),
        AllPass(samplesOf(0.0053 * s.size, rate), 0.6),
        AllPass(samplesOf(0.0067 * s.size, rate), 0.55) };
    const std::size_t latePre = pre;
    constexpr std::array<double, 8> outL = { 1, -1, 1, -1, 1, -1, 1, -1 };
    constexpr std::array<double, 8> outR = { 1, 1, -1, -1, 1, 1, -1, -1 };
    const double lateGain = 0.35;
    for (std::size_t i = 0; i < frames; ++i) {
        double xl = i >= latePre ? inL[i - latePre] : 0;
        double xr = i >= latePre ? inR[i - latePre] : 0;
        for (AllPass& a : diffuseL)
            xl = a.process(xl);
        for (AllPass& a : diffuseR)
            xr = a.process(xr);
        std::array<double, 8> v;
        for (std::size_t j = 0; j < 8; ++j) {
            state[j] = (1 - damp[j]) * lines[j].front() + damp[j] * state[j];
            v[j] = gain[j] * state[j];
        }
        double l = 0, r = 0;
        for (std::size_t j = 0; j < 8; ++j) {
            l += outL[j] * v[j];
            r += outR[j] * v[j];
        }
        wet.left[i] += lateGain * l;
        wet.right[i] += lateGain * r;
        hadamard(v);
        for (std::size_t j = 0; j < 8; ++j)
            lines[j].push(v[j] + ((j & 1) ? xr : xl));
    }

    // Narrow the room if asked: the mid stays, the sides shrink.
    for (std::size_t i = 0; i < frames; ++i) {
        const double mid = 0.5 * (wet.left[i] + wet.right[i]);
        const double side = 0.5 * (wet.left[i] - wet.right[i]) * s.width;
        wet.left[i] = mid + side;
        wet.right[i] = mid - side;
    }
    return wet;
}

} // namespace kitsynth
