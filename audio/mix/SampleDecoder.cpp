#include "audio/mix/SampleDecoder.h"

#include "audio/mix/MixConfig.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace audio {

namespace {

using enum Speaker;

// The usual WAVE speaker order for each channel count that has one.
std::vector<Speaker> layoutFor(int channels)
{
    switch (channels) {
    case 3:
        return { FrontLeft, FrontRight, FrontCentre };
    case 4:
        return { FrontLeft, FrontRight, BackLeft, BackRight };
    case 5:
        return { FrontLeft, FrontRight, FrontCentre, BackLeft, BackRight };
    case 6:
        return { FrontLeft, FrontRight, FrontCentre, LowFrequency, BackLeft, BackRight };
    case 7:
        return { FrontLeft, FrontRight, FrontCentre, LowFrequency, BackCentre, SideLeft,
            SideRight };
    case 8:
        return { FrontLeft, FrontRight, FrontCentre, LowFrequency, BackLeft, BackRight, SideLeft,
            SideRight };
    default:
        return {};
    }
}

// Left and right gains of one speaker, at the usual fold-down levels: the fronts at full level
// on their side, centres and surrounds at -3 dB, the LFE left out (a drum sample's low end is
// already in its main channels), a speaker of no known place as a centre.
std::array<float, 2> speakerGains(Speaker speaker)
{
    constexpr float h = 0.70710678f;
    switch (speaker) {
    case FrontLeft:
        return { 1, 0 };
    case FrontRight:
        return { 0, 1 };
    case LowFrequency:
        return { 0, 0 };
    case BackLeft:
    case SideLeft:
        return { h, 0 };
    case BackRight:
    case SideRight:
        return { 0, h };
    case FrontCentre:
    case BackCentre:
    case Other:
        return { h, h };
    }
    return { h, h };
}

// Not scaled down to keep every channel at full level within full scale: a sound that loud on
// every speaker is that loud folded down, and the mix's limiter takes it.
std::vector<std::array<float, 2>> foldDownGains(int channels, const std::vector<Speaker>& speakers)
{
    if (channels == 1)
        return { { 1, 1 } };
    if (channels == 2)
        return { { 1, 0 }, { 0, 1 } };
    std::vector<std::array<float, 2>> gains;
    const auto layout
        = static_cast<int>(speakers.size()) == channels ? speakers : layoutFor(channels);
    for (int c = 0; c < channels; ++c) {
        if (!layout.empty())
            gains.push_back(speakerGains(layout[static_cast<std::size_t>(c)]));
        else // no known layout: even channels left, odd right
            gains.push_back(
                c % 2 == 0 ? std::array<float, 2> { 1, 0 } : std::array<float, 2> { 0, 1 });
    }
    return gains;
}

template <typename T> T loadAs(const std::byte* p, bool swap)
{
    T value;
    std::memcpy(&value, p, sizeof(T));
    if (swap && sizeof(T) > 1) {
        if constexpr (sizeof(T) == 1)
            return value;
        else if constexpr (sizeof(T) == 2)
            value = std::bit_cast<T>(__builtin_bswap16(std::bit_cast<std::uint16_t>(value)));
        else if constexpr (sizeof(T) == 4)
            value = std::bit_cast<T>(__builtin_bswap32(std::bit_cast<std::uint32_t>(value)));
        else
            value = std::bit_cast<T>(__builtin_bswap64(std::bit_cast<std::uint64_t>(value)));
    }
    return value;
}

// A float file may hold anything. One NaN or infinity spreads over the rate converter's whole
// filter, and the mix silences a non-finite sum: every sound playing would drop out for that
// long. Huge samples would swamp the mix. So non-finite samples are silent and the rest is
// clipped to full scale here, before anything else sees them. Doubles are clipped before they
// are narrowed, which would overflow.
template <typename Float> Float fullScale(Float x)
{
    return std::isfinite(x) ? std::clamp(x, Float(-1), Float(1)) : Float(0);
}

// Integers scaled by a power of two, so the conversion is exact up to 24 bits.
template <typename Int>
void integers(const std::byte* in, std::size_t n, float* out, bool swap, bool isUnsigned)
{
    constexpr int bits = sizeof(Int) * 8;
    constexpr float scale = 1.0f / static_cast<float>(1ull << (bits - 1));
    using U = std::make_unsigned_t<Int>;
    for (std::size_t i = 0; i < n; ++i) {
        U raw = loadAs<U>(in + i * sizeof(Int), swap);
        if (isUnsigned)
            raw = static_cast<U>(raw ^ (U(1) << (bits - 1)));
        out[i] = static_cast<float>(static_cast<Int>(raw)) * scale;
    }
}

void packed24(const std::byte* in, std::size_t n, float* out, bool bigEndian, bool isUnsigned)
{
    constexpr float scale = 1.0f / 8388608.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(in + i * 3);
        std::uint32_t v = bigEndian ? (std::uint32_t(b[0]) << 16 | std::uint32_t(b[1]) << 8 | b[2])
                                    : (std::uint32_t(b[2]) << 16 | std::uint32_t(b[1]) << 8 | b[0]);
        if (isUnsigned)
            v ^= 0x800000u;
        // Sign-extend from 24 bits.
        const auto s = static_cast<std::int32_t>(v << 8) >> 8;
        out[i] = static_cast<float>(s) * scale;
    }
}

