#pragma once

#include "audio/AudioFormat.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace audio {

// Turns frames of bytes in a line's format into interleaved float: mono stays one channel (it
// is converted as one, and spread to both sides after), everything else comes out stereo.
// Integer samples are scaled by a power of two (-1 <= x < 1), so 8-, 16- and 24-bit values
// come out exactly; float samples within full scale pass unchanged, larger ones are clipped to
// it and NaN and infinities come out silent. Wider layouts are folded down to stereo at the
// usual levels; a fold-down may pass full scale, as the same sound on speakers would add up.
// One thread at a time may decode with it.
class SampleDecoder {
public:
    // [any] True when a line can take this format.
    static bool accepts(const AudioFormat& format);
    // [any] For a refused format, what a user can do about it in a few words (the rates that
    // play), or nothing when the format as a whole is the reason.
    static std::string refusalHint(const AudioFormat& format);

    // format must be accepted. maxFrames bounds one call of decode.
    SampleDecoder(const AudioFormat& format, int maxFrames);

    // [any] 1 for mono, 2 for everything else.
    int outputChannels() const { return format_.channels == 1 ? 1 : 2; }
    // [player] Decodes frames whole frames from in to out (outputChannels() * frames floats).
    void decode(const std::byte* in, int frames, float* out);

    // [any] The fold-down gains from each input channel to left and right.
    const std::vector<std::array<float, 2>>& channelGains() const { return gains_; }

private:
    void toFloat(const std::byte* in, std::size_t samples, float* out) const;

    AudioFormat format_;
    std::vector<float> scratch_; // one call's samples, all channels, before the fold-down
    std::vector<std::array<float, 2>> gains_;
};

} // namespace audio
