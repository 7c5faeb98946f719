// Small signal-processing pieces the drum voices are built from.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <string_view>
#include <vector>

namespace kitsynth {

constexpr double twoPi = 2.0 * std::numbers::pi;

using Buffer = std::vector<double>;

struct Stereo {
    Buffer left, right;

    Stereo() = default;
    explicit Stereo(std::size_t frames)
        : left(frames, 0.0)
        , right(frames, 0.0)
    {
    }
    std::size_t frames() const { return left.size(); }
    void resize(std::size_t frames)
    {
        left.resize(frames, 0.0);
        right.resize(frames, 0.0);
    }
    // Adds a mono signal at a constant-power pan position (-1 left .. +1 right).
    void addMono(const Buffer& mono, double gain, double pan = 0.0, std::size_t offset = 0);
    void add(const Stereo& other, double gain, std::size_t offset = 0);
    void scale(double gain);
    double peak() const;
};

// Deterministic noise: the same seed gives the same kit on every machine.
class Rng {
public:
    explicit Rng(std::uint64_t seed);
    std::uint64_t next();
    double uniform(); // [0, 1)
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    double gauss();

private:
    std::uint64_t state_;
};

std::uint64_t seedOf(std::string_view text);

inline double dbToGain(double db)
{
    return std::pow(10.0, db / 20.0);
}
inline double gainToDb(double gain)
{
    return 20.0 * std::log10(std::max(gain, 1e-12));
}

// Per-sample multiplier that brings a level down by 60 dB in t60 seconds.
inline double decayCoef(double t60, double rate)
{
    return std::pow(10.0, -3.0 / (t60 * rate));
}

// Second-order sections from the usual cookbook formulas, transposed direct form II.
class Biquad {
public:
    static Biquad lowPass(double rate, double hz, double q = std::numbers::sqrt2 / 2);
    static Biquad highPass(double rate, double hz, double q = std::numbers::sqrt2 / 2);
    static Biquad bandPass(double rate, double hz, double q); // 0 dB at the centre
    static Biquad peak(double rate, double hz, double q, double db);
    static Biquad highShelf(double rate, double hz, double db);

    double process(double x)
    {
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        return y;
    }
    void run(Buffer& buffer)
    {
        for (double& x : buffer)
            x = process(x);
    }

private:
    Biquad(double b0, double b1, double b2, double a0, double a1, double a2);
    double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double z1_ = 0, z2_ = 0;
};

// Runs the same filter on both channels with separate state.
void filterStereo(Stereo& s, const Biquad& prototype);

// Trapezoidal state-variable filter; stays stable while its cutoff moves every sample.
class Svf {
public:
    struct Out {
        double low, band, high;
    };
    void tune(double rate, double hz, double q)
    {
        g_ = std::tan(std::numbers::pi * std::min(hz, 0.49 * rate) / rate);
        k_ = 1.0 / q;
        a1_ = 1.0 / (1.0 + g_ * (g_ + k_));
    }
    Out process(double x)
    {
        const double v3 = x - ic2_;
        const double v1 = a1_ * ic1_ + g_ * a1_ * v3;
        const double v2 = ic2_ + g_ * v1;
        ic1_ = 2.0 * v1 - ic1_;
        ic2_ = 2.0 * v2 - ic2_;
        return { v2, v1, x - k_ * v1 - v2 };
    }

private:
    double g_ = 0, k_ = 1, a1_ = 1, ic1_ = 0, ic2_ = 0;
};

// Band-limited square wave (polyBLEP), so the metal clusters do not alias into mush.
class Square {
public:
    Square(double rate, double hz, double phase)
        : inc_(hz / rate)
        , phase_(phase)
    {
    }
    double next();

private:
    double inc_, phase_;
};

// One ringing mode of a drum head, shell or cymbal.
struct Mode {
    double hz = 440; // settled frequency
    double gain = 1;
    double t60 = 1; // seconds to fall by 60 dB
    double rise = 0; // seconds for the mode to build up (energy spreading from lower modes)
    double bend = 0; // starting frequency is hz * (1 + bend)
    double bendTime = 0.05; // time constant of the bend
    double pan = 0; // -1 .. +1
    double phase = 0; // starting phase in radians
};

// Adds the modes, each a decaying sinusoid, into the buffer from frame 'offset'.
void addModes(Stereo& out, double rate, const std::vector<Mode>& modes, std::size_t offset = 0);

// White noise shaped by an attack ramp and an exponential decay.
Buffer noiseBurst(std::size_t frames, double rate, Rng& rng, double attack, double t60);

// Envelope helpers on whole buffers.
void applyDecay(Buffer& b, double rate, double attack, double t60, std::size_t offset = 0);
void fadeIn(Buffer& b, std::size_t frames);
void fadeOut(Buffer& b, std::size_t frames);

// Smooth saturation normalised so small signals pass at unity gain.
inline double saturate(double x, double drive)
{
    return drive <= 0.0 ? x : std::tanh(drive * x) / drive;
}

// Stereo-linked feed-forward compressor with a soft knee.
struct CompressorSettings {
    double thresholdDb = -20;
    double ratio = 4;
    double attack = 0.005;
    double release = 0.1;
    double kneeDb = 6;
    double makeupDb = 0;
    double lookahead = 0; // seconds the gain is applied ahead of the level that calls for it
};
void compress(Stereo& s, double rate, const CompressorSettings& settings);

} // namespace kitsynth
