#include "Dsp.h"

namespace kitsynth {

namespace {
// Constant-power pan law scaled so the centre keeps unity gain on both sides.
void panGains(double pan, double& left, double& right)
{
    const double angle = (std::clamp(pan, -1.0, 1.0) + 1.0) * std::numbers::pi / 4.0;
    left = std::cos(angle) * std::numbers::sqrt2;
    right = std::sin(angle) * std::numbers::sqrt2;
}
} // namespace

void Stereo::addMono(const Buffer& mono, double gain, double pan, std::size_t offset)
{
    if (offset + mono.size() > frames())
        resize(offset + mono.size());
    double gl, gr;
    panGains(pan, gl, gr);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        left[offset + i] += mono[i] * gain * gl;
        right[offset + i] += mono[i] * gain * gr;
    }
}

void Stereo::add(const Stereo& other, double gain, std::size_t offset)
{
    if (offset + other.frames() > frames())
        resize(offset + other.frames());
    for (std::size_t i = 0; i < other.frames(); ++i) {
        left[offset + i] += other.left[i] * gain;
        right[offset + i] += other.right[i] * gain;
    }
}

void Stereo::scale(double gain)
{
    for (std::size_t i = 0; i < frames(); ++i) {
        left[i] *= gain;
        right[i] *= gain;
    }
}

double Stereo::peak() const
{
    double p = 0;
    for (std::size_t i = 0; i < frames(); ++i)
        p = std::max({ p, std::abs(left[i]), std::abs(right[i]) });
    return p;
}

Rng::Rng(std::uint64_t seed)
    : state_(seed ? seed : 0x9E3779B97F4A7C15ull)
{
    for (int i = 0; i < 4; ++i)
        next();
}

std::uint64_t Rng::next()
{
    // xorshift64*: fast, and the same on every compiler.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
}

