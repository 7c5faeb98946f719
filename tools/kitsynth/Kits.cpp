#include "Kits.h"

#include "Room.h"
#include "Voices.h"

#include <deque>
#include <stdexcept>
#include <variant>

namespace kitsynth {

namespace {

using Voice = std::variant<KickVoice, SnareVoice, TomVoice, CymbalVoice>;

enum class Group { Kick, Drum, Cymbal };

struct Piece {
    std::string file;
    Group group;
    Voice voice;
    double pan = 0; // where it sits in the kit, seen from the drummer's stool
    double level = 0; // loudness against the kit's kick, in dB
    double roomScale = 1; // some pieces are miked closer than others
};

struct Kit {
    FileFormat drumFormat, cymbalFormat;
    double loudness = -14; // short-term loudness of the kick; the rest follows their levels
    RoomSettings room;
    double kickRoom = 0, drumRoom = 0, cymbalRoom = 0; // sends into the room
    // Parallel compression on the drums: a squashed copy, brought up to the same peak, is mixed
    // under the natural one to thicken the body and sustain.
    CompressorSettings squash;
    double squashMix = 0;
    double cymbalShelfDb = 0; // brightness of the cymbals above 7 kHz
    std::vector<Piece> pieces;
};

// Every kit's cymbals share one design; a kit tilts it darker or brighter.
CymbalVoice closedHat()
{
    return { .modes = 70,
        .lowHz = 2500,
        .highHz = 15000,
        .peakHz = 7500,
        .spread = 1.2,
        .modeLevel = 0.8,
        .t60 = 0.1,
        .damping = 0.3,
        .rise = 0.001,
        .burst = 0.8,
        .burstT60 = 0.05,
        .wash = 0.25,
        .washT60 = 0.14,
        .noiseLow = 5000,
        .noiseHigh = 14000,
        .metal = 0.6,
        .metalHz = 420,
        .metalBand = 8500,
        .metalT60 = 0.1,
        .stick = 0.5,
        .width = 0.45,
        .length = 0.3 };
}

CymbalVoice openHat()
{
    CymbalVoice v = closedHat();
    v.t60 = 1.1;
    v.burstT60 = 0.35;
    v.wash = 0.55;
    v.washT60 = 1.3;
    v.metalT60 = 0.9;
    v.chatter = 0.3;
    v.stick = 0.3;
    v.width = 0.45;
    v.length = 1.8;
    return v;
}

CymbalVoice ride()
{
    return { .modes = 180,
        .lowHz = 350,
        .highHz = 14000,
        .peakHz = 4500,
        .spread = 1.6,
        .modeLevel = 0.7,
        .t60 = 4.5,
        .damping = 0.4,
        .rise = 0.06,
        .burst = 0.2,
        .burstT60 = 0.15,
        .wash = 0.3,
        .washT60 = 3.5,
        .noiseLow = 4000,
        .noiseHigh = 12000,
        .ping = 1.0,
        .pingHz = 3400,
        .pingT60 = 2.5,
        .stick = 0.35,
        .width = 0.5,
        .length = 3.2 };
}

CymbalVoice rideCup()
{
    CymbalVoice v = ride();
    v.modeLevel = 0.35;
    v.ping = 0.2;
    v.pingHz = 4500;
    v.bell = 1.0;
    v.bellHz = 780;
    v.bellT60 = 2.6;
    v.burst = 0.1;
    v.wash = 0.15;
    v.stick = 0.5;
    return v;
}

CymbalVoice crash()
{
    return { .modes = 220,
        .lowHz = 300,
        .highHz = 19000,
        .peakHz = 5500,
        .spread = 1.8,
        .modeLevel = 1.0,
        .t60 = 4.0,
        .damping = 0.3,
        .rise = 0.03,
        .burst = 1.6,
        .burstT60 = 0.25,
        .wash = 0.6,
        .washT60 = 3.5,
        .noiseLow = 2500,
        .noiseHigh = 14000,
        .stick = 0.2,
        .chatter = 0.1,
        .width = 0.7,
        .length = 3.8 };
}

CymbalVoice china()
{
    return { .modes = 200,
        .lowHz = 250,
        .highHz = 9000,
        .peakHz = 2200,
        .spread = 1.3,
        .modeLevel = 1.0,
        .t60 = 2.2,
        .damping = 0.3,
        .rise = 0.02,
        .burst = 1.4,
        .burstT60 = 0.2,
        .wash = 0.5,
        .washT60 = 2.0,
        .noiseLow = 800,
        .noiseHigh = 7000,
        .stick = 0.3,
        .chatter = 0.15,
        .trash = 2.5,
        .darkHz = 8000,
        .width = 0.6,
        .length = 3.0 };
}

CymbalVoice splash()
{
    return { .modes = 140,
        .lowHz = 700,
        .highHz = 16000,
        .peakHz = 7000,
        .spread = 1.5,
        .modeLevel = 1.0,
        .t60 = 1.0,
        .damping = 0.35,
        .rise = 0.02,
        .burst = 1.3,
        .burstT60 = 0.15,
        .wash = 0.5,
        .washT60 = 0.9,
        .noiseLow = 3000,
        .noiseHigh = 15000,
        .stick = 0.25,
        .width = 0.6,
        .length = 1.5 };
}

std::vector<Piece> cymbals(const CymbalVoice& hat, const CymbalVoice& openHatVoice,
    const CymbalVoice& rideVoice, const CymbalVoice& cup, const CymbalVoice& crashVoice,
    const CymbalVoice& chinaVoice, const CymbalVoice& splashVoice)
{
    return {
        { "HiHat.wav", Group::Cymbal, hat, -0.3, -9, 0.05 },
        { "OHiHat.wav", Group::Cymbal, openHatVoice, -0.3, -6.5 },
        { "Ride.wav", Group::Cymbal, rideVoice, 0.35, -6 },
        { "RideCup.wav", Group::Cymbal, cup, 0.35, -5.5 },
        { "Crash.wav", Group::Cymbal, crashVoice, -0.25, -3.5 },
        { "China.wav", Group::Cymbal, chinaVoice, 0.4, -3.5 },
        { "Splash.wav", Group::Cymbal, splashVoice, -0.1, -5 },
    };
}

std::vector<Piece> drums(const KickVoice& kick, const SnareVoice& snare, const TomVoice& high,
    const TomVoice& mid, const TomVoice& floor)
{
    return {
        { "Bass.wav", Group::Kick, kick, 0.0, 0.0 },
        { "Snare.wav", Group::Drum, snare, 0.0, 0.0 },
        { "Tom1.wav", Group::Drum, high, -0.2, -0.5 },
        { "Tom2.wav", Group::Drum, mid, 0.05, -0.5 },
        { "FloorTom.wav", Group::Drum, floor, 0.3, -0.5 },
    };
}

void append(std::vector<Piece>& pieces, const std::vector<Piece>& more)
{
    pieces.insert(pieces.end(), more.begin(), more.end());
}

// Each kit is set out in the same steps: how it is recorded and mixed (file formats, loudness,
// room, sends, compression), its drums, then its cymbals.

// ---------------------------------------------------------------- acoustic
// Natural and warm: open tuning, soft beater, a lively room, darker cymbals.

Kit acousticMix()
{
    Kit kit;
    kit.drumFormat = kit.cymbalFormat = { 44100, 2, Encoding::Pcm16 };
    kit.loudness = -14.5;
    kit.room = { .size = 1.2,
        .t60 = 0.9,
        .highT60 = 0.35,
        .predelay = 0.003,
        .early = 0.7,
        .lowCut = 100,
        .highCut = 8000 };
    kit.kickRoom = 0.25;
    kit.drumRoom = 0.35;
    kit.cymbalRoom = 0.15;
    kit.cymbalShelfDb = -2.5;
    return kit;
}

KickVoice acousticKick()
{
    return { .startHz = 140,
        .endHz = 55,
        .bendTime = 0.03,
        .t60 = 0.35,
        .sub = 0.25,
        .subT60 = 0.7,
        .overtone = 0.25,
        .click = 0.18,
        .clickHz = 2500,
        .clickT60 = 0.012,
        .knock = 0.35,
        .knockHz = 380,
        .drive = 0.8,
        .length = 0.7 };
}

SnareVoice acousticSnare()
{
    return { .hz = 190,
        .t60 = 0.32,
        .bend = 0.04,
        .resoRatio = 1.46,
        .resoLevel = 0.4,
        .shell = 0.2,
        .shellHz = 620,
        .wires = 0.65,
        .wiresT60 = 0.35,
        .wiresLow = 1600,
        .wiresHigh = 8500,
        .stick = 0.3,
        .crack = 0.25,
        .crackHz = 1500,
        .drive = 0.6,
        .length = 0.8 };
}

TomVoice acousticTom(double hz, double t60, double bend, double length)
{
    return { .hz = hz,
        .t60 = t60,
        .bend = bend,
        .stick = 0.25,
        .thump = 0.3,
        .drive = 0.6,
        .length = length };
}

std::vector<Piece> acousticCymbals()
{
    CymbalVoice hat = closedHat(), open = openHat();
    for (CymbalVoice* v : { &hat, &open })
        v->darkHz = 13000;
    CymbalVoice crashVoice = crash();
    crashVoice.darkHz = 13000;
    crashVoice.peakHz = 4500;
    CymbalVoice rideVoice = ride();
    rideVoice.pingHz = 3000;
    return cymbals(hat, open, rideVoice, rideCup(), crashVoice, china(), splash());
}

Kit acoustic()
{
    Kit kit = acousticMix();
    kit.pieces = drums(acousticKick(), acousticSnare(), acousticTom(165, 0.9, 0.15, 1.3),
        acousticTom(128, 1.1, 0.17, 1.5), acousticTom(92, 1.4, 0.2, 1.9));
    append(kit.pieces, acousticCymbals());
    return kit;
}

// ---------------------------------------------------------------- rock
// Bigger and punchier: harder hits, deeper toms, a big compressed room.

Kit rockMix()
{
    Kit kit;
    kit.drumFormat = kit.cymbalFormat = { 48000, 2, Encoding::Pcm24 };
    kit.loudness = -13.5;
    kit.room = { .size = 1.6,
        .t60 = 1.2,
        .highT60 = 0.45,
        .predelay = 0.005,
        .early = 0.6,
        .lowCut = 120,
        .highCut = 9000 };
    kit.kickRoom = 0.22;
    kit.drumRoom = 0.45;
    kit.cymbalRoom = 0.18;
    kit.squash = { .thresholdDb = -20,
        .ratio = 5,
        .attack = 0.0003,
        .release = 0.06,
        .kneeDb = 6,
        .lookahead = 0.002 };
    kit.squashMix = 0.85;
    return kit;
}

KickVoice rockKick()
{
    return { .startHz = 145,
        .endHz = 50,
        .bendTime = 0.03,
        .t60 = 0.4,
        .sub = 0.35,
        .subT60 = 0.8,
        .overtone = 0.2,
        .click = 0.5,
        .clickHz = 3200,
        .clickT60 = 0.015,
        .knock = 0.3,
        .knockHz = 450,
        .drive = 1.6,
        .length = 0.8 };
}

SnareVoice rockSnare()
{
    return { .hz = 205,
        .t60 = 0.35,
        .bend = 0.05,
        .resoRatio = 1.5,
        .resoLevel = 0.45,
        .shell = 0.15,
        .shellHz = 700,
        .wires = 0.75,
        .wiresT60 = 0.32,
        .wiresLow = 1800,
        .wiresHigh = 9500,
        .stick = 0.45,
        .crack = 0.45,
        .crackHz = 1900,
        .drive = 1.3,
        .length = 0.9 };
}

TomVoice rockTom(double hz, double t60, double bend, double length)
{
    return { .hz = hz,
        .t60 = t60,
        .bend = bend,
        .stick = 0.4,
        .thump = 0.4,
        .drive = 1.2,
        .length = length };
}

std::vector<Piece> rockCymbals()
{
    CymbalVoice crashVoice = crash();
    crashVoice.t60 = 4.5;
    crashVoice.washT60 = 4.0;
    crashVoice.length = 4.0;
    crashVoice.lowHz = 250;
    CymbalVoice open = openHat();
    open.t60 = 1.3;
    open.length = 2.0;
    return cymbals(closedHat(), open, ride(), rideCup(), crashVoice, china(), splash());
}

Kit rock()
{
    Kit kit = rockMix();
    kit.pieces = drums(rockKick(), rockSnare(), rockTom(135, 1.0, 0.2, 1.5),
        rockTom(105, 1.25, 0.22, 1.7), rockTom(75, 1.6, 0.25, 2.1));
    append(kit.pieces, rockCymbals());
    return kit;
}

// ---------------------------------------------------------------- metal
// Very tight and bright: clicky kick, high cracking snare, short toms, aggressive cymbals.

Kit metalMix()
{
    Kit kit;
    // Drums as a classic mono CD-rate recording, cymbals as wide studio float files: the
    // player meets a mixed kit here.
    kit.drumFormat = { 44100, 1, Encoding::Pcm16 };
    kit.cymbalFormat = { 48000, 2, Encoding::Float32 };
    kit.loudness = -13.5;
    kit.room = { .size = 0.7,
        .t60 = 0.45,
        .highT60 = 0.2,
        .predelay = 0.002,
        .early = 0.5,
        .lowCut = 150,
        .highCut = 10000 };
    kit.kickRoom = 0.06;
    kit.drumRoom = 0.15;
    kit.cymbalRoom = 0.1;
    kit.squash = { .thresholdDb = -18,
        .ratio = 4,
        .attack = 0.0003,
        .release = 0.04,
        .kneeDb = 4,
        .lookahead = 0.002 };
    kit.squashMix = 0.35;
    kit.cymbalShelfDb = 3;
    return kit;
}

KickVoice metalKick()
{
    return { .startHz = 170,
        .endHz = 60,
        .bendTime = 0.015,
        .t60 = 0.22,
        .sub = 0.2,
        .subT60 = 0.45,
        .overtone = 0.15,
        .click = 1.3,
        .clickHz = 4200,
        .clickT60 = 0.014,
        .knock = 0.15,
        .knockHz = 600,
        .drive = 1.4,
        .length = 0.45 };
}

SnareVoice metalSnare()
{
    return { .hz = 270,
        .t60 = 0.25,
        .bend = 0.06,
        .resoRatio = 1.5,
        .resoLevel = 0.35,
        .shell = 0.12,
        .shellHz = 900,
        .wires = 0.8,
        .wiresT60 = 0.22,
        .wiresLow = 2400,
        .wiresHigh = 11000,
        .stick = 0.6,
        .crack = 0.7,
        .crackHz = 2600,
        .drive = 1.5,
        .length = 0.55 };
}

TomVoice metalTom(double hz, double t60, double length)
{
    return { .hz = hz,
        .t60 = t60,
        .bend = 0.18,
        .stick = 0.6,
        .thump = 0.3,
        .drive = 1.0,
        .length = length };
}

std::vector<Piece> metalCymbals()
{
    CymbalVoice hat = closedHat();
    hat.metal = 0.8;
    hat.metalHz = 480;
    CymbalVoice open = openHat();
    open.metal = 0.8;
    open.metalHz = 480;
    CymbalVoice rideVoice = ride();
    rideVoice.pingHz = 4000;
    CymbalVoice crashVoice = crash();
    crashVoice.peakHz = 6500;
    CymbalVoice chinaVoice = china();
    chinaVoice.trash = 4;
    CymbalVoice splashVoice = splash();
    splashVoice.peakHz = 8000;
    return cymbals(hat, open, rideVoice, rideCup(), crashVoice, chinaVoice, splashVoice);
}

Kit metal()
{
    Kit kit = metalMix();
    kit.pieces = drums(metalKick(), metalSnare(), metalTom(190, 0.55, 0.9),
        metalTom(150, 0.65, 1.0), metalTom(110, 0.8, 1.2));
    append(kit.pieces, metalCymbals());
    return kit;
}

Kit kitNamed(const std::string& name)
{
    if (name == "acoustic")
        return acoustic();
    if (name == "rock")
        return rock();
    if (name == "metal")
        return metal();
    throw std::invalid_argument("unknown kit " + name);
}

// ---------------------------------------------------------------- rendering and levelling

Stereo render(const Voice& voice, double rate, Rng& rng)
{
    return std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, KickVoice>)
                return renderKick(v, rate, rng);
            else if constexpr (std::is_same_v<V, SnareVoice>)
                return renderSnare(v, rate, rng);
            else if constexpr (std::is_same_v<V, TomVoice>)
                return renderTom(v, rate, rng);
            else
                return renderCymbal(v, rate, rng);
        },
        voice);
}

