// The output back-ends: their bookkeeping with made-up clocks, then each on a real server that
// the test starts itself, made to misbehave by a source that stalls the real-time thread.
#include "SoundServers.h"
#include "WavFiles.h"

#include "TestSupport.h"
#include "audio/AudioException.h"
#include "audio/OutputDevice.h"
#include "audio/mix/Mixer.h"
#include "audio/output/LatencyLadder.h"
#include "audio/output/OutputConfig.h"
#include "audio/output/OutputStream.h"
#include "audio/output/PipeWireOutput.h"
#include "audio/output/PulseOutput.h"

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
        if (keepPieces)
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
    // Kept only where no server calls: a real-time thread must not allocate.
    bool keepPieces = false;
    std::vector<int> pieces;
    int stallOn = -1;
    std::chrono::milliseconds stallFor { 0 };
    int next = 0;
};

} // namespace

namespace {

constexpr std::int64_t ms = 1'000'000;

LatencyLadder::Rules quantumRules(std::size_t start)
{
    LatencyLadder::Rules rules;
    rules.steps = { 128, 256, 512, 1024, 2048 }; // 2.67, 5.33, 10.67, 21.33, 42.67 ms at 48 kHz
    rules.start = start;
    rules.closeCall = 0.75;
    rules.holds = 0.5;
    rules.windowNs = 5000 * ms;
    rules.silenceNs = 1000 * ms;
    return rules;
}

} // namespace

TEST(LatencyLadderT, AnUnderrunClimbsAtOnceAndTheFailedStepIsNeverTriedAgain)
{
    LatencyLadder ladder(quantumRules(0), 0);
    std::int64_t t = 0;
    EXPECT_EQ(ladder.tick(0, ms / 2, t, t), LatencyLadder::Change::None);
    EXPECT_EQ(ladder.current(), 128);
    t += 100 * ms;
    EXPECT_EQ(ladder.tick(1, ms / 2, t, t), LatencyLadder::Change::Up);
    EXPECT_EQ(ladder.current(), 256);
    // Long silence with tiny stalls would fit 128 frames, but 128 failed.
    for (int i = 0; i < 200; ++i) {
        t += 100 * ms;
        EXPECT_EQ(ladder.tick(1, ms / 10, 0, t), LatencyLadder::Change::None) << "tick " << i;
    }
    EXPECT_EQ(ladder.current(), 256);
    // At the top there is nowhere to go.
    LatencyLadder top(quantumRules(4), 0);
    EXPECT_EQ(top.tick(5, 50 * ms, 0, 100 * ms), LatencyLadder::Change::None);
    EXPECT_EQ(top.current(), 2048);
}