double Rng::uniform()
{
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

double Rng::gauss()
{
    // Sum of four uniforms: bell-shaped, bounded, cheap; good enough for noise.
    return (uniform() + uniform() + uniform() + uniform() - 2.0) * std::numbers::sqrt3;
}

std::uint64_t seedOf(std::string_view text)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

Biquad::Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
    : b0_(b0 / a0)
    , b1_(b1 / a0)
    , b2_(b2 / a0)
    , a1_(a1 / a0)
    , a2_(a2 / a0)
{
}

namespace {
struct Angles {
    double cosw, alpha;
};
Angles angles(double rate, double hz, double q)
{
    const double w = twoPi * std::min(hz, 0.49 * rate) / rate;
    return { std::cos(w), std::sin(w) / (2.0 * q) };
}
} // namespace

Biquad Biquad::lowPass(double rate, double hz, double q)
{
    const auto [c, a] = angles(rate, hz, q);
    return Biquad((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + a, -2 * c, 1 - a);
}

Biquad Biquad::highPass(double rate, double hz, double q)
{
    const auto [c, a] = angles(rate, hz, q);
    return Biquad((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + a, -2 * c, 1 - a);
}

Biquad Biquad::bandPass(double rate, double hz, double q)
{
    const auto [c, a] = angles(rate, hz, q);
    return Biquad(a, 0, -a, 1 + a, -2 * c, 1 - a);
}

Biquad Biquad::peak(double rate, double hz, double q, double db)
{
    const auto [c, a] = angles(rate, hz, q);
    const double A = std::pow(10.0, db / 40.0);
    return Biquad(1 + a * A, -2 * c, 1 - a * A, 1 + a / A, -2 * c, 1 - a / A);
}

Biquad Biquad::highShelf(double rate, double hz, double db)
{
    const double A = std::pow(10.0, db / 40.0);
    const auto [c, a] = angles(rate, hz, std::numbers::sqrt2 / 2);
    const double s = 2 * std::sqrt(A) * a;
    return Biquad(A * ((A + 1) + (A - 1) * c + s), -2 * A * ((A - 1) + (A + 1) * c),
        A * ((A + 1) + (A - 1) * c - s), (A + 1) - (A - 1) * c + s, 2 * ((A - 1) - (A + 1) * c),
        (A + 1) - (A - 1) * c - s);
}

void filterStereo(Stereo& s, const Biquad& prototype)
{
    Biquad l = prototype, r = prototype;
    l.run(s.left);
    r.run(s.right);
}

double Square::next()
{
    auto blep = [this](double t) {
        if (t < inc_) {
            t /= inc_;
            return t + t - t * t - 1.0;
        }
        if (t > 1.0 - inc_) {
            t = (t - 1.0) / inc_;
            return t * t + t + t + 1.0;
        }
        return 0.0;
    };
    double v = phase_ < 0.5 ? 1.0 : -1.0;
    v += blep(phase_);
    v -= blep(std::fmod(phase_ + 0.5, 1.0));
    phase_ += inc_;
    if (phase_ >= 1.0)
        phase_ -= 1.0;
    return v;
}

namespace {

// Frames until a mode has died away to nothing we could hear (-120 dB).
std::size_t lifetime(const Mode& m, double rate)
{
    return static_cast<std::size_t>(std::ceil(m.t60 * 2.0 * rate)) + 1;
}

void addBentMode(Stereo& out, double rate, const Mode& m, std::size_t offset)
{
    double gl, gr;
    panGains(m.pan, gl, gr);
    const double decay = decayCoef(m.t60, rate);
    const double riseCoef = m.rise > 0 ? std::exp(-1.0 / (m.rise * rate)) : 0.0;
    const double bendCoef = std::exp(-1.0 / (m.bendTime * rate));
    const std::size_t end = std::min(out.frames(), offset + lifetime(m, rate));
    double bend = m.bend, phase = m.phase, level = m.gain, rising = 1.0;
    for (std::size_t i = offset; i < end; ++i) {
        const double v = std::sin(phase) * level * (1.0 - rising);
        out.left[i] += v * gl;
        out.right[i] += v * gr;
        phase += twoPi * m.hz * (1.0 + bend) / rate;
        if (phase > twoPi)
            phase -= twoPi;
        bend *= bendCoef;
        level *= decay;
        rising *= riseCoef;
    }
}

} // namespace

void addModes(Stereo& out, double rate, const std::vector<Mode>& modes, std::size_t offset)
{
    if (offset >= out.frames())
        return;
    std::vector<const Mode*> steady;
    for (const Mode& m : modes) {
        if (m.hz >= 0.48 * rate)
            continue;
        if (m.bend != 0.0)
            addBentMode(out, rate, m, offset);
        else
            steady.push_back(&m);
    }
    // Steady modes are rotating phasors with the gain and decay folded in: one complex multiply
    // per sample. Four at a time, so independent chains keep the processor busy; the four share
    // one pan position (their own is random anyway) and modes of similar lifetime share a pass.
    std::sort(
        steady.begin(), steady.end(), [](const Mode* a, const Mode* b) { return a->t60 > b->t60; });
    constexpr std::size_t lanes = 4;
    for (std::size_t first = 0; first < steady.size(); first += lanes) {
        double re[lanes] = {}, im[lanes] = {}, c[lanes] = {}, sn[lanes] = {};
        double rising[lanes] = {}, riseCoef[lanes] = {};
        std::size_t end = offset, riseEnd = offset;
        for (std::size_t k = 0; k < lanes && first + k < steady.size(); ++k) {
            const Mode& m = *steady[first + k];
            const double decay = decayCoef(m.t60, rate);
            c[k] = decay * std::cos(twoPi * m.hz / rate);
            sn[k] = decay * std::sin(twoPi * m.hz / rate);
            re[k] = m.gain * std::cos(m.phase);
            im[k] = m.gain * std::sin(m.phase);
            rising[k] = 1.0;
            riseCoef[k] = m.rise > 0 ? std::exp(-1.0 / (m.rise * rate)) : 0.0;
            end = std::max(end, std::min(out.frames(), offset + lifetime(m, rate)));
            // The build-up is complete, to a part in a million, after 14 time constants.
            riseEnd
                = std::max(riseEnd, offset + static_cast<std::size_t>(14.0 * m.rise * rate) + 1);
        }
        riseEnd = std::min(riseEnd, end);
        double gl, gr;
        panGains(steady[first]->pan, gl, gr);
        for (std::size_t i = offset; i < riseEnd; ++i) {
            double v = 0;
            for (std::size_t k = 0; k < lanes; ++k) {
                v += im[k] * (1.0 - rising[k]);
                const double nr = re[k] * c[k] - im[k] * sn[k];
                im[k] = re[k] * sn[k] + im[k] * c[k];
                re[k] = nr;
                rising[k] *= riseCoef[k];
            }
            out.left[i] += v * gl;
            out.right[i] += v * gr;
        }
        for (std::size_t i = riseEnd; i < end; ++i) {
            double v = 0;
            for (std::size_t k = 0; k < lanes; ++k) {
                v += im[k];
                const double nr = re[k] * c[k] - im[k] * sn[k];
                im[k] = re[k] * sn[k] + im[k] * c[k];
                re[k] = nr;
            }
            out.left[i] += v * gl;
            out.right[i] += v * gr;
        }
    }
}

Buffer noiseBurst(std::size_t frames, double rate, Rng& rng, double attack, double t60)
{
    Buffer b(frames);
    for (double& x : b)
        x = rng.gauss();
    applyDecay(b, rate, attack, t60);
    return b;
}

void applyDecay(Buffer& b, double rate, double attack, double t60, std::size_t offset)
{
    const double k = decayCoef(t60, rate);
    const double riseCoef = attack > 0 ? std::exp(-1.0 / (attack * rate)) : 0.0;
    double level = 1.0, rising = 1.0;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i < offset) {
            b[i] = 0;
            continue;
        }
        b[i] *= level * (1.0 - rising);
        level *= k;
        rising *= riseCoef;
    }
}

void fadeIn(Buffer& b, std::size_t frames)
{
    frames = std::min(frames, b.size());
    for (std::size_t i = 0; i < frames; ++i)
        b[i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / frames);
}

void fadeOut(Buffer& b, std::size_t frames)
{
    frames = std::min(frames, b.size());
    const std::size_t start = b.size() - frames;
    for (std::size_t i = 0; i < frames; ++i)
        b[start + i]
            *= 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(i + 1) / frames);
}

