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

// What reaches the room: band-limited, as a real room and its mics would hear it.
Stereo roomInput(const Stereo& dry, double rate, const RoomSettings& s)
{
    Stereo in = dry;
    for (Buffer* b : { &in.left, &in.right }) {
        Biquad::highPass(rate, s.lowCut).run(*b);
        Biquad::lowPass(rate, s.highCut).run(*b);
    }
    return in;
}

// Early reflections: taps per side at different times, thinning out and running on until the
// diffuse tail has built up. Each tap leaks a little of the other side in.
void addEarlyReflections(
    Stereo& wet, const Stereo& in, double rate, const RoomSettings& s, std::uint64_t seed)
{
    constexpr int taps = 18;
    Rng rng(seed);
    const std::size_t frames = in.frames();
    const std::size_t pre = samplesOf(s.predelay, rate);
    for (int side = 0; side < 2; ++side) {
        const Buffer& same = side == 0 ? in.left : in.right;
        const Buffer& other = side == 0 ? in.right : in.left;
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
    // Walls soften what they throw back.
    Biquad::lowPass(rate, 0.7 * s.highCut).run(wet.left);
    Biquad::lowPass(rate, 0.7 * s.highCut).run(wet.right);
}

// Four all-passes in a row. Input diffusion smears a hard click into a dense wash before it
// enters the loop; without it the first echoes flutter.
using Diffuser = std::array<AllPass, 4>;

Diffuser diffuser(const std::array<double, 4>& seconds, double size, double rate)
{
    return { AllPass(samplesOf(seconds[0] * size, rate), 0.65),
        AllPass(samplesOf(seconds[1] * size, rate), 0.65),
        AllPass(samplesOf(seconds[2] * size, rate), 0.6),
        AllPass(samplesOf(seconds[3] * size, rate), 0.55) };
}

double diffuse(Diffuser& d, double x)
{
    for (AllPass& a : d)
        x = a.process(x);
    return x;
}

// Diffuse tail: eight delay lines mixed through a Hadamard matrix, each losing highs faster than
// lows so the tail darkens as it dies.
class FeedbackNetwork {
public:
    FeedbackNetwork(double rate, const RoomSettings& s)
    {
        constexpr std::array<double, 8> lengths
            = { 0.0231, 0.0293, 0.0337, 0.0379, 0.0431, 0.0493, 0.0559, 0.0613 };
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t n = samplesOf(lengths[i] * s.size, rate);
            lines_[i] = Delay(n);
            // Loss per trip round a line, so the tail falls by 60 dB in t60 and its highs in
            // highT60; a one-pole low-pass per line makes up the difference.
            const double g0 = std::pow(10.0, -3.0 * n / (rate * s.t60));
            const double gHigh = std::pow(10.0, -3.0 * n / (rate * s.highT60));
            const double r = gHigh / g0;
            gain_[i] = g0;
            damp_[i] = (1 - r) / (1 + r);
        }
    }

    // Runs one frame: reads the lines into 'left' and 'right', then feeds them back mixed,
    // with the left input on the even lines and the right on the odd ones.
    void step(double inLeft, double inRight, double& left, double& right)
    {
        std::array<double, 8> v;
        for (std::size_t j = 0; j < 8; ++j) {
            state_[j] = (1 - damp_[j]) * lines_[j].front() + damp_[j] * state_[j];
            v[j] = gain_[j] * state_[j];
        }
        // Two different sign patterns give two uncorrelated outputs from the same lines.
        constexpr std::array<double, 8> outL = { 1, -1, 1, -1, 1, -1, 1, -1 };
        constexpr std::array<double, 8> outR = { 1, 1, -1, -1, 1, 1, -1, -1 };
        left = 0;
        right = 0;
        for (std::size_t j = 0; j < 8; ++j) {
            left += outL[j] * v[j];
            right += outR[j] * v[j];
        }
        hadamard(v);
        for (std::size_t j = 0; j < 8; ++j)
            lines_[j].push(v[j] + ((j & 1) ? inRight : inLeft));
    }

private:
    std::array<Delay, 8> lines_
        = { Delay(0), Delay(0), Delay(0), Delay(0), Delay(0), Delay(0), Delay(0), Delay(0) };
    std::array<double, 8> gain_ {}, damp_ {}, state_ {};
};

void addDiffuseTail(Stereo& wet, const Stereo& in, double rate, const RoomSettings& s)
{
    FeedbackNetwork tail(rate, s);
    Diffuser diffuseL = diffuser({ 0.0013, 0.0029, 0.0047, 0.0073 }, s.size, rate);
    Diffuser diffuseR = diffuser({ 0.0017, 0.0033, 0.0053, 0.0067 }, s.size, rate);
    const std::size_t pre = samplesOf(s.predelay, rate);
    const double lateGain = 0.35;
    for (std::size_t i = 0; i < in.frames(); ++i) {
        const double xl = diffuse(diffuseL, i >= pre ? in.left[i - pre] : 0);
        const double xr = diffuse(diffuseR, i >= pre ? in.right[i - pre] : 0);
        double l, r;
        tail.step(xl, xr, l, r);
        wet.left[i] += lateGain * l;
        wet.right[i] += lateGain * r;
    }
}

// Narrows the room if asked: the mid stays, the sides shrink.
void narrow(Stereo& wet, double width)
{
    for (std::size_t i = 0; i < wet.frames(); ++i) {
        const double mid = 0.5 * (wet.left[i] + wet.right[i]);
        const double side = 0.5 * (wet.left[i] - wet.right[i]) * width;
        wet.left[i] = mid + side;
        wet.right[i] = mid - side;
    }
}

} // namespace

Stereo roomOf(const Stereo& dry, double rate, const RoomSettings& s, std::uint64_t seed)
{
    const Stereo in = roomInput(dry, rate, s);
    Stereo wet(dry.frames());
    addEarlyReflections(wet, in, rate, s, seed);
    addDiffuseTail(wet, in, rate, s);
    narrow(wet, s.width);
    return wet;
}

} // namespace kitsynth
