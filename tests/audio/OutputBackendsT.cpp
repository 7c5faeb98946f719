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
#include "audio/output/StreamWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
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
constexpr std::int64_t second = 1000 * ms;

// The PipeWire stream's rules, as the program uses them.
LatencyLadder::Rules quantumRules()
{
    return LatencyLadder::Rules::fromConfig(config::pipeWireQuantumSteps, config::pipeWireFirstStep,
        48000, config::pipeWireCloseCall, config::pipeWireHolds,
        config::pipeWireStallsPastUnderruns);
}

// A stream meeting a machine, 100 ms at a time: a stall as long as the step's cycle or longer
// loses sound, heard when the output was sounding.
class Trace {
public:
    explicit Trace(LatencyLadder::Rules rules = quantumRules())
        : ladder(std::move(rules), 0)
    {
    }
    LatencyLadder::Decision tick(std::int64_t stallNs, bool sounding, bool underrun = false)
    {
        t += 100 * ms;
        if (underrun || stallNs >= ladder.current() * second / 48000) {
            ++seen.underruns;
            if (sounding) {
                ++seen.heardUnderruns;
                if (stallNs < 2048 * second / 48000)
                    ++heardAvoidable;
            }
        }
        seen.stallNs = stallNs;
        if (sounding)
            seen.lastSoundNs = t;
        const LatencyLadder::Decision decision = ladder.tick(seen, t);
        if (decision.change == LatencyLadder::Change::Up)
            ++ups;
        return decision;
    }
    // A quiet machine in silence, for a while.
    void quietSilence(std::int64_t forNs)
    {
        for (const std::int64_t until = t + forNs; t < until;)
            tick(100'000, false);
    }
    LatencyLadder ladder;
    LatencyLadder::Seen seen;
    std::int64_t t = 0;
    int ups = 0;
    int heardAvoidable = 0; // heard underruns that the largest step would have ridden out
};

} // namespace

TEST(LatencyLadderT, AQuietDesktopPlaysOnTheSmallestStepWithinASecondAndNeverClimbs)
{
    Trace trace;
    std::mt19937 random(1);
    std::uniform_int_distribution<std::int64_t> quiet(20'000, 300'000);
    EXPECT_EQ(trace.ladder.current(), 256) << "small from the start";
    std::int64_t reached = -1;
    // Ten minutes: two seconds of silence at start-up, then playing with short rests.
    for (int i = 0; i < 6000; ++i) {
        const bool sounding = i >= 20 && i % 100 < 80;
        trace.tick(quiet(random), sounding);
        if (reached < 0 && trace.ladder.current() == 128)
            reached = trace.t;
    }
    EXPECT_GE(reached, 0);
    EXPECT_LE(reached, 1200 * ms) << "learned in the silence before the first hit";
    EXPECT_EQ(trace.ups, 0);
    EXPECT_EQ(trace.seen.underruns, 0u);
}

TEST(LatencyLadderT, AVirtualMachinesStallsAreHeardOnceThenRiddenOut)
{
    // 15 to 20 ms stalls every 10 to 20 s, 100 ms ones now and then under load; playing
    // 20 s at a time with 5 s rests.
    Trace trace;
    std::mt19937 random(2);
    std::uniform_int_distribution<int> every(100, 200), length(15, 20), rare(0, 599);
    int next = 30;
    bool climbedAtFirst = false;
    for (int i = 0; i < 6000; ++i) {
        const bool sounding = i >= 20 && i % 250 < 200;
        std::int64_t stall = 200'000;
        if (i == next) {
            stall = length(random) * ms;
            next += every(random);
        } else if (rare(random) == 0) {
            stall = 100 * ms;
        }
        const LatencyLadder::Decision decision = trace.tick(stall, sounding);
        if (i == 30) {
            climbedAtFirst = decision.change == LatencyLadder::Change::Up;
            EXPECT_GT(0.5 * trace.ladder.current() / 48.0, static_cast<double>(stall) / ms)
                << "climbs to a step with room for the stall";
        }
    }
    EXPECT_TRUE(climbedAtFirst);
    EXPECT_LE(trace.heardAvoidable, 1) << "only the first stall, before the ladder knew";
    EXPECT_EQ(trace.ladder.current(), 2048);
}

