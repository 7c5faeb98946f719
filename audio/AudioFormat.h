#pragma once

#include <string>

namespace audio {

// How the bytes of a sample are to be read.
enum class Encoding { PCM_SIGNED, PCM_UNSIGNED, PCM_FLOAT };

// The layout of a stream of sample frames, as an input stream reports it and a line takes it.
struct AudioFormat {
    Encoding encoding = Encoding::PCM_SIGNED;
    float sampleRate = 0; // frames per second
    int sampleSizeInBits = 0; // 8, 16, 24, 32 or 64
    int channels = 0;
    int frameSize = 0; // bytes per frame: channels * bytes per sample
    bool bigEndian = false;

    std::string toString() const;
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// What a caller asks of the audio service: a source data line (one the program writes to)
// that takes exactly this format. Buffer sizes are left to the service.
struct DataLineInfo {
    AudioFormat format;
};

} // namespace audio