bool rateAccepted(const AudioFormat& f)
{
    return f.sampleRate >= static_cast<float>(config::minInputRate)
        && f.sampleRate <= static_cast<float>(config::maxInputRate);
}

} // namespace

bool SampleDecoder::accepts(const AudioFormat& f)
{
    if (f.channels < 1 || f.channels > config::maxChannels)
        return false;
    if (!rateAccepted(f))
        return false;
    const bool sizeOk = f.encoding == Encoding::PCM_FLOAT
        ? (f.sampleSizeInBits == 32 || f.sampleSizeInBits == 64)
        : (f.sampleSizeInBits == 8 || f.sampleSizeInBits == 16 || f.sampleSizeInBits == 24
            || f.sampleSizeInBits == 32);
    return sizeOk && f.frameSize == f.channels * f.sampleSizeInBits / 8;
}

std::string SampleDecoder::refusalHint(const AudioFormat& f)
{
    if (rateAccepted(f))
        return {};
    return ": sample rates from " + std::to_string(config::minInputRate) + " to "
        + std::to_string(config::maxInputRate) + " Hz are played";
}

SampleDecoder::SampleDecoder(const AudioFormat& format, int maxFrames)
    : format_(format)
    , scratch_(format.channels > 2 ? static_cast<std::size_t>(maxFrames * format.channels) : 0)
    , gains_(foldDownGains(format.channels, format.speakers))
{
}

void SampleDecoder::toFloat(const std::byte* in, std::size_t n, float* out) const
{
    const bool swap = format_.bigEndian != (std::endian::native == std::endian::big);
    const bool isUnsigned = format_.encoding == Encoding::PCM_UNSIGNED;
    if (format_.encoding == Encoding::PCM_FLOAT) {
        if (format_.sampleSizeInBits == 32) {
            for (std::size_t i = 0; i < n; ++i)
                out[i] = static_cast<float>(fullScale(loadAs<float>(in + i * 4, swap)));
        } else {
            for (std::size_t i = 0; i < n; ++i)
                out[i] = static_cast<float>(fullScale(loadAs<double>(in + i * 8, swap)));
        }
        return;
    }
    switch (format_.sampleSizeInBits) {
    case 8:
        integers<std::int8_t>(in, n, out, false, isUnsigned);
        break;
    case 16:
        integers<std::int16_t>(in, n, out, swap, isUnsigned);
        break;
    case 24:
        packed24(in, n, out, format_.bigEndian, isUnsigned);
        break;
    default:
        integers<std::int32_t>(in, n, out, swap, isUnsigned);
        break;
    }
}

void SampleDecoder::decode(const std::byte* in, int frames, float* out)
{
    const auto n = static_cast<std::size_t>(frames);
    const auto channels = static_cast<std::size_t>(format_.channels);
    if (channels == 2) {
        toFloat(in, n * 2, out);
        return;
    }
    if (channels == 1) {
        toFloat(in, n, out);
        return;
    }
    toFloat(in, n * channels, scratch_.data());
    for (std::size_t i = 0; i < n; ++i) {
        float left = 0, right = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            const float x = scratch_[i * channels + c];
            left += x * gains_[c][0];
            right += x * gains_[c][1];
        }
        out[2 * i] = left;
        out[2 * i + 1] = right;
    }
}

} // namespace audio
