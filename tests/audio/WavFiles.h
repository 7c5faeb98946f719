#pragma once

// Tiny sound files written by the tests themselves with libsndfile.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sndfile.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace audio_test {

// A fresh folder of this process's own under the system's temporary folder.
inline std::filesystem::path scratchFolder(const std::string& name)
{
    const auto path = std::filesystem::temp_directory_path()
        / ("tamborel-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
}

// Writes interleaved samples (-1..1) as a file of the given libsndfile format.
inline void writeSound(const std::filesystem::path& path, int format, int channels, int rate,
    const std::vector<double>& samples)
{
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
    sf_writef_double(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(file);
}

// A sine of the given frequency, the same on every channel but scaled down a little per channel
// so that channels can be told apart.
inline std::vector<double> sine(
    int frames, int channels, double frequency, int rate, double level = 0.5)
{
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(
                level * (1.0 - 0.1 * c) * std::sin(2 * 3.14159265358979 * frequency * i / rate));
    return samples;
}

} // namespace audio_test
