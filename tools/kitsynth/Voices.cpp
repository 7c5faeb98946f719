#include "Voices.h"

#include <array>

namespace kitsynth {

namespace {

std::size_t framesOf(double seconds, double rate)
{
    return static_cast<std::size_t>(std::ceil(seconds * rate));
}

double rms(const Buffer& b, std::size_t from, std::size_t to)
{
    to = std::min(to, b.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += b[i] * b[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// RMS of the loudest 10 ms within the first 200 ms.
double loudestEarly(const Buffer& b, double rate)
{
    double loudest = 0;
    const std::size_t window = framesOf(0.01, rate);
    for (std::size_t at = 0; at + window <= b.size() && at < framesOf(0.2, rate); at += window / 2)
        loudest = std::max(loudest, rms(b, at, at + window));
    return loudest;
}

// Scales a part so its loudest early stretch has the given RMS; keeps the voices' mix
// settings meaningful whatever filters a part went through.
void levelPart(Buffer& b, double rate, double target)
{
    if (const double loudest = loudestEarly(b, rate); loudest > 0)
        for (double& x : b)
            x *= target / loudest;
}

void levelPart(Stereo& s, double rate, double target)
{
    Buffer mid(s.frames());
    for (std::size_t i = 0; i < s.frames(); ++i)
        mid[i] = 0.5 * (s.left[i] + s.right[i]);
    if (const double loudest = loudestEarly(mid, rate); loudest > 0)
        s.scale(target / loudest);
}

Buffer filtered(Buffer b, std::initializer_list<Biquad> filters)
{
    for (Biquad f : filters)
        f.run(b);
    return b;
}

Buffer whiteNoise(std::size_t frames, Rng& rng)
{
    Buffer b(frames);
    for (double& x : b)
        x = rng.gauss();
    return b;
}

// Two noise channels that share a common part; 'width' 0 gives identical channels.
Stereo stereoNoise(std::size_t frames, Rng& rng, double width)
{
    Stereo s(frames);
    const double shared = std::sqrt(1.0 - 0.5 * width * width);
    const double own = std::sqrt(0.5) * width;
    for (std::size_t i = 0; i < frames; ++i) {
        const double c = rng.gauss();
        s.left[i] = shared * c + own * rng.gauss();
        s.right[i] = shared * c + own * rng.gauss();
    }
    return s;
}

// Shapes of a circular membrane's first modes (ratios of the Bessel zeros), and how strongly
// a stick near the centre excites each and how fast it dies, for a snare head.
constexpr std::array<double, 10> snareRatios
    = { 1.000, 1.594, 2.136, 2.296, 2.653, 2.918, 3.156, 3.501, 3.600, 4.060 };
constexpr std::array<double, 10> snareGains
    = { 1.00, 0.75, 0.50, 0.45, 0.35, 0.30, 0.22, 0.18, 0.12, 0.10 };
constexpr std::array<double, 10> snareDecays
    = { 1.00, 0.80, 0.60, 0.55, 0.50, 0.45, 0.40, 0.35, 0.30, 0.28 };

// Tom heads: air loading inside the shell pulls the upper modes closer to the fundamental.
constexpr std::array<double, 8> tomRatios = { 1.00, 1.52, 1.98, 2.44, 2.63, 2.98, 3.40, 3.86 };
constexpr std::array<double, 8> tomGains = { 1.00, 0.55, 0.35, 0.25, 0.18, 0.14, 0.09, 0.07 };
constexpr std::array<double, 8> tomDecays = { 1.00, 0.65, 0.50, 0.42, 0.36, 0.30, 0.26, 0.22 };
// Higher membrane modes: the stick excites them briefly and they give the attack its tone.
constexpr std::array<double, 12> upperRatios
    = { 4.059, 4.131, 4.230, 4.601, 4.610, 4.832, 4.903, 5.083, 5.131, 5.412, 5.553, 5.650 };

} // namespace

Stereo renderKick(const KickVoice& v, double rate, Rng& rng)
{
    const std::size_t n = framesOf(v.length, rate);
    Stereo head(n);
    const double bend = v.startHz / v.endHz - 1.0;
    // The body and its long low tail share one phase path, so they add as one decaying wave.
    addModes(head, rate,
        {
            { .hz = v.endHz,
                .gain = 1.0 - v.sub,
                .t60 = v.t60,
                .bend = bend,
                .bendTime = v.bendTime },
            { .hz = v.endHz, .gain = v.sub, .t60 = v.subT60, .bend = bend, .bendTime = v.bendTime },
            { .hz = v.endHz * 1.594,
                .gain = v.overtone,
                .t60 = v.t60 * 0.35,
                .bend = bend * 1.1,
                .bendTime = v.bendTime * 0.8 },
            { .hz = v.endHz * 2.136,
                .gain = v.overtone * 0.5,
                .t60 = v.t60 * 0.22,
                .bend = bend * 1.2,
                .bendTime = v.bendTime * 0.7 },
        });
    Buffer body = head.left;

    Buffer knock = filtered(noiseBurst(n, rate, rng, 0.0004, 0.06),
        { Biquad::bandPass(rate, v.knockHz, 1.4), Biquad::lowPass(rate, 2500) });
    levelPart(knock, rate, 0.35 * v.knock);

    Buffer click = filtered(noiseBurst(n, rate, rng, 0.00008, v.clickT60),
        { Biquad::highPass(rate, 1200), Biquad::bandPass(rate, v.clickHz, 0.8) });
    levelPart(click, rate, 0.35 * v.click);
    // The hard beater's first contact: a couple of milliseconds of bright ring.
    Stereo tick(n);
    addModes(tick, rate,
        { { .hz = v.clickHz * 1.1, .gain = 0.35 * v.click, .t60 = 0.003 },
            { .hz = v.clickHz * 1.7, .gain = 0.2 * v.click, .t60 = 0.002 } });

    Buffer mono(n);
    for (std::size_t i = 0; i < n; ++i)
        mono[i] = saturate(body[i] + knock[i] + click[i] + tick.left[i], v.drive);
    Biquad::highPass(rate, 28).run(mono);
    Stereo out(n);
    out.addMono(mono, 1.0);
    return out;
}

Stereo renderSnare(const SnareVoice& v, double rate, Rng& rng)
{
    const std::size_t n = framesOf(v.length, rate);
    std::vector<Mode> batter;
    for (std::size_t k = 0; k < snareRatios.size(); ++k)
        batter.push_back({ .hz = v.hz * snareRatios[k],
            .gain = snareGains[k],
            .t60 = v.t60 * snareDecays[k],
            .bend = v.bend,
            .bendTime = 0.02 });
    Stereo tone(n);
    addModes(tone, rate, batter);

    // The snare-side head, driven through the air inside the shell; its motion also throws
    // the wires against it, so it is kept apart to drive the rattle.
    Stereo reso(n);
    addModes(reso, rate,
        { { .hz = v.hz * v.resoRatio, .gain = v.resoLevel, .t60 = v.t60 * 0.7, .rise = 0.001 },
            { .hz = v.hz * v.resoRatio * 1.594,
                .gain = v.resoLevel * 0.5,
                .t60 = v.t60 * 0.5,
                .rise = 0.001 },
            { .hz = v.hz * v.resoRatio * 2.136,
                .gain = v.resoLevel * 0.3,
                .t60 = v.t60 * 0.4,
                .rise = 0.001 } });
    addModes(tone, rate,
        { { .hz = v.shellHz, .gain = v.shell, .t60 = 0.12, .rise = 0.0005 },
            { .hz = v.shellHz * 1.37, .gain = v.shell * 0.6, .t60 = 0.08, .rise = 0.0005 } });

    const double resoPeak = std::max(reso.peak(), 1e-9);
    Stereo wires = stereoNoise(n, rng, 0.25);
    for (std::size_t i = 0; i < n; ++i) {
        const double push = 0.45 + 0.55 * std::max(0.0, reso.left[i]) / resoPeak;
        wires.left[i] *= push;
        wires.right[i] *= push;
    }
    for (Buffer* b : { &wires.left, &wires.right }) {
        *b = filtered(std::move(*b),
            { Biquad::highPass(rate, v.wiresLow, 0.7), Biquad::highPass(rate, v.wiresLow, 0.7),
                Biquad::lowPass(rate, v.wiresHigh), Biquad::peak(rate, 5000, 1.0, 3.0) });
        // The wires lift off a moment after the stick lands, then buzz out.
        applyDecay(*b, rate, 0.0015, v.wiresT60);
    }
    levelPart(wires, rate, 0.65 * v.wires);

    Buffer stick
        = filtered(noiseBurst(n, rate, rng, 0.00005, 0.008), { Biquad::highPass(rate, 3000, 0.7) });
    levelPart(stick, rate, 0.4 * v.stick);
    Buffer crack = filtered(
        noiseBurst(n, rate, rng, 0.0002, 0.035), { Biquad::bandPass(rate, v.crackHz, 1.0) });
    levelPart(crack, rate, 0.4 * v.crack);

    Stereo out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double drum = saturate(tone.left[i] + reso.left[i] + crack[i], v.drive) + stick[i];
        out.left[i] = drum + wires.left[i];
        out.right[i] = drum + wires.right[i];
    }
    filterStereo(out, Biquad::highPass(rate, 50));
    return out;
}

Stereo renderTom(const TomVoice& v, double rate, Rng& rng)
{
    const std::size_t n = framesOf(v.length, rate);
    std::vector<Mode> modes;
    for (std::size_t k = 0; k < tomRatios.size(); ++k)
        modes.push_back({ .hz = v.hz * tomRatios[k],
            .gain = tomGains[k] * (k == 0 ? 1.0 : v.overtones),
            .t60 = v.t60 * tomDecays[k],
            .bend = v.bend,
            .bendTime = v.bendTime });
    // Resonant head: close to the batter head, so the two beat slowly as the note rings.
    modes.push_back({ .hz = v.hz * (1 + v.resoDetune),
        .gain = 0.35,
        .t60 = v.t60 * 1.1,
        .rise = 0.004,
        .bend = v.bend * 0.5,
        .bendTime = v.bendTime });
    modes.push_back({ .hz = v.hz * 1.52 * (1 + v.resoDetune),
        .gain = 0.12 * v.overtones,
        .t60 = v.t60 * 0.6,
        .rise = 0.004,
        .bend = v.bend * 0.5,
        .bendTime = v.bendTime });
    for (double ratio : upperRatios)
        modes.push_back({ .hz = v.hz * ratio * rng.range(0.99, 1.01),
            .gain = 0.05 * v.overtones * rng.range(0.5, 1.0),
            .t60 = 0.08 * rng.range(0.7, 1.3),
            .bend = v.bend,
            .bendTime = v.bendTime,
            .phase = rng.uniform() * twoPi });
    Stereo tone(n);
    addModes(tone, rate, modes);

    Buffer stick
        = filtered(noiseBurst(n, rate, rng, 0.00005, 0.01), { Biquad::highPass(rate, 2500, 0.7) });
    levelPart(stick, rate, 0.35 * v.stick);
    // The head's slap under the stick: a short band of mid noise.
    Buffer slap
        = filtered(noiseBurst(n, rate, rng, 0.0002, 0.03), { Biquad::bandPass(rate, 1800, 0.7) });
    levelPart(slap, rate, 0.2 * v.stick);
    Buffer thump = filtered(noiseBurst(n, rate, rng, 0.001, 0.045),
        { Biquad::lowPass(rate, 5 * v.hz), Biquad::highPass(rate, 0.6 * v.hz) });
    levelPart(thump, rate, 0.4 * v.thump);

    Buffer mono(n);
    for (std::size_t i = 0; i < n; ++i)
        mono[i] = saturate(tone.left[i] + thump[i], v.drive) + stick[i] + slap[i];
    Biquad::highPass(rate, 0.5 * v.hz).run(mono);
    Stereo out(n);
    out.addMono(mono, 1.0);
    return out;
}

namespace {

// Plate modes. A plate's modes are spread evenly in frequency, so most land high up; a share
// spread by octaves keeps a few low ones for body.
std::vector<Mode> plateModes(const CymbalVoice& v, Rng& rng)
{
    std::vector<Mode> modes;
    double energy = 0;
    for (int k = 0; k < v.modes; ++k) {
        const double u = rng.uniform();
        const double hz = rng.uniform() < 0.6 ? v.lowHz + (v.highHz - v.lowHz) * u
                                              : v.lowHz * std::pow(v.highHz / v.lowHz, u);
        const double oct = std::log2(hz / v.peakHz) / v.spread;
        const double gain = std::exp(-0.5 * oct * oct) * rng.range(0.2, 1.0);
        const double place = std::clamp((hz - v.lowHz) / (v.highHz - v.lowHz), 0.0, 1.0);
        modes.push_back({ .hz = hz,
            .gain = gain,
            .t60 = v.t60 * std::pow(1000.0 / hz, v.damping) * rng.range(0.7, 1.3),
            .rise = 0.0004 + v.rise * place * rng.range(0.5, 1.5),
            .pan = rng.range(-v.width, v.width),
            .phase = rng.uniform() * twoPi });
        energy += gain * gain / 2;
    }
    // However many modes a plate has, 'modeLevel' means the same loudness.
    for (Mode& m : modes)
        m.gain *= 0.3 * v.modeLevel / std::sqrt(energy);
    return modes;
}

// The ride's bow ping: a cluster of strong modes around one frequency.
Stereo pingPart(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    std::vector<Mode> modes;
    for (int k = 0; k < 9; ++k) {
        const double hz = v.pingHz * std::pow(2.0, rng.range(-0.6, 0.6));
        modes.push_back({ .hz = hz,
            .gain = rng.range(0.4, 1.0),
            .t60 = v.pingT60 * std::pow(v.pingHz / hz, 0.5) * rng.range(0.7, 1.2),
            .rise = 0.0003,
            .pan = rng.range(-0.3, 0.3) * v.width,
            .phase = rng.uniform() * twoPi });
    }
    Stereo ping(n);
    addModes(ping, rate, modes);
    levelPart(ping, rate, 0.3 * v.ping);
    return ping;
}

// The cup rings like a small bell: few, strong, inharmonic partials, each a close pair that
// beats slowly.
Stereo bellPart(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    constexpr std::array<double, 7> ratios = { 1.0, 1.505, 2.11, 2.74, 3.36, 4.18, 5.03 };
    constexpr std::array<double, 7> gains = { 1.0, 0.8, 0.9, 0.55, 0.5, 0.3, 0.25 };
    std::vector<Mode> modes;
    for (std::size_t k = 0; k < ratios.size(); ++k)
        for (double side : { -1.0, 1.0 })
            modes.push_back(
                { .hz = v.bellHz * ratios[k] * (1 + side * 0.0012 * rng.range(0.5, 1.5)),
                    .gain = gains[k],
                    .t60 = v.bellT60 * std::pow(1.0 / ratios[k], 0.45),
                    .rise = 0.0003,
                    .pan = side * 0.4 * v.width,
                    .phase = rng.uniform() * twoPi });
    Stereo bell(n);
    addModes(bell, rate, modes);
    levelPart(bell, rate, 0.3 * v.bell);
    return bell;
}

// Six detuned squares at inharmonic ratios: the raw clang under a hi-hat's metallic edge.
Buffer squareCluster(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    constexpr std::array<double, 6> ratios = { 1.0, 1.3478, 1.6172, 1.9306, 2.5113, 2.8457 };
    std::vector<Square> squares;
    for (double r : ratios)
        squares.emplace_back(rate, v.metalHz * r, rng.uniform());
    Buffer metal(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::array<double, 6> s;
        for (std::size_t k = 0; k < 6; ++k)
            s[k] = squares[k].next();
        // Products of pairs add sum and difference tones: a denser, less organ-like clang.
        metal[i] = s[0] + s[1] + s[2] + s[3] + s[4] + s[5]
            + 0.6 * (s[0] * s[3] + s[1] * s[4] + s[2] * s[5]);
    }
    return metal;
}

// The clang, kept to a high band so only its bite is heard, and cut short.
Buffer metalPart(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    Buffer metal = filtered(squareCluster(v, n, rate, rng),
        { Biquad::bandPass(rate, v.metalBand, 0.9), Biquad::highPass(rate, 0.55 * v.metalBand),
            Biquad::highPass(rate, 0.55 * v.metalBand) });
    applyDecay(metal, rate, 0.0003, v.metalT60);
    levelPart(metal, rate, 0.3 * v.metal);
    return metal;
}

// The explosive noise of the hit itself.
Stereo burstPart(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    Stereo burst = stereoNoise(n, rng, v.width);
    for (Buffer* b : { &burst.left, &burst.right }) {
        *b = filtered(std::move(*b),
            { Biquad::highPass(rate, v.noiseLow), Biquad::lowPass(rate, v.noiseHigh) });
        applyDecay(*b, rate, 0.0003, v.burstT60);
    }
    levelPart(burst, rate, 0.3 * v.burst);
    return burst;
}

// A real plate loses its highs first, so the wash's low-pass closes over the decay.
void darkenOverTime(Buffer& b, const CymbalVoice& v, double rate)
{
    Biquad hp = Biquad::highPass(rate, 0.8 * v.noiseLow);
    Svf lp;
    const double close = std::exp(-1.0 / (0.4 * v.washT60 * rate));
    double cutoff = v.noiseHigh;
    for (std::size_t i = 0; i < b.size(); ++i) {
        // Retuning every sample costs a tangent each; every 32 is smooth enough.
        if ((i & 31) == 0)
            lp.tune(rate, cutoff, 0.6);
        b[i] = lp.process(hp.process(b[i])).low;
        cutoff = 0.45 * v.noiseHigh + close * (cutoff - 0.45 * v.noiseHigh);
    }
}

// The long noisy wash that rings on after the burst.
Stereo washPart(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    Stereo wash = stereoNoise(n, rng, v.width);
    for (Buffer* b : { &wash.left, &wash.right }) {
        darkenOverTime(*b, v, rate);
        applyDecay(*b, rate, 0.012, v.washT60);
    }
    levelPart(wash, rate, 0.3 * v.wash);
    return wash;
}

// Slow random swell and flutter of the whole plate: hats rattling against each other, or the
// shimmer of a big plate.
void applyChatter(Stereo& out, double chatter, double rate, Rng& rng)
{
    const std::size_t n = out.frames();
    Buffer wobble = whiteNoise(n, rng);
    Biquad::lowPass(rate, 18, 0.9).run(wobble);
    const double size = std::max(rms(wobble, 0, n), 1e-9);
    for (std::size_t i = 0; i < n; ++i) {
        const double g = std::max(0.0, 1.0 + chatter * wobble[i] / size);
        out.left[i] *= g;
        out.right[i] *= g;
    }
}

// Drives the plate hard into a lopsided curve: rough, buzzy intermodulation that eases off as
// the plate dies down, the dirt of a china.
void applyTrash(Stereo& out, double trash)
{
    const double p = std::max(out.peak(), 1e-9);
    for (Buffer* b : { &out.left, &out.right })
        for (double& x : *b) {
            const double y = x / p;
            x = p * std::tanh(trash * (y + 0.3 * y * y)) / trash;
        }
}

// The stick's tip on the metal: a very short, bright tick.
Buffer tipPart(const CymbalVoice& v, std::size_t n, double rate, Rng& rng)
{
    Buffer tip
        = filtered(noiseBurst(n, rate, rng, 0.00005, 0.006), { Biquad::highPass(rate, 4000, 0.7) });
    levelPart(tip, rate, 0.3 * v.stick);
    return tip;
}

} // namespace

// Each part draws on the same random sequence, so the parts are made in a fixed order: changing
// it would change every cymbal of every kit.
Stereo renderCymbal(const CymbalVoice& v, double rate, Rng& rng)
{
    const std::size_t n = framesOf(v.length, rate);
    Stereo out(n);
    if (v.modeLevel > 0)
        addModes(out, rate, plateModes(v, rng));
    if (v.ping > 0)
        out.add(pingPart(v, n, rate, rng), 1.0);
    if (v.bell > 0)
        out.add(bellPart(v, n, rate, rng), 1.0);
    if (v.metal > 0)
        out.addMono(metalPart(v, n, rate, rng), 1.0);
    if (v.burst > 0)
        out.add(burstPart(v, n, rate, rng), 1.0);
    if (v.wash > 0)
        out.add(washPart(v, n, rate, rng), 1.0);
    if (v.chatter > 0)
        applyChatter(out, v.chatter, rate, rng);
    if (v.trash > 0)
        applyTrash(out, v.trash);
    if (v.stick > 0)
        out.addMono(tipPart(v, n, rate, rng), 1.0);

    if (v.darkHz > 0)
        filterStereo(out, Biquad::lowPass(rate, v.darkHz));
    filterStereo(out, Biquad::highPass(rate, std::min(0.5 * v.lowHz, 200.0)));
    return out;
}

} // namespace kitsynth
