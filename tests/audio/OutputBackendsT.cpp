// The output back-ends: their bookkeeping with made-up clocks, then each on a real server that
// the test starts itself, made to misbehave by a source that stalls the real-time thread.
#include "SoundServers.h"
#include "WavFiles.h"

#include "TestSupport.h"
#include "audio/AudioException.h"
#include "audio/Config.h"
#include "audio/Mixer.h"
#include "audio/OutputDevice.h"
#include "audio/output/LatencyLadder.h"
#include "audio/output/OutputStream.h"
#include "audio/output/PipeWireOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sched.h>
#include <thread>
#include <vector>

using namespace audio;
using namespace std::chrono_literals;
using audio_test::EnvironmentGuard;

namespace {

// Polls until the condition holds or the time is up.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds patience = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Counts what it is asked for and writes a ramp; may stall the thread once, on a given block.
class TestSource final : public RenderSource {
public:
    void render(float* out, int frames) noexcept override
    {
        const int call = calls.fetch_add(1) + 1;
        pieces.push_back(frames);
        for (int i = 0; i < frames * 2; ++i)
            out[i] = static_cast<float>(next++ % 1000) / 1000.0f;
        frameCount.fetch_add(static_cast<std::uint64_t>(frames));
        realtime.store((sched_getscheduler(0) & ~SCHED_RESET_ON_FORK) == SCHED_FIFO);
        if (call == stallOn)
            std::this_thread::sleep_for(stallFor);
    }
    std::atomic<int> calls { 0 };
    std::atomic<std::uint64_t> frameCount { 0 };
    std::atomic<bool> realtime { false };
    std::vector<int> pieces; // read only when the stream is gone or by unit tests
    int stallOn = -1;
    std::chrono::milliseconds stallFor { 0 };
    int next = 0;
};

} // namespace

TEST(LatencyLadderT, ClimbsOneStepPerUnderrunOnceTheLastStepHasSettled)
{
    const std::vector<int> steps { 128, 256, 512 };
    LatencyLadder ladder(steps, 500ms);
    const auto t0 = LatencyLadder::Clock::time_point {} + 10s;
    EXPECT_EQ(ladder.current(), 128);
    EXPECT_FALSE(ladder.observe(0, t0)) << "no underrun, no climb";
    EXPECT_TRUE(ladder.observe(1, t0));
    EXPECT_EQ(ladder.current(), 256);
    EXPECT_FALSE(ladder.observe(1, t0 + 1s)) << "the same underrun again";
    EXPECT_FALSE(ladder.observe(3, t0 + 200ms)) << "underruns of the old buffer";
    EXPECT_EQ(ladder.current(), 256);
    EXPECT_TRUE(ladder.observe(4, t0 + 800ms));
    EXPECT_EQ(ladder.current(), 512);
    EXPECT_TRUE(ladder.atTop());
    EXPECT_FALSE(ladder.observe(10, t0 + 10s)) << "nothing above the top";
    EXPECT_EQ(ladder.current(), 512);
}

TEST(CycleWatchT, CleanCyclesAndQuantumChangesCountNothing)
{
    CycleWatch watch;
    std::uint64_t position = 1000, start = 5'000'000;
    for (const std::uint64_t quantum : { 128, 128, 256, 256, 1024, 64, 64 }) {
        const std::uint64_t period = quantum * 1'000'000'000 / 48000;
        const auto seen = watch.observe(position, quantum, start, start + period,
            static_cast<std::int64_t>(start + period / 10));
        EXPECT_EQ(seen.underruns, 0u) << "quantum " << quantum;
        EXPECT_FALSE(seen.closeCall) << "quantum " << quantum;
        position += quantum;
        start += period;
    }
    // A second call for the same cycle, and the graph starting again from an earlier position.
    EXPECT_EQ(
        watch.observe(position - 64, 64, start, start + 1'333'333, start + 1000).underruns, 0u);
    EXPECT_EQ(watch.observe(10, 64, start, start + 1'333'333, start + 1000).underruns, 0u);
}

TEST(CycleWatchT, MissedLateAndCloseCallsAreTold)
{
    CycleWatch watch;
    const std::uint64_t period = 2'666'666;
    EXPECT_EQ(watch.observe(0, 128, 0, period, 100).underruns, 0u);
    // Two cycles went by without a call.
    EXPECT_EQ(watch.observe(3 * 128, 128, 3 * period, 4 * period, 3 * period + 100).underruns, 2u);
    // Ready only after the next cycle began.
    EXPECT_EQ(watch.observe(4 * 128, 128, 4 * period, 5 * period, 5 * period + 10).underruns, 1u);
    // Ready with a tenth of the cycle to spare: in time, but a close call.
    const auto close
        = watch.observe(5 * 128, 128, 5 * period, 6 * period, 6 * period - period / 10);
    EXPECT_EQ(close.underruns, 0u);
    EXPECT_TRUE(close.closeCall);
    // Half the cycle to spare is comfortable.
    EXPECT_FALSE(
        watch.observe(6 * 128, 128, 6 * period, 7 * period, 6 * period + period / 2).closeCall);
}

