// The three demo kits: their sounds, their rooms and their file formats.
#pragma once

#include "Dsp.h"

#include <string>
#include <vector>

namespace kitsynth {

enum class Encoding { Pcm16, Pcm24, Float32 };

struct FileFormat {
    int rate = 44100;
    int channels = 2;
    Encoding encoding = Encoding::Pcm16;
};

struct Sample {
    std::string file; // e.g. "Bass.wav"
    FileFormat format;
    Stereo audio; // a mono format uses the left channel only
};

// "acoustic", "rock", "metal"
const std::vector<std::string>& kitNames();

// Renders all twelve samples of a kit, finished and normalised, in drum-table order.
std::vector<Sample> renderKit(const std::string& kit);

} // namespace kitsynth
