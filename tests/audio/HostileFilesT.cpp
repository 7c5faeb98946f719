// Files from a user's kit that no sound editor would write, played the whole way a sample takes:
// input stream, line, rate conversion and mixer. The first cases are faults that once got
// through; the last holds headers that lie, each of which must end cleanly.
#include "WavFiles.h"
#include "audio/AudioException.h"
#include "audio/SndfileInputStream.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"
#include "audio/mix/SampleDecoder.h"
#include "tests/fuzz/Bytes.h"
#include "tests/fuzz/SamplePath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

using namespace audio;
namespace fs = std::filesystem;

namespace {

using namespace fuzz_bytes;

constexpr int block = config::deviceBufferFrames;

struct Fmt {
    unsigned tag = 1; // PCM
    unsigned channels = 1;
    std::uint32_t rate = 44100;
    unsigned bits = 16;
};

// A RIFF WAVE file built byte by byte, so the header can say anything at all. dataSize < 0
// writes the true size of the data.
Bytes wav(const Fmt& f, const Bytes& data, std::int64_t dataSize = -1)
{
    const unsigned align = f.channels * f.bits / 8;
    Bytes b;
    b.insert(b.end(), { 'R', 'I', 'F', 'F' });
    put32(b, static_cast<std::uint32_t>(4 + 8 + 16 + 8 + data.size()));
    b.insert(b.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
    put32(b, 16);
    put16(b, f.tag);
    put16(b, f.channels);
    put32(b, f.rate);
    put32(b, f.rate * align);
    put16(b, align);
    put16(b, f.bits);
    b.insert(b.end(), { 'd', 'a', 't', 'a' });
    put32(b, static_cast<std::uint32_t>(dataSize >= 0 ? dataSize : std::int64_t(data.size())));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes pcm16Sine(int frames, int channels, double level = 0.5)
{
    Bytes b;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            put16(b,
                static_cast<unsigned>(static_cast<std::int16_t>(
                    32767 * level * std::sin(2 * M_PI * 441.0 * i / 44100))));
    return b;
}

// A steady level: it passes a rate converter whatever the two rates are.
Bytes pcm16Level(int frames, int channels, std::int16_t value)
{
    Bytes b;
    for (int i = 0; i < frames * channels; ++i)
        put16(b, static_cast<unsigned>(value));
    return b;
}

class HostileFilesT : public ::testing::Test {
protected:
    void SetUp() override { dir_ = audio_test::scratchFolder("hostile"); }
    void TearDown() override { fs::remove_all(dir_); }

    std::string save(const std::string& name, const Bytes& bytes) const
    {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    fs::path dir_;
};

// Renders the given number of blocks, left and right interleaved.
std::vector<float> render(Mixer& mixer, int blocks)
{
    std::vector<float> out(static_cast<std::size_t>(2 * block * blocks));
    for (int i = 0; i < blocks; ++i)
        mixer.render(out.data() + 2 * block * i, block);
    return out;
}

} // namespace

TEST(HostileSamplesT, NonFiniteSamplesAreSilentAndHugeOnesClippedWhenDecoded)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> floats { std::nanf(""), inf, -inf, 1e30f, -3.0f, 0.5f, -1.0f };
    const std::vector<float> expected { 0, 0, 0, 1, -1, 0.5f, -1 };
    const std::vector<double> doubles { std::nan(""), 1e300, -1e300, 1e-300, 0.25 };
    const std::vector<float> expectedFromDoubles { 0, 1, -1, 0, 0.25f };

    // Mono, so one value a frame.
    SampleDecoder single({ Encoding::PCM_FLOAT, 44100, 32, 1, 4, false, {} }, 16);
    ASSERT_EQ(single.outputChannels(), 1);
    std::vector<float> out(floats.size());
    single.decode(reinterpret_cast<const std::byte*>(floats.data()),
        static_cast<int>(floats.size()), out.data());
    for (std::size_t i = 0; i < floats.size(); ++i)
        EXPECT_EQ(out[i], expected[i]) << "float " << floats[i];
    SampleDecoder wide({ Encoding::PCM_FLOAT, 44100, 64, 1, 8, false, {} }, 16);
    wide.decode(reinterpret_cast<const std::byte*>(doubles.data()),
        static_cast<int>(doubles.size()), out.data());
    for (std::size_t i = 0; i < doubles.size(); ++i)
        EXPECT_EQ(out[i], expectedFromDoubles[i]) << "double " << doubles[i];
}

// One NaN or infinity in a file at another rate than the device's used to come out of the rate
// converter as a run of non-finite frames as long as its filter, and the mixer, which silences
// a non-finite sum, silenced every sound playing with it for that long.
TEST_F(HostileFilesT, ANonFiniteSampleSilencesNeitherItsOwnSoundNorTheOthers)
{
    constexpr int frames = 8820; // 0.2 s at 44.1 kHz, all of it fits the line's ring
    constexpr int bad = 2205;
    struct Case {
        const char* name;
        int bits;
        double value;
    };
    for (const Case c : { Case { "NaN", 32, std::nan("") },
             Case { "infinity", 32, std::numeric_limits<double>::infinity() },
             Case { "double beyond float's range", 64, 1e300 } }) {
        SCOPED_TRACE(c.name);
        Bytes data;
        for (int i = 0; i < frames; ++i) {
            const double x = i == bad ? c.value : 0.5 * std::sin(2 * M_PI * 441.0 * i / 44100);
            if (c.bits == 32)
                putValue(data, static_cast<float>(x));
            else
                putValue(data, x);
        }
        const std::string path = save("bad.wav", wav({ 3, 1, 44100, unsigned(c.bits) }, data));

        // A quarter-scale 480 Hz tone whose samples are exact in 16 bits.
        const auto toneSample = [](std::size_t i) {
            return std::round(8192 * std::sin(2 * M_PI * 480.0 * static_cast<double>(i) / 48000))
                / 32768;
        };
        Mixer mixer(48000);
        // Another sound playing at the same time: a steady quarter-scale tone at the mixer's rate.
        MixerLine other(mixer);
        other.open({ Encoding::PCM_SIGNED, 48000, 16, 1, 2, false, {} });
        const Bytes tone = [&] {
            Bytes b;
            for (std::size_t i = 0; i < 12000; ++i)
                put16(b, static_cast<unsigned>(static_cast<std::int16_t>(toneSample(i) * 32768)));
            return b;
        }();
        ASSERT_EQ(other.write(reinterpret_cast<const std::byte*>(tone.data()), 0,
                      static_cast<std::int32_t>(tone.size())),
            static_cast<std::int32_t>(tone.size()));

        SndfileInputStream stream(path);
        MixerLine line(mixer);
        line.open(stream.getFormat());
        std::vector<std::byte> buffer(124288);
        for (std::int32_t n; (n = stream.read(buffer.data(), 0, 124288)) != -1;)
            ASSERT_EQ(line.write(buffer.data(), 0, n), n);
        line.drain(); // the converter's tail too; not started yet, so it does not wait
        ASSERT_GT(line.framesQueued(), 9000u);

        other.start();
        line.start();
        const auto out = render(mixer, 9000 / block);
        // Both lines began in the first block. The tone alone is 0 only where it crosses zero;
        // with the file's sine added, no frame of the mix is exactly silent.
        int silent = 0;
        for (std::size_t i = 0; i < out.size(); i += 2)
            silent += out[i] == 0.0f && out[i + 1] == 0.0f;
        EXPECT_EQ(silent, 0) << "frames of the mix silenced";
        // The file's own sine is there before and after the bad sample: the mix minus the tone.
        const std::size_t at = static_cast<std::size_t>(bad) * 48000 / 44100;
        for (const std::size_t from : { at - 1000, at + 200 }) {
            float peak = 0;
            for (std::size_t i = from; i < from + 500; ++i)
                peak = std::max(peak, std::abs(out[2 * i] - static_cast<float>(toneSample(i))));
            EXPECT_NEAR(peak, 0.5f, 0.05f) << "frames " << from << " to " << from + 500;
        }
        other.close();
        line.close();
    }
}

// Rates from 8 to 384 kHz play on a device at any rate; a header outside them is refused at
// once with the rates that play named, instead of a line converting for minutes (3 Hz) or
// spending a core (12 MHz).
TEST_F(HostileFilesT, RatesFrom8To384KilohertzPlayAndOthersAreRefusedWithTheReason)
{
    struct Case {
        std::uint32_t fileRate;
        int frames;
        int mixerRate;
        bool plays;
    };
    for (const Case c : { Case { 8000, 400, 48000, true }, Case { 8000, 400, 44100, true },
             Case { 384000, 40000, 48000, true }, Case { 384000, 40000, 44100, true },
             Case { 3, 40, 48000, false }, Case { 7999, 400, 48000, false },
             Case { 384001, 40000, 48000, false }, Case { 12288000, 40000, 48000, false } }) {
        SCOPED_TRACE(
            testing::Message() << c.fileRate << " Hz file, device at " << c.mixerRate << " Hz");
        const std::string path
            = save("rate.wav", wav({ 1, 2, c.fileRate, 16 }, pcm16Level(c.frames, 2, 16384)));
        sample_path::Options options;
        options.mixerRate = c.mixerRate;
        const auto outcome = sample_path::play(path, options);
        for (const auto& fault : outcome.faults)
            ADD_FAILURE() << fault;
        if (c.plays) {
            EXPECT_EQ(outcome.end, sample_path::End::Played) << outcome.message;
            EXPECT_EQ(outcome.framesWritten, static_cast<std::uint64_t>(c.frames));
            const double expected = c.frames * static_cast<double>(c.mixerRate) / c.fileRate;
            EXPECT_NEAR(static_cast<double>(outcome.framesQueued), expected, expected / 100 + 2);
            // A steady half-scale level; the step from silence into it rings a little through
            // the converter's filter, the more so the lower the file's rate.
            EXPECT_GT(outcome.peak, 0.45f);
            EXPECT_LT(outcome.peak, 0.75f);
        } else {
            EXPECT_EQ(outcome.end, sample_path::End::LineRefused);
            EXPECT_NE(
                outcome.message.find("sample rates from 8000 to 384000 Hz"), std::string::npos)
                << outcome.message;
            EXPECT_EQ(outcome.framesWritten, 0u);
        }
    }
}

// Headers that lie about the file: each ends cleanly, either refused with the reason or played
// as far as the samples really go, with every check of the path holding on the way.
TEST_F(HostileFilesT, HeadersThatLieEndCleanly)
{
    using sample_path::End;
    const Fmt stereo { 1, 2, 44100, 16 };
    const Bytes tone = pcm16Sine(50, 2);
    const Bytes good = wav(stereo, tone);
    struct Case {
        const char* name;
        Bytes file;
        End end;
        std::int64_t frames; // frames read, or -1 when none are
    };
    const std::vector<Case> cases {
        { "a header cut after 20 bytes", Bytes(good.begin(), good.begin() + 20),
            End::UnsupportedFile, -1 },
        { "no channels", wav({ 1, 0, 44100, 16 }, tone), End::UnsupportedFile, -1 },
        { "no sample rate", wav({ 1, 2, 0, 16 }, tone), End::UnsupportedFile, -1 },
        { "text named like a sound", Bytes { 'n', 'o', ' ', 's', 'o', 'u', 'n', 'd', '\n' },
            End::UnsupportedFile, -1 },
        { "a data chunk longer than the file", wav(stereo, tone, 1000000), End::Played, 50 },
        { "the largest data size there is", wav(stereo, tone, 0xFFFFFFFF), End::Played, 50 },
        { "a frame cut in two at the end", Bytes(good.begin(), good.end() - 3), End::Played, 49 },
        { "more channels than a line mixes", wav({ 1, 33, 44100, 16 }, pcm16Sine(50, 33)),
            End::LineRefused, 0 },
        { "a rate of 12 MHz", wav({ 1, 2, 12288001, 16 }, tone), End::LineRefused, 0 },
        { "a rate of 3 Hz", wav({ 1, 2, 3, 16 }, tone), End::LineRefused, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = sample_path::play(save("lie.wav", c.file));
        for (const auto& fault : outcome.faults)
            ADD_FAILURE() << fault;
        EXPECT_EQ(outcome.end, c.end)
            << sample_path::endName(outcome.end) << ": " << outcome.message;
        if (c.end != End::Played) {
            EXPECT_FALSE(outcome.message.empty());
        }
        if (c.frames >= 0) {
            EXPECT_EQ(outcome.framesRead, static_cast<std::uint64_t>(c.frames));
        }
    }
}