TEST(PipeWireFillT, RendersWhatTheGraphAsksForInPiecesTheMixerTakes)
{
    std::vector<float> buffer(2 * 16384, -5.0f);
    {
        TestSource source;
        EXPECT_EQ(fillPipeWireBuffer(&source, buffer.data(), 8192, 128), 128u);
        EXPECT_EQ(source.pieces, std::vector<int> { 128 });
        EXPECT_EQ(buffer[2 * 128], -5.0f) << "nothing written past the request";
    }
    {
        // A quantum larger than the mixer's largest block, and a request beyond the buffer.
        TestSource source;
        const std::uint32_t frames = 3 * config::maxRenderFrames + 100;
        EXPECT_EQ(fillPipeWireBuffer(&source, buffer.data(), 16384, frames), frames);
        const int max = config::maxRenderFrames;
        EXPECT_EQ(source.pieces, (std::vector<int> { max, max, max, 100 }));
        for (std::uint32_t i = 0; i < 2 * frames; ++i)
            ASSERT_EQ(buffer[i], static_cast<float>(i % 1000) / 1000.0f) << "sample " << i;
        TestSource capped;
        EXPECT_EQ(fillPipeWireBuffer(&capped, buffer.data(), 1000, 5000), 1000u);
        EXPECT_EQ(fillPipeWireBuffer(&capped, buffer.data(), 1000, 0), 1000u) << "no request";
    }
    // Before the stream is started: silence.
    EXPECT_EQ(fillPipeWireBuffer(nullptr, buffer.data(), 8192, 256), 256u);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(buffer[static_cast<std::size_t>(i)], 0.0f);
}

namespace {

// A stream on a real server, fed by a test source.
class ServerBackendT : public ::testing::Test {
protected:
    void expectItPlays(OutputStream& stream, TestSource& source)
    {
        const std::uint64_t second = static_cast<std::uint64_t>(stream.sampleRate());
        EXPECT_TRUE(eventually([&] { return source.frameCount.load() >= second; }))
            << "a second of sound was asked for";
        EXPECT_FALSE(stream.lost());
    }
    testing_support::LogCapture log_;
};

std::string climbs(const testing_support::LogCapture& log)
{
    std::string text;
    for (const auto& entry : log.entriesIn("tamborel.audio"))
        text += entry.message.toStdString() + "\n";
    return text;
}

} // namespace

TEST_F(ServerBackendT, PipeWireRendersOnTheRealTimeThreadAtTheQuantumItAsksFor)
{
    audio_test::PipeWireServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::string failure;
    auto stream = openPipeWireOutput(failure);
    ASSERT_NE(stream, nullptr) << failure;
    TestSource source;
    stream->start(source);
    expectItPlays(*stream, source);
    EXPECT_TRUE(source.realtime.load()) << "called from PipeWire's real-time data thread";
    const OutputInfo info = stream->info();
    EXPECT_EQ(info.driver, "pipewire");
    EXPECT_EQ(info.sampleRate, 48000);
    // The graph runs at what the ladder asks for, whatever step it has reached on this machine.
    EXPECT_TRUE(eventually([&] {
        const OutputInfo now = stream->info();
        return now.bufferFrames == now.targetLatencyFrames;
    })) << "quantum "
        << stream->info().bufferFrames;
    ASSERT_FALSE(log_.entriesIn("tamborel.audio").empty());
    EXPECT_TRUE(log_.entriesIn("tamborel.audio").front().message.contains("quantum of 128 frames"));
}

TEST_F(ServerBackendT, PipeWireCountsAStalledBlockAndAsksForABiggerQuantum)
{
    audio_test::PipeWireServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::string failure;
    auto stream = openPipeWireOutput(failure);
    ASSERT_NE(stream, nullptr) << failure;
    TestSource source;
    source.stallOn = 200;
    source.stallFor = 30ms;
    stream->start(source);
    ASSERT_TRUE(eventually([&] { return stream->info().serverUnderruns > 0; }))
        << "a 30 ms stall at a 2.7 ms quantum misses cycles";
    EXPECT_TRUE(eventually([&] { return stream->info().targetLatencyFrames > 128; }));
    EXPECT_TRUE(eventually([&] {
        const OutputInfo now = stream->info();
        return now.bufferFrames == now.targetLatencyFrames;
    })) << "the graph follows the new quantum: "
        << stream->info().bufferFrames;
    EXPECT_NE(climbs(log_).find("did not hold"), std::string::npos) << climbs(log_);
    EXPECT_FALSE(stream->lost());
}

TEST_F(ServerBackendT, PipeWireNoticesTheServerGoingAway)
{
    audio_test::PipeWireServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::string failure;
    auto stream = openPipeWireOutput(failure);
    ASSERT_NE(stream, nullptr) << failure;
    TestSource source;
    stream->start(source);
    expectItPlays(*stream, source);
    server.kill();
    EXPECT_TRUE(eventually([&] { return stream->lost(); }));
    stream.reset(); // closing a stream whose server is gone is safe
}

