// The instruments of a drum kit, each rendered dry (no room) from a handful of settings.
#pragma once

#include "Dsp.h"

namespace kitsynth {

struct KickVoice {
    double startHz = 150; // pitch at the beater's impact
    double endHz = 52; // pitch the head settles to
    double bendTime = 0.03; // time constant of the drop
    double t60 = 0.35; // body decay
    double sub = 0.3; // share of the long low tail
    double subT60 = 0.8;
    double overtone = 0.2; // first off-centre head mode
    double click = 0.3; // beater on the head
    double clickHz = 3500;
    double clickT60 = 0.015;
    double knock = 0.25; // the papery mid thud of the batter head
    double knockHz = 420;
    double drive = 1.0;
    double length = 0.6;
};

struct SnareVoice {
    double hz = 200; // batter head fundamental
    double t60 = 0.3;
    double bend = 0.05;
    double resoRatio = 1.48; // snare-side head against the batter head
    double resoLevel = 0.45;
    double shell = 0.15; // wooden or metal shell resonance
    double shellHz = 700;
    double wires = 0.7;
    double wiresT60 = 0.3;
    double wiresLow = 1800; // band of the wire rattle
    double wiresHigh = 9000;
    double stick = 0.4; // the tip hitting the head
    double crack = 0.3; // upper-mid crack of a hard rimshot-like hit
    double crackHz = 1800;
    double drive = 1.0;
    double length = 0.6;
};

struct TomVoice {
    double hz = 120;
    double t60 = 0.8;
    double bend = 0.2; // heads are tighter while they swing wide
    double bendTime = 0.06;
    double resoDetune = 0.025; // resonant head a little above the batter head: slow beating
    double overtones = 1.0; // level of the higher head modes
    double stick = 0.3;
    double thump = 0.3;
    double drive = 0.8;
    double length = 1.0;
};

// One engine for every metal plate: hats, rides, crashes, chinas, splashes.
struct CymbalVoice {
    // Plate modes, spread at random over a range and weighted by a broad spectral hump.
    int modes = 160;
    double lowHz = 400;
    double highHz = 15000;
    double peakHz = 5000; // centre of the hump
    double spread = 1.8; // octaves either side before the hump falls off a lot
    double modeLevel = 1.0;
    double t60 = 3.0; // at 1 kHz
    double damping = 0.35; // higher modes die faster: t60 * (1 kHz / f) ^ damping
    double rise = 0.03; // highest modes build up over this time
    // Noise: an explosive burst at the hit and a long wash.
    double burst = 0.5;
    double burstT60 = 0.3;
    double wash = 0.3;
    double washT60 = 2.5;
    double noiseLow = 3000;
    double noiseHigh = 14000;
    // Detuned square oscillators at inharmonic ratios: the hard metallic edge of hats.
    double metal = 0.0;
    double metalHz = 400;
    double metalBand = 9000;
    double metalT60 = 0.2;
    // Ride bow ping: a cluster of strong modes around one frequency.
    double ping = 0.0;
    double pingHz = 3800;
    double pingT60 = 1.4;
    // Bell: a few strong, tonal modes of the cup.
    double bell = 0.0;
    double bellHz = 800;
    double bellT60 = 2.5;
    // Stick tip on the metal.
    double stick = 0.2;
    // Hats rattling against each other, or the shimmer of a big plate.
    double chatter = 0.0;
    // Harsh, dirty saturation of a china.
    double trash = 0.0;
    double darkHz = 0.0; // final low-pass, 0 for none
    double width = 0.6;
    double length = 3.0;
};

Stereo renderKick(const KickVoice& v, double rate, Rng& rng);
Stereo renderSnare(const SnareVoice& v, double rate, Rng& rng);
Stereo renderTom(const TomVoice& v, double rate, Rng& rng);
Stereo renderCymbal(const CymbalVoice& v, double rate, Rng& rng);

} // namespace kitsynth