constexpr double ceilingDb = -1.0;
constexpr double maxLimitingDb = 4.0;

// Loudest 200 ms of the sound (about how long the ear sums a hit), weighted roughly as the ear
// hears it (a lift above 1.5 kHz and a cut of the deep lows), in dB against a full-scale sine in
// both channels.
double shortTermLoudness(const Stereo& s, double rate)
{
    Buffer l = s.left, r = s.right;
    for (Buffer* b : { &l, &r }) {
        Biquad::highShelf(rate, 1500, 4).run(*b);
        Biquad::highPass(rate, 38, 0.5).run(*b);
    }
    const auto window = static_cast<std::size_t>(0.2 * rate);
    const auto hop = static_cast<std::size_t>(0.05 * rate);
    double loudest = 0;
    for (std::size_t at = 0; at == 0 || at + window <= l.size(); at += hop) {
        double sum = 0;
        for (std::size_t i = at; i < std::min(at + window, l.size()); ++i)
            sum += l[i] * l[i] + r[i] * r[i];
        loudest = std::max(loudest, sum / static_cast<double>(window));
    }
    return -0.691 + 10.0 * std::log10(std::max(loudest, 1e-24));
}

// Look-ahead peak limiter. The gain needed at each sample is spread over the millisecond
// around it, so a transient is turned down smoothly before it arrives, and comes back up
// slowly enough not to distort the low end.
void limit(Stereo& s, double rate, double ceiling)
{
    const std::size_t n = s.frames();
    const auto reach = static_cast<std::size_t>(0.001 * rate);
    Buffer need(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double p = std::max(std::abs(s.left[i]), std::abs(s.right[i]));
        need[i] = p > ceiling ? ceiling / p : 1.0;
    }
    // Lowest need within reach on either side (a sliding minimum); then a box average half as
    // wide, which can never rise above the need of the sample in its middle.
    Buffer floor(n);
    std::deque<std::size_t> window; // indices whose needs increase from front to back
    for (std::size_t i = 0, next = 0; i < n; ++i) {
        for (; next < std::min(n, i + reach + 1); ++next) {
            while (!window.empty() && need[window.back()] >= need[next])
                window.pop_back();
            window.push_back(next);
        }
        while (window.front() + reach < i)
            window.pop_front();
        floor[i] = need[window.front()];
    }
    const std::size_t half = reach / 2;
    Buffer gain(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i > half ? i - half : 0, to = std::min(n, i + half + 1);
        double sum = 0;
        for (std::size_t j = from; j < to; ++j)
            sum += floor[j];
        gain[i] = sum / static_cast<double>(to - from);
    }
    const double release = std::exp(-1.0 / (0.04 * rate));
    double g = 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        g = std::min(gain[i], 1.0 + release * (g - 1.0));
        s.left[i] *= g;
        s.right[i] *= g;
    }
}

