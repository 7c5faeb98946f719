// Lines and the mixer, driven block by block with no device.
#include "CountingNew.h"
#include "MixerDriving.h"
#include "audio/AudioException.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <thread>

using namespace audio;

namespace {

using mixer_test::block;
using mixer_test::playThrough;
using mixer_test::side;
constexpr int rate = 48000;

AudioFormat floatStereo(float sampleRate = rate)
{
    return { Encoding::PCM_FLOAT, sampleRate, 32, 2, 8, false, {} };
}
AudioFormat pcm16(int channels, float sampleRate = rate)
{
    return { Encoding::PCM_SIGNED, sampleRate, 16, channels, 2 * channels, false, {} };
}

template <typename T> std::vector<std::byte> bytesOf(const std::vector<T>& values)
{
    std::vector<std::byte> bytes(values.size() * sizeof(T));
    if (!bytes.empty())
        std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

MixerLine& asMixerLine(std::unique_ptr<SourceDataLine>& line)
{
    return static_cast<MixerLine&>(*line);
}

void writeAll(SourceDataLine& line, const std::vector<std::byte>& bytes)
{
    EXPECT_EQ(line.write(bytes.data(), 0, static_cast<std::int32_t>(bytes.size())),
        static_cast<std::int32_t>(bytes.size()));
}

std::vector<float> renderBlocks(Mixer& mixer, int blocks)
{
    std::vector<float> out(static_cast<std::size_t>(blocks * block * 2));
    for (int b = 0; b < blocks; ++b)
        mixer.render(out.data() + b * block * 2, block);
    return out;
}

// Writes bytes, then drains, while this thread renders: a whole short sound as it plays.
std::vector<float> playSound(
    Mixer& mixer, SourceDataLine& line, const std::vector<std::byte>& bytes)
{
    return playThrough(mixer, static_cast<MixerLine&>(line), [&] {
        writeAll(line, bytes);
        line.drain();
    });
}

std::vector<float> randomSamples(std::size_t n, unsigned seed, float level = 0.9f)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> spread(-level, level);
    std::vector<float> v(n);
    for (auto& x : v)
        x = spread(random);
    return v;
}

} // namespace

TEST(MixerLineT, OneFloatLineComesOutBitExact)
{
    Mixer mixer(rate);
    auto line = mixer.createLine();
    line->open(floatStereo());
    line->start();
    const auto samples = randomSamples(2 * 3000, 1, 1.0f);
    auto out = playSound(mixer, *line, bytesOf(samples));
    const auto after = renderBlocks(mixer, 2);
    out.insert(out.end(), after.begin(), after.end());
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(out[i]), std::bit_cast<std::uint32_t>(samples[i]))
            << "sample " << i;
    for (std::size_t i = samples.size(); i < out.size(); ++i)
        ASSERT_EQ(out[i], 0.0f) << "nothing after the end, at " << i;
    line->close();
}

