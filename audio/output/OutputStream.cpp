#include "audio/output/OutputStream.h"

#include "audio/output/OutputConfig.h"

#include <algorithm>

namespace audio {

bool renderOrSilence(RenderSource* source, float* out, std::uint32_t frames) noexcept
{
    const std::size_t samples = std::size_t(frames) * config::deviceChannels;
    if (!source) {
        std::fill_n(out, samples, 0.0f);
        return false;
    }
    // A server may ask for any number of frames at once.
    for (std::uint32_t done = 0; done < frames;) {
        const auto piece = std::min<std::uint32_t>(frames - done, config::maxRenderFrames);
        source->render(out + std::size_t(done) * config::deviceChannels, static_cast<int>(piece));
        done += piece;
    }
    return std::any_of(out, out + samples, [](float x) { return x != 0.0f; });
}

} // namespace audio