TEST_F(ServerBackendT, PipeWireWithoutAServerFailsAtOnceWithAReason)
{
    const auto empty = audio_test::scratchFolder("no-pipewire");
    EnvironmentGuard runtime("XDG_RUNTIME_DIR", empty.c_str());
    std::string failure;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(openPipeWireOutput(failure), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - before, config::outputOpenTimeout);
    EXPECT_NE(failure.find("no PipeWire server"), std::string::npos) << failure;
    std::filesystem::remove_all(empty);
}

TEST_F(ServerBackendT, PulseAudioPlaysAtTheSinksRateAndRaisesItsTargetOnUnderflows)
{
    audio_test::PulseAudioServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::string failure;
    auto stream = openPulseAudioOutput(failure);
    ASSERT_NE(stream, nullptr) << failure;
    TestSource source;
    source.stallOn = 300;
    source.stallFor = 60ms;
    stream->start(source);
    expectItPlays(*stream, source);
    EXPECT_EQ(stream->info().driver, "pulseaudio");
    EXPECT_EQ(stream->sampleRate(), 48000);
    ASSERT_TRUE(eventually([&] { return stream->info().serverUnderruns > 0; }))
        << "a 60 ms stall empties a buffer of a few milliseconds";
    EXPECT_TRUE(eventually(
        [&] { return stream->info().targetLatencyFrames > config::pulseLatencySteps[0]; }));
    const std::string said = climbs(log_);
    EXPECT_NE(said.find("PulseAudio output at 48000 Hz, target latency 5.3 ms"), std::string::npos)
        << said;
    EXPECT_NE(said.find("did not hold"), std::string::npos) << said;
}

TEST_F(ServerBackendT, PulseAudioNoticesTheServerGoingAway)
{
    audio_test::PulseAudioServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::string failure;
    auto stream = openPulseAudioOutput(failure);
    ASSERT_NE(stream, nullptr) << failure;
    TestSource source;
    stream->start(source);
    expectItPlays(*stream, source);
    server.kill();
    EXPECT_TRUE(eventually([&] { return stream->lost(); }));
}

namespace {

// The process's one device, opened by the order of back-ends.
class OutputOrderT : public ::testing::Test {
protected:
    void SetUp() override { closeOutput(); }
    void TearDown() override { closeOutput(); }
};

} // namespace

TEST_F(OutputOrderT, PipeWireComesFirstAndAnEmptyDriverVariableCountsAsNone)
{
    audio_test::PipeWireServer server(true);
    ASSERT_TRUE(server.started()) << server.failure();
    for (const char* value : { static_cast<const char*>(nullptr), "" }) {
        EnvironmentGuard driver("SDL_AUDIODRIVER", value);
        outputMixer();
        EXPECT_EQ(outputInfo().driver, "pipewire")
            << "SDL_AUDIODRIVER " << (value ? "empty" : "unset");
        closeOutput();
    }
    // The user's choice is kept: PulseAudio's API, here served by PipeWire's PulseAudio server.
    EnvironmentGuard driver("SDL_AUDIODRIVER", "pulseaudio");
    outputMixer();
    EXPECT_EQ(outputInfo().driver, "pulseaudio");
}

TEST_F(OutputOrderT, PulseAudioComesNextAndSdlServesTheOtherDrivers)
{
    audio_test::PulseAudioServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    {
        EnvironmentGuard driver("SDL_AUDIODRIVER", nullptr);
        outputMixer();
        EXPECT_EQ(outputInfo().driver, "pulseaudio");
        closeOutput();
    }
    EnvironmentGuard driver("SDL_AUDIODRIVER", "dummy");
    outputMixer();
    EXPECT_EQ(outputInfo().driver, "dummy");
}

TEST_F(OutputOrderT, WithNothingToPlayOnEachBackEndSaysWhy)
{
    const auto empty = audio_test::scratchFolder("no-server");
    EnvironmentGuard runtime("XDG_RUNTIME_DIR", empty.c_str());
    EnvironmentGuard pulse("PULSE_SERVER", ("unix:" + (empty / "none").string()).c_str());
    EnvironmentGuard driver("SDL_AUDIODRIVER", "");
    // No sound card either, for SDL's ALSA driver.
    EnvironmentGuard alsa("ALSA_CONFIG_PATH", (empty / "none.conf").c_str());
    try {
        outputMixer();
        FAIL() << "a device with no server and no card: " << outputInfo().driver;
    } catch (const LineUnavailableException& failure) {
        const std::string why = failure.what();
        const auto pipewire = why.find("pipewire: "), pulseaudio = why.find("pulseaudio: "),
                   sdl = why.find("SDL: ");
        EXPECT_NE(pipewire, std::string::npos) << why;
        EXPECT_NE(pulseaudio, std::string::npos) << why;
        EXPECT_NE(sdl, std::string::npos) << why;
        EXPECT_TRUE(pipewire < pulseaudio && pulseaudio < sdl) << why;
    }
    std::filesystem::remove_all(empty);
}