TEST(MixerLineT, EveryEncodingAndByteOrderDecodesToTheSameValues)
{
    // 1/2, -1/4, the smallest step and full negative scale, in every layout a line takes.
    struct Case {
        const char* name;
        AudioFormat format;
        std::vector<std::uint8_t> bytes;
        std::vector<float> expected;
    };
    const float step8 = 1.0f / 128, step16 = 1.0f / 32768, step24 = 1.0f / 8388608;
    const std::vector<Case> cases {
        { "8-bit unsigned", { Encoding::PCM_UNSIGNED, rate, 8, 1, 1, false, {} },
            { 0xC0, 0x60, 0x81, 0x00 }, { 0.5f, -0.25f, step8, -1.0f } },
        { "8-bit signed", { Encoding::PCM_SIGNED, rate, 8, 1, 1, false, {} },
            { 0x40, 0xE0, 0x01, 0x80 }, { 0.5f, -0.25f, step8, -1.0f } },
        { "16-bit little", pcm16(1), { 0x00, 0x40, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x80 },
            { 0.5f, -0.25f, step16, -1.0f } },
        { "16-bit big", { Encoding::PCM_SIGNED, rate, 16, 1, 2, true, {} },
            { 0x40, 0x00, 0xE0, 0x00, 0x00, 0x01, 0x80, 0x00 }, { 0.5f, -0.25f, step16, -1.0f } },
        { "24-bit little", { Encoding::PCM_SIGNED, rate, 24, 1, 3, false, {} },
            { 0, 0, 0x40, 0, 0, 0xE0, 1, 0, 0, 0, 0, 0x80 }, { 0.5f, -0.25f, step24, -1.0f } },
        { "24-bit big", { Encoding::PCM_SIGNED, rate, 24, 1, 3, true, {} },
            { 0x40, 0, 0, 0xE0, 0, 0, 0, 0, 1, 0x80, 0, 0 }, { 0.5f, -0.25f, step24, -1.0f } },
        { "32-bit little", { Encoding::PCM_SIGNED, rate, 32, 1, 4, false, {} },
            { 0, 0, 0, 0x40, 0, 0, 0, 0xE0, 0, 1, 0, 0, 0, 0, 0, 0x80 },
            { 0.5f, -0.25f, 1.0f / 8388608, -1.0f } },
        { "float big", { Encoding::PCM_FLOAT, rate, 32, 1, 4, true, {} },
            { 0x3F, 0, 0, 0, 0xBE, 0x80, 0, 0, 0x38, 0, 0, 0, 0xBF, 0x80, 0, 0 },
            { 0.5f, -0.25f, step16, -1.0f } },
        { "double little", { Encoding::PCM_FLOAT, rate, 64, 1, 8, false, {} },
            { 0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xD0, 0xBF, 0, 0, 0, 0, 0, 0, 0x00,
                0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0xBF },
            { 0.5f, -0.25f, step16, -1.0f } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mixer mixer(rate);
        auto line = mixer.createLine();
        line->open(c.format);
        line->start();
        // A sound shorter than a block plays once its end is known.
        const auto out = playSound(mixer, *line, bytesOf(c.bytes));
        ASSERT_GE(out.size(), 2 * c.expected.size() + 1);
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(out[2 * i], c.expected[i]) << "left " << i;
            EXPECT_EQ(out[2 * i + 1], c.expected[i]) << "mono goes to both sides, " << i;
        }
        EXPECT_EQ(out[2 * c.expected.size()], 0.0f);
    }
}

TEST(MixerLineT, WideLayoutsFoldDownToStereo)
{
    // 5.1: FL FR FC LFE BL BR. One channel sounding at a time.
    const auto frameWith = [](int channel) {
        std::vector<std::int16_t> frame(6, 0);
        frame[static_cast<std::size_t>(channel)] = 16384;
        return frame;
    };
    std::vector<std::array<float, 2>> seen;
    for (int channel = 0; channel < 6; ++channel) {
        Mixer mixer(rate);
        auto line = mixer.createLine();
        line->open(pcm16(6));
        EXPECT_FALSE(line->isControlSupported(FloatControl::Type::PAN)) << "no pan beyond stereo";
        line->start();
        const auto out = playSound(mixer, *line, bytesOf(frameWith(channel)));
        ASSERT_GE(out.size(), 2u);
        seen.push_back({ out[0], out[1] });
    }
    // At the usual levels: fronts whole on their side, centre and surrounds at -3 dB, no LFE.
    constexpr float half = 0.5f, h = 0.70710678f;
    const std::vector<std::array<float, 2>> expected { { half, 0 }, { 0, half },
        { half * h, half * h }, { 0, 0 }, { half * h, 0 }, { 0, half * h } };
    for (std::size_t c = 0; c < expected.size(); ++c) {
        EXPECT_FLOAT_EQ(seen[c][0], expected[c][0]) << "channel " << c;
        EXPECT_FLOAT_EQ(seen[c][1], expected[c][1]) << "channel " << c;
    }
}