void balance(Stereo& s, double pan)
{
    const double angle = (pan + 1.0) * std::numbers::pi / 4.0;
    const double l = std::cos(angle) * std::numbers::sqrt2;
    const double r = std::sin(angle) * std::numbers::sqrt2;
    for (std::size_t i = 0; i < s.frames(); ++i) {
        s.left[i] *= l;
        s.right[i] *= r;
    }
}

// 'reference' is the kick's loudness once finished; the other pieces are levelled against it.
Sample finish(const Kit& kit, const Piece& piece, const std::string& kitName, double& reference)
{
    const bool cymbal = piece.group == Group::Cymbal;
    const FileFormat format = cymbal ? kit.cymbalFormat : kit.drumFormat;
    const double rate = format.rate;
    Rng rng(seedOf(kitName + "/" + piece.file));

    Stereo s = render(piece.voice, rate, rng);
    if (cymbal && kit.cymbalShelfDb != 0)
        filterStereo(s, Biquad::highShelf(rate, 7000, kit.cymbalShelfDb));

    if (!cymbal && kit.squashMix > 0) {
        s.scale(1.0 / std::max(s.peak(), 1e-9));
        Stereo squashed = s;
        compress(squashed, rate, kit.squash);
        squashed.scale(s.peak() / std::max(squashed.peak(), 1e-9));
        s.add(squashed, kit.squashMix);
    }
    const double send = piece.roomScale
        * (piece.group == Group::Kick ? kit.kickRoom
                : cymbal              ? kit.cymbalRoom
                                      : kit.drumRoom);
    if (send > 0) {
        // Level the dry sound first so the send means the same for every instrument.
        s.scale(1.0 / std::max(s.peak(), 1e-9));
        s.add(roomOf(s, rate, kit.room, rng.next()), send);
    }
    balance(s, piece.pan);

    // Clean edges: no DC, a start from zero, and a tail that fades to true silence.
    filterStereo(s, Biquad::highPass(rate, 18));
    const std::size_t fadeFrames = static_cast<std::size_t>(0.3 * s.frames());
    const std::size_t inFrames = static_cast<std::size_t>(0.0001 * rate);
    for (Buffer* b : { &s.left, &s.right }) {
        fadeIn(*b, inFrames);
        fadeOut(*b, fadeFrames);
    }
    if (format.channels == 1)
        for (std::size_t i = 0; i < s.frames(); ++i)
            s.left[i] = s.right[i] = 0.5 * (s.left[i] + s.right[i]);

    // Level by loudness, not by peak, so a kit is balanced and the kits match each other; a
    // look-ahead limiter then keeps the odd sharp transient under the ceiling.
    const double target = (piece.group == Group::Kick ? kit.loudness : reference) + piece.level;
    s.scale(dbToGain(target - shortTermLoudness(s, rate)));
    // A very spiky hit is turned down rather than limited by more than a few dB.
    const double most = dbToGain(ceilingDb + maxLimitingDb);
    if (s.peak() > most)
        s.scale(most / s.peak());
    limit(s, rate, dbToGain(ceilingDb));
    if (piece.group == Group::Kick)
        reference = shortTermLoudness(s, rate);
    s.resize(s.frames() + static_cast<std::size_t>(0.01 * rate));
    return { piece.file, format, std::move(s) };
}

} // namespace

const std::vector<std::string>& kitNames()
{
    static const std::vector<std::string> names = { "acoustic", "rock", "metal" };
    return names;
}

std::vector<Sample> renderKit(const std::string& name)
{
    const Kit kit = kitNamed(name);
    std::vector<Sample> samples;
    double reference = kit.loudness;
    for (const Piece& piece : kit.pieces)
        samples.push_back(finish(kit, piece, name, reference));
    return samples;
}

} // namespace kitsynth