void compress(Stereo& s, double rate, const CompressorSettings& c)
{
    const std::size_t n = s.frames();
    // Reduction each sample's peak calls for, through the soft knee.
    Buffer want(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double level = gainToDb(std::max(std::abs(s.left[i]), std::abs(s.right[i])));
        const double over = level - c.thresholdDb;
        double w = 0;
        if (2 * over > c.kneeDb)
            w = over * (1 - 1 / c.ratio);
        else if (2 * over > -c.kneeDb)
            w = (1 - 1 / c.ratio) * (over + c.kneeDb / 2) * (over + c.kneeDb / 2) / (2 * c.kneeDb);
        want[i] = w;
    }
    // Working offline, the compressor can see what is coming: holding the largest reduction
    // of the next few milliseconds lets it catch a stick's first spike instead of letting it
    // through.
    const auto ahead = static_cast<std::size_t>(c.lookahead * rate);
    const double att = std::exp(-1.0 / (c.attack * rate));
    const double rel = std::exp(-1.0 / (c.release * rate));
    const double makeup = dbToGain(c.makeupDb);
    // Start already settled on the opening hit, as if the look-ahead had run before the sound.
    double reduction = *std::max_element(want.begin(), want.begin() + std::min(n, ahead + 1));
    for (std::size_t i = 0; i < n; ++i) {
        double held = 0;
        for (std::size_t j = i; j < std::min(n, i + ahead + 1); ++j)
            held = std::max(held, want[j]);
        const double k = held > reduction ? att : rel;
        reduction = held + k * (reduction - held);
        const double g = dbToGain(-reduction) * makeup;
        s.left[i] *= g;
        s.right[i] *= g;
    }
}

} // namespace kitsynth