TEST(MixerLineT, TwoLinesSum)
{
    Mixer mixer(rate);
    auto a = mixer.createLine();
    auto b = mixer.createLine();
    a->open(floatStereo());
    b->open(pcm16(1));
    const auto left = randomSamples(2 * 1024, 2, 0.4f);
    std::vector<std::int16_t> mono(1024);
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = static_cast<std::int16_t>((static_cast<int>(i) * 97) % 20000 - 10000);
    writeAll(*a, bytesOf(left));
    writeAll(*b, bytesOf(mono));
    // Whole sounds: drained before they start, so nothing waits and their ends are ends.
    for (auto* line : { a.get(), b.get() }) {
        line->drain();
        line->start();
    }
    const auto out = renderBlocks(mixer, 4);
    for (std::size_t i = 0; i < 1024; ++i) {
        const float m = static_cast<float>(mono[i]) / 32768.0f;
        ASSERT_EQ(out[2 * i], left[2 * i] + m) << i;
        ASSERT_EQ(out[2 * i + 1], left[2 * i + 1] + m) << i;
    }
}

TEST(MixerLineT, BeyondFullScaleTheMixIsTurnedDownNotSquaredOff)
{
    // Two lines whose first frame sums to (1.5, -2.0), then to a steady (0.5, -0.5).
    Mixer mixer(rate);
    std::vector<std::unique_ptr<SourceDataLine>> lines;
    std::vector<float> samples { 0.75f, -1.0f };
    samples.resize(2 * 16 * block);
    for (std::size_t i = 2; i < samples.size(); i += 2) {
        samples[i] = 0.25f;
        samples[i + 1] = -0.25f;
    }
    for (int l = 0; l < 2; ++l) {
        lines.push_back(mixer.createLine());
        lines.back()->open(floatStereo());
        lines.back()->start();
        writeAll(*lines.back(), bytesOf(samples));
    }
    const auto out = renderBlocks(mixer, 15);
    // The loudest side comes to full scale and the other keeps its share of it.
    EXPECT_EQ(out[0], 0.75f);
    EXPECT_EQ(out[1], -1.0f);
    // The gain then holds a while, and glides back towards 1: turned down, never up.
    const std::size_t hold = rate * 5 / 100;
    EXPECT_EQ(out[2], 0.25f);
    EXPECT_EQ(out[2 * (hold - 1)], 0.25f);
    for (std::size_t i = 2 * hold; i + 2 < out.size(); i += 2) {
        ASSERT_GE(out[i + 2], out[i]) << i / 2;
        ASSERT_LT(out[i], 0.5f) << i / 2;
        ASSERT_EQ(out[i + 1], -out[i]) << "both sides alike";
    }
    for (float x : out)
        ASSERT_LE(std::fabs(x), 1.0f);
    EXPECT_EQ(mixer.limitedBlocks(), 1u);
}

TEST(MixerLineT, PanIsABalanceThatHoldsFromTheFirstFrameAndGlidesWhenMoved)
{
    struct Case {
        float pan;
        int channels;
        float left, right; // gains seen for a sample of 0.5 on each input side
    };
    for (const Case c : { Case { 0.0f, 1, 1, 1 }, Case { -1.0f, 1, 1, 0 }, Case { 1.0f, 1, 0, 1 },
             Case { -0.5f, 2, 1, 0.5f }, Case { 0.25f, 2, 0.75f, 1 } }) {
        SCOPED_TRACE(testing::Message() << "pan " << c.pan << ", channels " << c.channels);
        Mixer mixer(rate);
        auto line = mixer.createLine();
        line->open(pcm16(c.channels));
        ASSERT_TRUE(line->isControlSupported(FloatControl::Type::PAN));
        FloatControl& pan = line->getControl(FloatControl::Type::PAN);
        EXPECT_EQ(pan.getValue(), 0.0f) << "centred by default";
        EXPECT_EQ(pan.getMinimum(), -1.0f);
        EXPECT_EQ(pan.getMaximum(), 1.0f);
        pan.setValue(c.pan);
        line->start();
        writeAll(*line,
            bytesOf(std::vector<std::int16_t>(
                static_cast<std::size_t>(6 * block * c.channels), 16384)));
        const auto out = renderBlocks(mixer, 1);
        EXPECT_EQ(out[0], 0.5f * c.left) << "first frame";
        EXPECT_EQ(out[1], 0.5f * c.right) << "first frame";
        EXPECT_EQ(out[2 * block - 2], 0.5f * c.left);
        EXPECT_EQ(out[2 * block - 1], 0.5f * c.right);

        // Moved hard right during play: one block of glide, monotonic, then held.
        pan.setValue(1.0f);
        const auto glide = renderBlocks(mixer, 2);
        const auto l = side(glide, 0);
        EXPECT_LT(l[0], 0.5f * c.left + 1e-6f);
        if (c.left > 0) {
            EXPECT_GT(l[0], 0.0f) << "no jump to the new gain";
        }
        for (int i = 1; i < block; ++i)
            ASSERT_LE(l[static_cast<std::size_t>(i)], l[static_cast<std::size_t>(i - 1)]) << i;
        EXPECT_NEAR(l[block - 1], 0.0f, 1e-6f) << "at the new gain by the end of the block";
        for (int i = block; i < 2 * block; ++i)
            ASSERT_EQ(l[static_cast<std::size_t>(i)], 0.0f);
    }
}