TEST(LatencyLadderT, ACloseCallClimbsOnlyAsFarAsTheStallNeedsAndBlamesNoStep)
{
    Trace trace;
    trace.quietSilence(2 * second);
    ASSERT_EQ(trace.ladder.current(), 128);
    // 2.18 ms of a 2.67 ms cycle: no sound lost, but close; 256 frames have room for it.
    const LatencyLadder::Decision decision = trace.tick(2'180'000, true);
    EXPECT_EQ(decision.change, LatencyLadder::Change::Up);
    EXPECT_EQ(decision.why, LatencyLadder::Why::CloseCall);
    EXPECT_EQ(trace.ladder.current(), 256);
    // Once the stall has left the window, the first silence brings 128 back.
    while (trace.t < 63 * second)
        trace.tick(100'000, true);
    EXPECT_EQ(trace.ladder.current(), 256) << "not while it sounds";
    for (int i = 0; i < 12; ++i)
        trace.tick(100'000, false);
    EXPECT_EQ(trace.ladder.current(), 128);
    // A 4 ms stall leaves no room at 256 either.
    trace.tick(4 * ms, true);
    EXPECT_EQ(trace.ladder.current(), 512);

    // One met in silence cost nothing: it is forgotten within seconds, not a minute.
    Trace silent;
    silent.tick(4 * ms, false);
    EXPECT_EQ(silent.ladder.current(), 512);
    while (silent.ladder.current() != 128 && silent.t < 60 * second)
        silent.tick(100'000, false);
    EXPECT_EQ(silent.t, 10'200 * ms);
}

TEST(LatencyLadderT, AFailedStepIsTriedAgainAfterABackOffThatGrowsWithEachFailure)
{
    Trace trace;
    trace.quietSilence(2 * second);
    ASSERT_EQ(trace.ladder.current(), 128);
    std::vector<std::int64_t> waited;
    for (int failure = 0; failure < 3; ++failure) {
        // Heard, with no stall to show for it.
        const LatencyLadder::Decision decision = trace.tick(0, true, true);
        EXPECT_EQ(decision.why, LatencyLadder::Why::HeardUnderrun);
        EXPECT_EQ(trace.ladder.current(), 256);
        const std::int64_t failedAt = trace.t;
        while (trace.ladder.current() != 128 && trace.t < failedAt + 10 * 60 * second)
            trace.tick(100'000, false);
        waited.push_back((trace.t - failedAt) / second);
    }
    EXPECT_EQ(waited, (std::vector<std::int64_t> { 60, 120, 240 }));

    // Where a buffer that ran dry hides how long the stall was, an underrun climbs one step.
    LatencyLadder::Rules rules = quantumRules();
    rules.stallsPastUnderruns = false;
    Trace dry(rules);
    dry.tick(20 * ms, true);
    EXPECT_EQ(dry.ladder.current(), 512);

    // An underrun no one heard waits only seconds.
    Trace silent;
    silent.quietSilence(2 * second);
    const LatencyLadder::Decision decision = silent.tick(0, false, true);
    EXPECT_EQ(decision.why, LatencyLadder::Why::SilentUnderrun);
    EXPECT_EQ(decision.waitNs, 5 * second);
    while (silent.t < 10 * second)
        silent.tick(100'000, false);
    EXPECT_EQ(silent.ladder.current(), 128);
}

TEST(LatencyLadderT, StallsNoStepSurvivesMoveNothing)
{
    Trace trace;
    trace.quietSilence(2 * second);
    ASSERT_EQ(trace.ladder.current(), 128);
    // The machine stopped for 100 ms: the largest step would have lost sound too.
    EXPECT_EQ(trace.tick(100 * ms, true).change, LatencyLadder::Change::None);
    EXPECT_EQ(trace.ladder.current(), 128);
    EXPECT_EQ(trace.ladder.worstStallNs(), 100'000);
    // And at the top there is nowhere to go.
    LatencyLadder::Rules rules = quantumRules();
    rules.start = rules.steps.size() - 1;
    Trace top(rules);
    EXPECT_EQ(top.tick(30 * ms, true).change, LatencyLadder::Change::None);
    EXPECT_EQ(top.ladder.current(), 2048);
}

TEST(CycleWatchT, CleanCyclesQuantumChangesAndNewClocksCountNothing)
{
    CycleWatch watch;
    std::int64_t graph = 1000 * second, start = 5 * second;
    auto cycle = [&](std::int64_t quantum, std::int64_t doneAfter = 100'000) {
        const std::int64_t period = quantum * second / 48000;
        const CycleWatch::Seen seen = watch.observe(start, graph, period, start + doneAfter);
        graph += period;
        start += period;
        return seen;
    };
    for (const std::int64_t quantum : { 128, 128, 256, 256, 1024, 64, 64 }) {
        const CycleWatch::Seen seen = cycle(quantum);
        EXPECT_EQ(seen.underruns, 0u) << "quantum " << quantum;
        EXPECT_EQ(seen.stallNs, 100'000);
    }
    // A new driver: its clock starts elsewhere, behind or far ahead, or stands still a cycle.
    for (const std::int64_t jump : { -900 * second, 3600 * second, std::int64_t { 0 } }) {
        graph += jump;
        EXPECT_EQ(cycle(256).underruns, 0u) << "graph clock moved by " << jump;
        EXPECT_EQ(cycle(256).underruns, 0u);
    }
    // A move to another sink: no cycle for 40 ms, then the new driver's clock, a little ahead.
    start += 40'000'000;
    graph += 90'000'000;
    EXPECT_EQ(cycle(256).underruns, 0u) << "a move's gap, then a clock ahead";
    EXPECT_EQ(cycle(256).underruns, 0u);
    // A sink suspended for two seconds, then resumed.
    start += 2 * second;
    graph += 2 * second;
    EXPECT_EQ(cycle(256).underruns, 0u);
    EXPECT_EQ(cycle(256).underruns, 0u);
}

TEST(CycleWatchT, MissedAndLateCyclesAreCountedWithTheirStall)
{
    CycleWatch watch;
    const std::int64_t period = 128 * second / 48000;
    EXPECT_EQ(watch.observe(0, 0, period, 100'000).underruns, 0u);
    // Two cycles went by without a call.
    const CycleWatch::Seen skipped
        = watch.observe(3 * period, 3 * period, period, 3 * period + 100'000);
    EXPECT_EQ(skipped.underruns, 2u);
    EXPECT_EQ(skipped.stallNs, 2 * period + 100'000);
    EXPECT_FALSE(skipped.late) << "our block came in time after the gap";
    // Ready only after the next cycle began.
    const CycleWatch::Seen late = watch.observe(4 * period, 4 * period, period, 5 * period + 10);
    EXPECT_EQ(late.underruns, 1u);
    EXPECT_TRUE(late.late);
    EXPECT_EQ(watch.observe(5 * period, 5 * period, period, 6 * period - 10).underruns, 0u);
}

TEST(StreamWatchT, AnUnderrunIsHeardByTheSoundBeforeItOrTheSoundItLost)
{
    StreamWatch watch;
    watch.sounded(1 * second);
    watch.underran(1, 10 * second, 5 * ms);
    EXPECT_EQ(watch.heardUnderruns(), 0u) << "long after the last sound";
    // A block late by a stall, holding the first frames of a hit pressed in silence.
    watch.underran(1, 11 * second, 14 * ms, true);
    EXPECT_EQ(watch.heardUnderruns(), 1u);
    // A gap while a sound rang.
    watch.sounded(12 * second);
    watch.underran(2, 12 * second + 20 * ms, 15 * ms);
    EXPECT_EQ(watch.heardUnderruns(), 3u);
    EXPECT_EQ(watch.underruns(), 4u);
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

// Whether the stream climbed for an underrun that was heard.
bool heardClimb(const testing_support::LogCapture& log)
{
    return climbs(log).find("an underrun was heard") != std::string::npos;
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
    source.stallFor = 30ms;
    auto stream = openOn(openPipeWireOutput, source);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(eventually([&] { return stream->info().serverUnderruns > 0; }))
        << "a 30 ms stall misses cycles of the first quantum";
    const int first = config::pipeWireQuantumSteps[config::pipeWireFirstStep];
    EXPECT_TRUE(eventually([&] { return stream->info().targetLatencyFrames > first; }));
    EXPECT_TRUE(eventually([&] {
        const OutputInfo now = stream->info();
        return now.bufferFrames == now.targetLatencyFrames;
    })) << "the graph follows the new quantum: "
        << stream->info().bufferFrames;
    // The stall may come after a close call of the machine's own: its climb is told a tick later.
    EXPECT_TRUE(eventually([&] { return heardClimb(log_); })) << climbs(log_);
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
    source.stallFor = 30ms;
    auto stream = openOn(openPulseAudioOutput, source);
    ASSERT_NE(stream, nullptr);
    expectItPlays(*stream, source);
    EXPECT_EQ(stream->info().driver, "pulseaudio");
    EXPECT_EQ(stream->sampleRate(), 48000);
    ASSERT_TRUE(eventually([&] { return stream->info().serverUnderruns > 0; }))
        << "a 30 ms stall empties a buffer of 21 ms";
    // From the first step, or from the smallest when the silence before the stall brought it
    // down there.
    const int first = config::pulseLatencySteps[config::pulseFirstStep];
    EXPECT_TRUE(eventually([&] { return heardClimb(log_); })) << climbs(log_);
    EXPECT_GT(stream->info().targetLatencyFrames, config::pulseLatencySteps[0]) << climbs(log_);
    const std::string said = climbs(log_);
    EXPECT_NE(said.find("PulseAudio output at 48000 Hz"), std::string::npos) << said;
    EXPECT_NE(said.find("(" + std::to_string(first) + " frames)"), std::string::npos) << said;
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
