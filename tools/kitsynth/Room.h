// A small stereo room: early reflections plus a diffuse tail from a feedback delay network.
#pragma once

#include "Dsp.h"

namespace kitsynth {

struct RoomSettings {
    double size = 1.0; // scales every delay: 1 is a mid-sized studio room
    double t60 = 0.7; // decay of the diffuse tail at low and mid frequencies
    double highT60 = 0.3; // decay above a few kHz (walls and air absorb the highs first)
    double predelay = 0.004; // seconds before the first reflection
    double early = 0.6; // level of the early reflections against the tail
    double lowCut = 120; // Hz; keeps the room from booming
    double highCut = 9000; // Hz
    double width = 1.0; // 0 mono .. 1 fully decorrelated sides
};

// Returns only the room's sound (no dry signal), as long as the input.
Stereo roomOf(const Stereo& dry, double rate, const RoomSettings& settings, std::uint64_t seed);

} // namespace kitsynth
