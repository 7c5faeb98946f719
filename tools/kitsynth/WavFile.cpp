#include "WavFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace kitsynth {

namespace {

struct Closer {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

// Our own rounding to integers, so every build writes the same bytes.
template <typename T> std::vector<T> quantised(const std::vector<double>& frames, double full)
{
    std::vector<T> out(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        out[i] = static_cast<T>(
            std::clamp(std::lround(frames[i] * full), -std::lround(full) - 1, std::lround(full)));
    return out;
}

} // namespace

std::string writeWav(const std::filesystem::path& path, const Sample& sample)
{
    const FileFormat& f = sample.format;
    SF_INFO info {};
    info.samplerate = f.rate;
    info.channels = f.channels;
    info.format = SF_FORMAT_WAV
        | (f.encoding == Encoding::Pcm16        ? SF_FORMAT_PCM_16
                : f.encoding == Encoding::Pcm24 ? SF_FORMAT_PCM_24
                                                : SF_FORMAT_FLOAT);
    std::unique_ptr<SNDFILE, Closer> file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file)
        return sf_strerror(nullptr);
    // The PEAK chunk carries a time stamp: leave it out so the files are reproducible.
    sf_command(file.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    const Stereo& a = sample.audio;
    std::vector<double> frames(a.frames() * static_cast<std::size_t>(f.channels));
    for (std::size_t i = 0; i < a.frames(); ++i) {
        if (f.channels == 1) {
            frames[i] = a.left[i];
        } else {
            frames[2 * i] = a.left[i];
            frames[2 * i + 1] = a.right[i];
        }
    }
    const auto count = static_cast<sf_count_t>(a.frames());
    sf_count_t written = 0;
    switch (f.encoding) {
    case Encoding::Pcm16: {
        const auto data = quantised<short>(frames, 32767.0);
        written = sf_writef_short(file.get(), data.data(), count);
        break;
    }
    case Encoding::Pcm24: {
        // libsndfile takes 24-bit samples in the top bits of an int.
        auto data = quantised<int>(frames, 8388607.0);
        for (int& x : data)
            x = static_cast<int>(static_cast<std::uint32_t>(x) << 8);
        written = sf_writef_int(file.get(), data.data(), count);
        break;
    }
    case Encoding::Float32: {
        std::vector<float> data(frames.begin(), frames.end());
        written = sf_writef_float(file.get(), data.data(), count);
        break;
    }
    }
    if (written != count)
        return sf_strerror(file.get());
    return {};
}

} // namespace kitsynth
