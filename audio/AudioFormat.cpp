#include "audio/AudioFormat.h"

#include <sstream>

namespace audio {

std::string AudioFormat::toString() const
{
    std::ostringstream text;
    text << (encoding == Encoding::PCM_SIGNED    ? "PCM_SIGNED"
            : encoding == Encoding::PCM_UNSIGNED ? "PCM_UNSIGNED"
                                                 : "PCM_FLOAT")
         << ' ' << sampleRate << " Hz, " << sampleSizeInBits << " bit, ";
    if (channels == 1)
        text << "mono";
    else if (channels == 2)
        text << "stereo";
    else
        text << channels << " channels";
    text << ", " << frameSize << " bytes/frame";
    if (sampleSizeInBits > 8)
        text << ", " << (bigEndian ? "big-endian" : "little-endian");
    return text.str();
}

} // namespace audio