TEST(MixerLineT, GainScalesTheLineWithItsPanAndZeroDecibelsLeavesItExact)
{
    for (const float db : { 0.0f, -20.0f, -80.0f }) {
        SCOPED_TRACE(testing::Message() << db << " dB");
        Mixer mixer(rate);
        auto line = mixer.createLine();
        line->open(pcm16(2));
        ASSERT_TRUE(line->isControlSupported(FloatControl::Type::MASTER_GAIN));
        FloatControl& gain = line->getControl(FloatControl::Type::MASTER_GAIN);
        EXPECT_EQ(gain.getValue(), 0.0f) << "full level by default";
        gain.setValue(db);
        EXPECT_NEAR(gain.getValue(), db, 1e-4f);
        line->getControl(FloatControl::Type::PAN).setValue(-0.5f);
        line->start();
        writeAll(
            *line, bytesOf(std::vector<std::int16_t>(static_cast<std::size_t>(12 * block), 16383)));
        const auto out = renderBlocks(mixer, 1);
        const float level = 16383.0f / 32768.0f;
        if (db == 0.0f) {
            EXPECT_EQ(out[0], level) << "as it is, sample for sample";
        } else {
            EXPECT_NEAR(out[0], level * std::pow(10.0f, db / 20.0f), 1e-7f)
                << "from the first frame";
        }
        EXPECT_EQ(out[1], out[0] * 0.5f) << "with the pan";
    }
    Mixer mixer(rate);
    auto line = mixer.createLine();
    line->open(pcm16(2));
    FloatControl& gain = line->getControl(FloatControl::Type::MASTER_GAIN);
    EXPECT_THROW(gain.setValue(1.0f), IllegalArgumentException) << "never louder than the file";
    EXPECT_THROW(gain.setValue(-81.0f), IllegalArgumentException);
    EXPECT_THROW(gain.setValue(std::nanf("")), IllegalArgumentException);
}

TEST(MixerLineT, BadRequestsAreRefused)
{
    Mixer mixer(rate);
    auto line = mixer.createLine();
    EXPECT_THROW(
        line->open({ Encoding::PCM_SIGNED, rate, 12, 1, 2, false, {} }), LineUnavailableException);
    EXPECT_THROW(
        line->open({ Encoding::PCM_SIGNED, 0, 16, 1, 2, false, {} }), LineUnavailableException);
    EXPECT_THROW(
        line->open({ Encoding::PCM_SIGNED, rate, 16, 2, 2, false, {} }), LineUnavailableException);
    EXPECT_THROW(line->getControl(FloatControl::Type::PAN), IllegalArgumentException);
    line->open(pcm16(2));
    EXPECT_THROW(line->open(pcm16(2)), IllegalArgumentException);
    std::byte bytes[6] {};
    EXPECT_THROW(line->write(bytes, 0, 6), IllegalArgumentException) << "not whole frames";
    EXPECT_THROW(
        line->getControl(FloatControl::Type::PAN).setValue(1.5f), IllegalArgumentException);
    EXPECT_THROW(line->getControl(FloatControl::Type::PAN).setValue(std::nanf("")),
        IllegalArgumentException);
    EXPECT_EQ(line->write(bytes, 0, 0), 0);
}

