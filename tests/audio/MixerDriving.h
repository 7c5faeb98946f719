#pragma once

// Driving a mixer block by block with no device, as the tests of lines and the mix do.

#include "audio/AePlayWave.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace mixer_test {

inline constexpr int block = 256;

// Runs produce (writes, then drain) on a thread of its own and renders on this one, a block
// whenever paced has a block ready or its last frames, as a device that never runs dry would.
// Returns everything rendered.
inline std::vector<float> playThrough(
    audio::Mixer& mixer, audio::MixerLine& paced, const std::function<void()>& produce)
{
    std::atomic<bool> done { false };
    std::thread producer([&] {
        produce();
        done = true;
    });
    std::vector<float> out;
    std::vector<float> one(block * 2);
    while (!done) {
        // As many frames as a line needs to start, so a line never runs dry here.
        const std::uint64_t pending = paced.framesPending();
        if (pending >= audio::config::startFrames || (pending > 0 && paced.inputEnded())) {
            mixer.render(one.data(), block);
            out.insert(out.end(), one.begin(), one.end());
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    return out;
}

// Writes size bytes of frameSize-byte frames as the worker does, in its chunks cut to whole
// frames, then drains, while this thread renders: the whole sound as it plays.
inline std::vector<float> playWhole(audio::Mixer& mixer, audio::MixerLine& line,
    const std::byte* bytes, std::size_t size, std::size_t frameSize)
{
    const std::size_t chunk
        = AePlayWave::EXTERNAL_BUFFER_SIZE - AePlayWave::EXTERNAL_BUFFER_SIZE % frameSize;
    return playThrough(mixer, line, [&] {
        for (std::size_t at = 0; at < size; at += chunk) {
            const std::size_t n = std::min(chunk, size - at);
            line.write(bytes, static_cast<std::int32_t>(at), static_cast<std::int32_t>(n));
        }
        line.drain();
    });
}

// Samples of one side (0 left, 1 right) of interleaved stereo.
inline std::vector<float> side(const std::vector<float>& stereo, int which)
{
    std::vector<float> out;
    for (std::size_t i = static_cast<std::size_t>(which); i < stereo.size(); i += 2)
        out.push_back(stereo[i]);
    return out;
}

} // namespace mixer_test