TEST(LatencyLadderT, ACloseCallClimbsToTheStepWithRoomForTheWorstStall)
{
    {
        // 2.2 ms of a 2.67 ms cycle: a close call; 256 frames leave twice that.
        LatencyLadder ladder(quantumRules(0), 0);
        EXPECT_EQ(ladder.tick(0, 2200'000, 0, 100 * ms), LatencyLadder::Change::Up);
        EXPECT_EQ(ladder.current(), 256);
    }
    {
        // A 4 ms stall: 256 frames would be a close call too, so straight to 512.
        LatencyLadder ladder(quantumRules(0), 0);
        EXPECT_EQ(ladder.tick(0, 4 * ms, 0, 100 * ms), LatencyLadder::Change::Up);
        EXPECT_EQ(ladder.current(), 512);
    }
    {
        // Half the cycle is no close call.
        LatencyLadder ladder(quantumRules(0), 0);
        EXPECT_EQ(ladder.tick(0, 1300'000, 0, 100 * ms), LatencyLadder::Change::None);
    }
}

TEST(LatencyLadderT, StepsDownOnlyInSilenceAfterAWindowAsFarAsItsWorstWouldHaveFitted)
{
    LatencyLadder ladder(quantumRules(3), 0);
    std::int64_t t = 0;
    std::int64_t lastSound = 0;
    auto tick = [&](std::int64_t stall, bool sounding) {
        t += 100 * ms;
        return ladder.tick(0, stall, sounding ? t : lastSound, t);
    };
    // Ten seconds of sound with small stalls: never a step down while it sounds.
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(tick(ms, true), LatencyLadder::Change::None);
    lastSound = t;
    // Silent, but not for long enough yet.
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(tick(ms, false), LatencyLadder::Change::None);
    // 1 ms fits half of 128 frames' 2.67 ms: straight down from 1024.
    EXPECT_EQ(tick(ms, false), LatencyLadder::Change::Down);
    EXPECT_EQ(ladder.current(), 128);
    EXPECT_EQ(ladder.worstStallNs(), ms);

    // A 2 ms stall fits 256 frames but not 128: down to 256 while it is in the window, to 128
    // once it has left and the new step has been watched a whole window.
    LatencyLadder wary(quantumRules(2), 0);
    t = 0;
    for (int i = 0; i < 49; ++i) {
        t += 100 * ms;
        EXPECT_EQ(wary.tick(0, i == 10 ? 2 * ms : ms / 2, 0, t), LatencyLadder::Change::None)
            << "tick " << i;
    }
    t += 100 * ms;
    EXPECT_EQ(wary.tick(0, ms / 2, 0, t), LatencyLadder::Change::Down);
    EXPECT_EQ(wary.current(), 256);
    for (int i = 0; i < 49; ++i) {
        t += 100 * ms;
        EXPECT_EQ(wary.tick(0, ms / 2, 0, t), LatencyLadder::Change::None) << "tick " << i;
    }
    t += 100 * ms;
    EXPECT_EQ(wary.tick(0, ms / 2, 0, t), LatencyLadder::Change::Down);
    EXPECT_EQ(wary.current(), 128);
}

TEST(LatencyLadderT, AStepDownThatFailsGoesBackAtOnceToTheStepThatHeld)
{
    LatencyLadder ladder(quantumRules(3), 0);
    std::int64_t t = 0;
    for (int i = 0; i < 50; ++i) {
        t += 100 * ms;
        ladder.tick(0, ms / 10, 0, t);
    }
    ASSERT_EQ(ladder.current(), 128) << "tiny stalls in silence: down from 1024 at once";
    // The machine gets busy: an underrun with no stall to show for it goes back to 1024, not
    // one step at a time with a hole at each.
    t += 100 * ms;
    EXPECT_EQ(ladder.tick(1, 0, t, t), LatencyLadder::Change::Up);
    EXPECT_EQ(ladder.current(), 1024);
    // Once a step has held a window, a failure there climbs only as far as it must.
    for (int i = 0; i < 50; ++i) {
        t += 100 * ms;
        ladder.tick(1, 0, t, t);
    }
    t += 100 * ms;
    EXPECT_EQ(ladder.tick(2, 0, t, t), LatencyLadder::Change::Up);
    EXPECT_EQ(ladder.current(), 2048);
}

TEST(LatencyLadderT, ACoarseStallMeasureStepsDownOneStepAWindow)
{
    LatencyLadder::Rules rules = quantumRules(3);
    rules.downAsFarAsFits = false;
    LatencyLadder ladder(rules, 0);
    std::int64_t t = 0;
    std::vector<int> steps;
    for (int i = 0; i < 200; ++i) {
        t += 100 * ms;
        if (ladder.tick(0, 0, 0, t) == LatencyLadder::Change::Down)
            steps.push_back(ladder.current());
    }
    EXPECT_EQ(steps, (std::vector<int> { 512, 256, 128 }));
}

TEST(CycleWatchT, CleanCyclesAndQuantumChangesCountNothing)
{
    CycleWatch watch;
    std::uint64_t position = 1000, start = 5'000'000;
    for (const std::uint64_t quantum : { 128, 128, 256, 256, 1024, 64, 64 }) {
        const std::uint64_t period = quantum * 1'000'000'000 / 48000;
        EXPECT_EQ(watch.observe(position, quantum, start + period,
                      static_cast<std::int64_t>(start + period / 10)),
            0u)
            << "quantum " << quantum;
        position += quantum;
        start += period;
    }
    // A second call for the same cycle, and the graph starting again from an earlier position.
    EXPECT_EQ(watch.observe(position - 64, 64, start + 1'333'333, start + 1000), 0u);
    EXPECT_EQ(watch.observe(10, 64, start + 1'333'333, start + 1000), 0u);
}

TEST(CycleWatchT, MissedAndLateCyclesAreCounted)
{
    CycleWatch watch;
    const std::uint64_t period = 2'666'666;
    EXPECT_EQ(watch.observe(0, 128, period, 100), 0u);
    // Two cycles went by without a call.
    EXPECT_EQ(watch.observe(3 * 128, 128, 4 * period, 3 * period + 100), 2u);
    // Ready only after the next cycle began.
    EXPECT_EQ(watch.observe(4 * 128, 128, 5 * period, 5 * period + 10), 1u);
    EXPECT_EQ(watch.observe(5 * 128, 128, 6 * period, 6 * period - 10), 0u);
}

TEST(PipeWireFillT, RendersWhatTheGraphAsksForInPiecesTheMixerTakes)
{
    std::vector<float> buffer(2 * 16384, -5.0f);
    bool sounded = false;
    {
        TestSource source;
        source.keepPieces = true;
        EXPECT_EQ(fillPipeWireBuffer(&source, buffer.data(), 8192, 128, sounded), 128u);
        EXPECT_EQ(source.pieces, std::vector<int> { 128 });
        EXPECT_EQ(buffer[2 * 128], -5.0f) << "nothing written past the request";
        EXPECT_TRUE(sounded);
    }
    {
        // A quantum larger than the mixer's largest block, and a request beyond the buffer.
        TestSource source;
        source.keepPieces = true;
        const std::uint32_t frames = 3 * config::maxRenderFrames + 100;
        EXPECT_EQ(fillPipeWireBuffer(&source, buffer.data(), 16384, frames, sounded), frames);
        const int max = config::maxRenderFrames;
        EXPECT_EQ(source.pieces, (std::vector<int> { max, max, max, 100 }));
        for (std::uint32_t i = 0; i < 2 * frames; ++i)
            ASSERT_EQ(buffer[i], static_cast<float>(i % 1000) / 1000.0f) << "sample " << i;
        TestSource capped;
        EXPECT_EQ(fillPipeWireBuffer(&capped, buffer.data(), 1000, 5000, sounded), 1000u);
        EXPECT_EQ(fillPipeWireBuffer(&capped, buffer.data(), 1000, 0, sounded), 1000u)
            << "no request";
    }
    // Before the stream is started: silence.
    EXPECT_EQ(fillPipeWireBuffer(nullptr, buffer.data(), 8192, 256, sounded), 256u);
    EXPECT_FALSE(sounded);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(buffer[static_cast<std::size_t>(i)], 0.0f);
}

namespace {

// A stream on a real server, fed by a test source.
class ServerBackendT : public ::testing::Test {
protected:
    // Opens a stream with the back-end and starts it on the source (which must outlive it).
    static std::unique_ptr<OutputStream> openOn(
        std::unique_ptr<OutputStream> (*open)(std::string&), TestSource& source)
    {
        std::string failure;
        auto stream = open(failure);
        EXPECT_NE(stream, nullptr) << failure;
        if (stream)
            stream->start(source);
        return stream;
    }
    void expectItPlays(OutputStream& stream, TestSource& source)
    {
        const std::uint64_t second = static_cast<std::uint64_t>(stream.sampleRate());
        EXPECT_TRUE(eventually([&] { return source.frameCount.load() >= second; }))
            << "a second of sound was asked for";
        EXPECT_FALSE(stream.lost());
    }
    // A stream playing on the server notices when the server is killed, and closes safely.
    void expectALossNoticed(
        audio_test::SoundServer& server, std::unique_ptr<OutputStream> (*open)(std::string&))
    {
        ASSERT_TRUE(server.started()) << server.failure();
        TestSource source;
        auto stream = openOn(open, source);
        ASSERT_NE(stream, nullptr);
        expectItPlays(*stream, source);
        server.kill();
        EXPECT_TRUE(eventually([&] { return stream->lost(); }));
        stream.reset();
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
    TestSource source; // outlives the stream that calls it
    auto stream = openOn(openPipeWireOutput, source);
    ASSERT_NE(stream, nullptr);
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
    const int first = config::pipeWireQuantumSteps[config::pipeWireFirstStep];
    EXPECT_TRUE(log_.entriesIn("tamborel.audio")
                    .front()
                    .message.contains(QString("a quantum of %1 frames").arg(first)))
        << climbs(log_);
}

TEST_F(ServerBackendT, PipeWireCountsAStalledBlockAndAsksForABiggerQuantum)
{
    audio_test::PipeWireServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    TestSource source; // outlives the stream that calls it
    source.stallOn = 200;
    source.stallFor = 40ms;
    auto stream = openOn(openPipeWireOutput, source);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(eventually([&] { return stream->info().serverUnderruns > 0; }))
        << "a 40 ms stall misses cycles of every quantum";
    const int first = config::pipeWireQuantumSteps[config::pipeWireFirstStep];
    EXPECT_TRUE(eventually([&] { return stream->info().targetLatencyFrames > first; }));
    EXPECT_TRUE(eventually([&] {
        const OutputInfo now = stream->info();
        return now.bufferFrames == now.targetLatencyFrames;
    })) << "the graph follows the new quantum: "
        << stream->info().bufferFrames;
    EXPECT_NE(climbs(log_).find("it did not hold"), std::string::npos) << climbs(log_);
    EXPECT_FALSE(stream->lost());
}

TEST_F(ServerBackendT, PipeWireNoticesTheServerGoingAway)
{
    audio_test::PipeWireServer server;
    expectALossNoticed(server, openPipeWireOutput);
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
    TestSource source; // outlives the stream that calls it
    source.stallOn = 300;
    source.stallFor = 100ms;
    auto stream = openOn(openPulseAudioOutput, source);
    ASSERT_NE(stream, nullptr);
    expectItPlays(*stream, source);
    EXPECT_EQ(stream->info().driver, "pulseaudio");
    EXPECT_EQ(stream->sampleRate(), 48000);
    ASSERT_TRUE(eventually([&] { return stream->info().serverUnderruns > 0; }))
        << "a 100 ms stall empties a buffer of a few tens of milliseconds";
    const int first = config::pulseLatencySteps[config::pulseFirstStep];
    EXPECT_TRUE(eventually([&] { return stream->info().targetLatencyFrames > first; }))
        << climbs(log_);
    const std::string said = climbs(log_);
    EXPECT_NE(said.find("PulseAudio output at 48000 Hz"), std::string::npos) << said;
    EXPECT_NE(said.find("(" + std::to_string(first) + " frames)"), std::string::npos) << said;
    EXPECT_NE(said.find("it did not hold"), std::string::npos) << said;
}

TEST_F(ServerBackendT, PulseAudioNoticesTheServerGoingAway)
{
    audio_test::PulseAudioServer server;
    expectALossNoticed(server, openPulseAudioOutput);
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

TEST_F(OutputOrderT, AServerThatGoesAwayIsReplacedByTheNextOneOnTheNextLine)
{
    Mixer* first = nullptr;
    {
        audio_test::PipeWireServer server;
        ASSERT_TRUE(server.started()) << server.failure();
        first = &outputMixer();
        EXPECT_EQ(outputInfo().driver, "pipewire");
        server.kill();
        // Until the stream has noticed, the device still looks open.
        ASSERT_TRUE(eventually([&] {
            try {
                return &outputMixer() != first;
            } catch (const LineUnavailableException&) {
                return true;
            }
        }));
    }
    audio_test::PipeWireServer again;
    ASSERT_TRUE(again.started()) << again.failure();
    Mixer& second = outputMixer();
    EXPECT_NE(&second, first);
    EXPECT_EQ(outputInfo().driver, "pipewire");
    const auto blocks = second.blocks();
    EXPECT_TRUE(eventually([&] { return second.blocks() > blocks; })) << "the new stream plays";
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