TEST(MixerLineT, RateConversionKeepsPitchLevelAndLength)
{
    for (const float inputRate : { 44100.0f, 96000.0f, 8000.0f }) {
        SCOPED_TRACE(inputRate);
        Mixer mixer(rate);
        auto owned = mixer.createLine();
        MixerLine& line = asMixerLine(owned);
        line.open(pcm16(1, inputRate));
        line.start();
        const int frames = static_cast<int>(inputRate); // one second
        const double frequency = 1000.0;
        std::vector<std::int16_t> input(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i)
            input[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(
                std::lround(16384 * std::sin(2 * M_PI * frequency * i / inputRate)));
        const auto bytes = bytesOf(input);
        // In the worker's chunk size, so a chunk boundary falls inside the sound.
        const auto out = mixer_test::playWhole(mixer, line, bytes.data(), bytes.size(), 2);
        // Length: the input's duration at the mixer's rate.
        EXPECT_NEAR(static_cast<double>(line.framesQueued()), rate, 2.0);
        EXPECT_EQ(mixer.underruns(), 0u);
        // Pitch: rising zero crossings over the middle, placed between samples.
        const auto left = side(out, 0);
        std::vector<double> crossings;
        for (std::size_t i = left.size() / 4; i < 3 * left.size() / 4; ++i) {
            if (left[i - 1] < 0 && left[i] >= 0)
                crossings.push_back(
                    static_cast<double>(i - 1) + left[i - 1] / (left[i - 1] - left[i]));
        }
        ASSERT_GT(crossings.size(), 100u);
        const double measured = rate * static_cast<double>(crossings.size() - 1)
            / (crossings.back() - crossings.front());
        EXPECT_NEAR(measured, frequency, 0.05);
        float peak = 0;
        for (std::size_t i = left.size() / 4; i < 3 * left.size() / 4; ++i)
            peak = std::max(peak, std::abs(left[i]));
        EXPECT_NEAR(peak, 0.5f, 0.005f);
    }
}

TEST(MixerLineT, ChunksJoinWithoutGapOrRepeat)
{
    // A ramp across many writes of odd sizes must come out as the same ramp.
    Mixer mixer(rate);
    auto owned = mixer.createLine();
    MixerLine& line = asMixerLine(owned);
    line.open(pcm16(1));
    line.start();
    const int frames = 60000;
    std::vector<std::int16_t> ramp(frames);
    for (int i = 0; i < frames; ++i)
        ramp[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 30000 + 1);
    const auto bytes = bytesOf(ramp);
    const auto out = playThrough(mixer, line, [&] {
        std::mt19937 random(7);
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n
                = std::min<std::size_t>(bytes.size() - at, 2 * (1 + random() % 9000));
            line.write(bytes.data(), static_cast<std::int32_t>(at), static_cast<std::int32_t>(n));
            at += n;
        }
        line.drain();
    });
    const auto left = side(out, 0);
    std::size_t first = 0;
    while (first < left.size() && left[first] == 0.0f)
        ++first;
    ASSERT_GE(left.size(), first + frames);
    for (int i = 0; i < frames; ++i)
        ASSERT_EQ(
            left[first + static_cast<std::size_t>(i)], ramp[static_cast<std::size_t>(i)] / 32768.0f)
            << i;
    EXPECT_EQ(left.size() > first + frames ? left[first + frames] : 0.0f, 0.0f);
    EXPECT_EQ(mixer.underruns(), 0u);
}

