#pragma once

#include <string>
#include <vector>

namespace audio {

// How the bytes of a sample are to be read.
enum class Encoding { PCM_SIGNED, PCM_UNSIGNED, PCM_FLOAT };

// Where a channel is meant to sound, for folding more than two channels down to stereo.
enum class Speaker {
    FrontLeft,
    FrontRight,
    FrontCentre,
    LowFrequency,
    BackLeft,
    BackRight,
    SideLeft,
    SideRight,
    BackCentre,
    Other
};

// The layout of a stream of sample frames, as an input stream reports it and a line takes it.
struct AudioFormat {
    Encoding encoding = Encoding::PCM_SIGNED;
    float sampleRate = 0; // frames per second
    int sampleSizeInBits = 0; // 8, 16, 24, 32 or 64
    int channels = 0;
    int frameSize = 0; // bytes per frame: channels * bytes per sample
    bool bigEndian = false;
    // One speaker a channel, when the file says; empty for the usual order of its channel count.
    std::vector<Speaker> speakers;

    // [any]
    std::string toString() const;
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// What a caller asks of the audio service: a source data line (one the program writes to)
// that takes exactly this format. Buffer sizes are left to the service.
struct DataLineInfo {
    AudioFormat format;
};

} // namespace audio
