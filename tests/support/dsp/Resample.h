#pragma once

// One channel brought to another sample rate with libsamplerate, for measurements: a sample
// compared with a recording must be at the recording's rate. Link PkgConfig::SAMPLERATE.

#include <samplerate.h>

#include <cstddef>
#include <vector>

namespace dsp {

inline std::vector<double> resample(const std::vector<double>& in, int from, int to)
{
    if (from == to || in.empty())
        return in;
    const double ratio = double(to) / from;
    std::vector<float> input(in.begin(), in.end());
    std::vector<float> output(static_cast<std::size_t>(input.size() * ratio) + 16);
    SRC_DATA data {};
    data.data_in = input.data();
    data.input_frames = static_cast<long>(input.size());
    data.data_out = output.data();
    data.output_frames = static_cast<long>(output.size());
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1) != 0)
        return {};
    output.resize(static_cast<std::size_t>(data.output_frames_gen));
    return { output.begin(), output.end() };
}

} // namespace dsp