TEST(MixerLineT, ALateWorkerFadesOutAndBackInAndCountsOneUnderrun)
{
    Mixer mixer(rate);
    auto line = mixer.createLine();
    line->open(floatStereo());
    line->start();
    writeAll(*line, bytesOf(std::vector<float>(2 * (config::startFrames - 1), 0.1f)));
    auto out = renderBlocks(mixer, 2);
    EXPECT_EQ(out[0], 0.0f) << "a line waits for a few blocks before it starts";
    EXPECT_EQ(mixer.underruns(), 0u);
    writeAll(*line, bytesOf(std::vector<float>(2 * 101, 0.1f)));
    // 1124 frames: four whole blocks, then 100 frames for a block of 256.
    out = renderBlocks(mixer, 4);
    EXPECT_EQ(out[0], 0.1f);
    EXPECT_EQ(mixer.underruns(), 0u);
    out = renderBlocks(mixer, 1);
    // Not a step from 0.1 to silence: the last frames it has fade out, never to zero.
    EXPECT_LT(out[0], 0.1f);
    for (std::size_t i = 2; i < 2 * 100; i += 2)
        ASSERT_LT(out[i], out[i - 2]) << i / 2;
    EXPECT_GT(out[2 * 99], 0.0f);
    EXPECT_LT(out[2 * 99], 0.1f / 50);
    EXPECT_EQ(out[2 * 100], 0.0f);
    EXPECT_EQ(mixer.underruns(), 1u);
    // Still behind: silence, and no more underruns counted for the same wait.
    writeAll(*line, bytesOf(std::vector<float>(2 * 10, 0.1f)));
    out = renderBlocks(mixer, 3);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0f);
    EXPECT_EQ(mixer.underruns(), 1u);
    // Its frames come: it fades back in from near silence, then plays them as they are.
    writeAll(*line, bytesOf(std::vector<float>(2 * config::startFrames, 0.1f)));
    out = renderBlocks(mixer, 1);
    EXPECT_GT(out[0], 0.0f);
    EXPECT_LT(out[0], 0.1f / 50);
    for (std::size_t i = 2; i < 2 * 100; i += 2)
        ASSERT_GE(out[i], out[i - 2]) << i / 2;
    EXPECT_EQ(out[2 * 255], 0.1f);
    playSound(mixer, *line, {});
    renderBlocks(mixer, 8);
    EXPECT_EQ(mixer.underruns(), 1u) << "after the end the line is silent, not short";
}

// A ring that runs out exactly at a block's edge is running dry as much as one that runs out
// inside a block: its last frames fade too, or the sound stops at full level with a click.
// Frames written since the block before mean the line is being fed, and then one block in
// hand is left to play as it is.
TEST(MixerLineT, ALateWorkerWhoseRingEndsAtABlocksEdgeFadesOutToo)
{
    Mixer mixer(rate);
    auto line = mixer.createLine();
    line->open(floatStereo());
    line->start();
    writeAll(*line, bytesOf(std::vector<float>(2 * config::startFrames, 0.1f)));
    auto out = renderBlocks(mixer, static_cast<int>(config::startFrames / block) - 1);
    EXPECT_EQ(out.back(), 0.1f);
    // The last block it has, and nothing written since the block before.
    out = renderBlocks(mixer, 1);
    EXPECT_EQ(out[0], 0.1f);
    for (std::size_t i = 2 * (block - 100) + 2; i < 2 * block; i += 2)
        ASSERT_LT(out[i], out[i - 2]) << i / 2;
    EXPECT_GT(out[2 * block - 2], 0.0f);
    EXPECT_LT(out[2 * block - 2], 0.1f / 50);
    EXPECT_EQ(mixer.underruns(), 1u);
    out = renderBlocks(mixer, 2);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0f);
    EXPECT_EQ(mixer.underruns(), 1u) << "one wait, one underrun";
    // Its frames come: it fades back in from near silence.
    writeAll(*line, bytesOf(std::vector<float>(2 * config::startFrames, 0.1f)));
    out = renderBlocks(mixer, 1);
    EXPECT_GT(out[0], 0.0f);
    EXPECT_LT(out[0], 0.1f / 50);

    // Fed a block at a time just in time, exactly one block in hand at every block: never
    // turned down. Half a block is left after the line's own cushion has played...
    Mixer fed(rate);
    auto steady = fed.createLine();
    steady->open(floatStereo());
    steady->start();
    writeAll(*steady, bytesOf(std::vector<float>(2 * (config::startFrames + block / 2), 0.1f)));
    renderBlocks(fed, static_cast<int>(config::startFrames / block));
    // ...then the other half comes, then a block before each block.
    writeAll(*steady, bytesOf(std::vector<float>(2 * (block / 2), 0.1f)));
    for (int b = 0; b < 8; ++b) {
        out = renderBlocks(fed, 1);
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0.1f) << "block " << b << ", sample " << i;
        writeAll(*steady, bytesOf(std::vector<float>(2 * block, 0.1f)));
    }
    EXPECT_EQ(fed.underruns(), 0u);
}

TEST(MixerT, ManyLinesAtOnce)
{
    Mixer mixer(rate);
    constexpr int lines = 256;
    std::vector<std::unique_ptr<SourceDataLine>> open;
    double expected = 0;
    for (int i = 0; i < lines; ++i) {
        open.push_back(mixer.createLine());
        open.back()->open(pcm16(1));
        const auto level = static_cast<std::int16_t>(i % 9 + 1);
        expected += level / 32768.0;
        writeAll(*open.back(), bytesOf(std::vector<std::int16_t>(4 * block, level)));
        open.back()->drain(); // the whole sound, so its last block is played as it is
        open.back()->start();
    }
    EXPECT_EQ(mixer.lineCount(), static_cast<std::size_t>(lines));
    EXPECT_GE(mixer.tableCapacity(), static_cast<std::size_t>(lines));
    const auto out = renderBlocks(mixer, 5);
    for (int i = 0; i < 4 * block * 2; ++i)
        ASSERT_NEAR(out[static_cast<std::size_t>(i)], expected, 1e-6) << i;
    for (std::size_t i = 4 * block * 2; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0.0f);
}

TEST(MixerT, RenderAllocatesNothing)
{
    Mixer mixer(rate);
    std::vector<std::unique_ptr<SourceDataLine>> lines;
    // More lines than the first table holds, with pans, short sounds, ends and a dry line.
    for (int i = 0; i < 100; ++i) {
        lines.push_back(mixer.createLine());
        lines.back()->open(pcm16(i % 2 + 1, i % 3 == 0 ? 44100.0f : rate));
        lines.back()
            ->getControl(FloatControl::Type::PAN)
            .setValue(static_cast<float>(i % 5) / 2 - 1);
        lines.back()->start();
        writeAll(*lines.back(),
            bytesOf(std::vector<std::int16_t>(
                static_cast<std::size_t>((i * 37) % 3000 * (i % 2 + 1)), 100)));
    }
    // Some lines end while the mixer plays them.
    std::atomic<bool> drained { false };
    std::thread drainer([&] {
        for (std::size_t i = 0; i < lines.size(); i += 4)
            lines[i]->drain();
        drained = true;
    });
    std::vector<float> out(block * 2);
    // The counter sees an allocation made where it looks.
    testing_support::countAllocationsHere(true);
    auto* probe = new int(1);
    asm volatile("" : : "g"(probe) : "memory"); // keep the allocation
    testing_support::countAllocationsHere(false);
    delete probe;
    ASSERT_EQ(testing_support::takeCountedAllocations(), 1u);

    for (int b = 0; b < 40 || !drained; ++b) {
        if (b % 10 == 5 && b < 100)
            lines[static_cast<std::size_t>(b)]->getControl(FloatControl::Type::PAN).setValue(0.5f);
        testing_support::countAllocationsHere(true);
        mixer.render(out.data(), block);
        testing_support::countAllocationsHere(false);
    }
    drainer.join();
    EXPECT_EQ(testing_support::takeCountedAllocations(), 0u);
}

TEST(MixerT, ClosedLinesFreeTheirMemoryAndTheirSlots)
{
    const std::size_t before = Mixer::liveLineStates();
    {
        Mixer mixer(rate);
        std::vector<std::unique_ptr<SourceDataLine>> lines;
        for (int i = 0; i < 150; ++i) {
            lines.push_back(mixer.createLine());
            lines.back()->open(floatStereo());
        }
        EXPECT_EQ(Mixer::liveLineStates(), before + 150);
        for (int i = 0; i < 100; ++i)
            lines[static_cast<std::size_t>(i)]->close();
        EXPECT_EQ(Mixer::liveLineStates(), before + 50);
        EXPECT_EQ(mixer.lineCount(), 50u);
        // Freed slots are taken again before the table grows.
        const std::size_t capacity = mixer.tableCapacity();
        for (int i = 0; i < 100; ++i)
            lines[static_cast<std::size_t>(i)]->open(floatStereo());
        EXPECT_EQ(mixer.tableCapacity(), capacity);
        lines[0]->close();
        lines[0]->close(); // twice is harmless
        // The rest are destroyed without close.
    }
    EXPECT_EQ(Mixer::liveLineStates(), before);
}

TEST(MixerT, StressProducersWhileRendering)
{
    // Two players, one hard left and one hard right, written by their own threads in chunks of
    // random size, while other threads open and close lines and the table grows; rendering
    // runs flat out, so rings run dry and fill again. Each side must still carry its player's
    // samples in order, nothing lost or repeated, with only silence and fades between them.
    Mixer mixer(rate);
    constexpr int frames = 200000;
    std::vector<std::unique_ptr<SourceDataLine>> players;
    std::vector<std::vector<std::int16_t>> sounds(2);
    for (int p = 0; p < 2; ++p) {
        players.push_back(mixer.createLine());
        players[static_cast<std::size_t>(p)]->open(pcm16(1));
        players[static_cast<std::size_t>(p)]
            ->getControl(FloatControl::Type::PAN)
            .setValue(p == 0 ? -1.0f : 1.0f);
        players[static_cast<std::size_t>(p)]->start();
        for (int i = 0; i < frames; ++i)
            sounds[static_cast<std::size_t>(p)].push_back(
                static_cast<std::int16_t>((i * (p + 3)) % 30011 + 1));
    }
    std::atomic<int> finished { 0 };
    std::vector<std::thread> threads;
    for (int p = 0; p < 2; ++p) {
        threads.emplace_back([&, p] {
            const auto bytes = bytesOf(sounds[static_cast<std::size_t>(p)]);
            std::mt19937 random(static_cast<unsigned>(p));
            std::size_t at = 0;
            while (at < bytes.size()) {
                const std::size_t n
                    = std::min<std::size_t>(bytes.size() - at, 2 * (1 + random() % 20000));
                players[static_cast<std::size_t>(p)]->write(
                    bytes.data(), static_cast<std::int32_t>(at), static_cast<std::int32_t>(n));
                at += n;
            }
            players[static_cast<std::size_t>(p)]->drain();
            ++finished;
        });
    }
    threads.emplace_back([&] {
        std::vector<std::unique_ptr<SourceDataLine>> churn;
        for (int round = 0; finished < 2; ++round) {
            churn.push_back(mixer.createLine());
            churn.back()->open(pcm16(2, 44100));
            churn.back()->start();
            std::vector<std::int16_t> silence(2 * 300, 0);
            churn.back()->write(reinterpret_cast<const std::byte*>(silence.data()), 0, 1200);
            if (round % 3 == 0)
                churn.erase(churn.begin());
            if (churn.size() > 300)
                churn.clear();
        }
    });

    std::vector<float> out;
    std::vector<float> one(block * 2);
    while (finished < 2) {
        mixer.render(one.data(), block);
        out.insert(out.end(), one.begin(), one.end());
    }
    for (auto& t : threads)
        t.join();
    for (int p = 0; p < 2; ++p) {
        std::vector<float> heard;
        for (float x : side(out, p))
            if (x != 0.0f)
                heard.push_back(x);
        const auto& sound = sounds[static_cast<std::size_t>(p)];
        ASSERT_EQ(heard.size(), sound.size()) << "player " << p;
        // Where a ring ran dry the line faded out and back in: those frames are turned down,
        // never up, and only a fade's length on each side of a dry spell.
        std::size_t turnedDown = 0;
        for (std::size_t i = 0; i < sound.size(); ++i) {
            const float want = sound[i] / 32768.0f;
            ASSERT_GT(heard[i] / want, 0.0f) << "player " << p << ", frame " << i;
            ASSERT_LE(heard[i] / want, 1.0f + 1e-6f) << "player " << p << ", frame " << i;
            turnedDown += heard[i] != want ? 1 : 0;
        }
        const std::size_t fade = rate * config::starvedFadeMs / 1000;
        EXPECT_LE(turnedDown, 2 * fade * (mixer.underruns() + 1)) << "player " << p;
    }
}
