#include "tests/e2e/DropJudge.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

using namespace dropcheck;

std::vector<Pause> pausesFrom(const std::string& probes)
{
    std::istringstream in(probes);
    return parsePauses(in);
}

ProgramLog logFrom(const std::string& output)
{
    std::istringstream in(output);
    return parseLog(in);
}

const std::string pipeWireAt1024 = "tamborel.audio: PipeWire output at 48000 Hz, asking for a "
                                   "quantum of 1024 frames (21.3 ms)\n";
const std::string pulseAt2048
    = "tamborel.audio: PulseAudio output at 48000 Hz, target latency 42.7 ms (2048 frames)\n";

TEST(DropJudgePauses, StopsCloseOnOneProcessorOrOverlappingOnTwoAreOneAsLongAsPrinted)
{
    const auto pauses = pausesFrom("probe real-time on 2 processors\n"
                                   "pause from 10.0000 s to 10.0050 s on cpu 0: 5.00 ms\n"
                                   "pause from 11.0000 s to 11.0100 s on cpu 0: 3.00 ms\n"
                                   "pause from 10.0080 s to 10.0200 s on cpu 1: 12.00 ms\n"
                                   "pause from 10.0062 s to 10.0100 s on cpu 0: 3.80 ms\n");
    ASSERT_EQ(pauses.size(), 2u);
    EXPECT_DOUBLE_EQ(pauses[0].from, 10.0);
    EXPECT_NEAR(pauses[0].to, 10.020, 1e-9);
    EXPECT_EQ(pauses[0].cpus, (std::set<int> { 0, 1 }));
    // Its printed length, not its rounded ends.
    EXPECT_NEAR(pauses[1].seconds(), 0.003, 1e-9);
    // Back for more than a probe period and a half: two stops.
    EXPECT_EQ(pausesFrom("pause from 5.0000 s to 5.0010 s on cpu 0: 1.00 ms\n"
                         "pause from 5.0026 s to 5.0036 s on cpu 0: 1.00 ms\n")
                  .size(),
        2u);
}

TEST(DropJudgeLog, ThePulseAudioBufferIsThreeQuartersOfTheTargetAndAStepSettlesOnTheSmaller)
{
    const ProgramLog log = logFrom(pulseAt2048
        + "tamborel.audio: PulseAudio: 2048 frames -> 3072 frames (64.0 ms) at 50.000 s: a "
          "stall\n"
          "tamborel.audio: PulseAudio: 2 underruns at 49.900 s while sounding (2 so far)\n"
          "tamborel.audio: PulseAudio: 3 underruns at 70.000 s in silence (5 so far)\n"
          "tamborel.audio: PulseAudio: something new -> elsewhere\n");
    EXPECT_TRUE(log.pulse);
    EXPECT_EQ(log.rate, 48000);
    EXPECT_EQ(log.bufferAt(49.0), 1536);
    EXPECT_EQ(log.bufferAt(50.2), 1536); // the larger buffer still filling
    EXPECT_EQ(log.bufferAt(51.0), 2304);
    EXPECT_EQ(log.cycleAt(51.0), 768);
    ASSERT_EQ(log.underruns.size(), 2u);
    EXPECT_EQ(log.underruns[0].count, 2);
    EXPECT_TRUE(log.underruns[0].sounding);
    EXPECT_FALSE(log.underruns[1].sounding);
    // A line about steps it cannot read is kept to be told, never dropped.
    ASSERT_EQ(log.unread.size(), 1u);
}

// A kit whose every drum is the same steady noise, pressed every 0.8 s: the recording is that
// noise, repeated from the first press on, after half a second of silence.
constexpr int rate = 16000;
constexpr double soundFrom = 0.5, spacing = 0.8, clockAtStart = 99.48;

struct Recorded {
    std::vector<short> samples;
    Times times;
};

Recorded pressesOfNoise(int presses)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int> level(-8000, 8000);
    std::vector<short> hit(static_cast<std::size_t>(spacing * rate));
    for (short& s : hit)
        s = static_cast<short>(level(random) | 1); // never an exact zero
    Recorded r;
    r.samples.assign(static_cast<std::size_t>(soundFrom * rate), 0);
    r.times.start = clockAtStart + 0.02;
    for (int k = 0; k < presses; ++k) {
        r.samples.insert(r.samples.end(), hit.begin(), hit.end());
        // Taken a little before the key went.
        r.times.presses.push_back(clockAtStart + soundFrom + k * spacing - 0.02);
    }
    r.times.stop = clockAtStart + static_cast<double>(r.samples.size()) / rate;
    return r;
}

void silence(Recorded& r, double from, double ms)
{
    const auto first = r.samples.begin() + static_cast<long>(from * rate);
    std::fill(first, first + static_cast<long>(ms * rate / 1000), 0);
}

// "pause from ... on cpu 0" for a stop at a position of the recording.
std::string pauseAt(double position, double ms)
{
    char line[96];
    std::snprintf(line, sizeof line, "pause from %.4f s to %.4f s on cpu 0: %.2f ms\n",
        clockAtStart + position, clockAtStart + position + ms / 1000, ms);
    return line;
}

int judged(const Recorded& r, const std::string& pauses, const std::string& log)
{
    return judge(r.samples, rate, 5.0, r.times, pausesFrom(pauses), logFrom(log));
}

TEST(DropJudgeRecording, AHoleIsExcusedOnlyByAPauseOverItThatTheBufferCouldNotRideOut)
{
    Recorded r = pressesOfNoise(8);
    EXPECT_EQ(judged(r, "", pipeWireAt1024), 0);
    silence(r, 3.0, 20);
    EXPECT_EQ(judged(r, "", pipeWireAt1024), 1);
    EXPECT_EQ(judged(r, pauseAt(5.0, 70), pipeWireAt1024), 1); // a pause elsewhere
    EXPECT_EQ(judged(r, pauseAt(2.99, 40), pipeWireAt1024), 0);
    // PulseAudio rides out half its target beyond a cycle: 21.3 ms of a 30 ms pause is left.
    EXPECT_EQ(judged(r, pauseAt(2.99, 30), pulseAt2048), 1);
    EXPECT_EQ(judged(r, pauseAt(2.99, 50), pulseAt2048), 0);
}

TEST(DropJudgeRecording, APauseExcusesItsLengthOnceHoweverManyHolesItOverlaps)
{
    Recorded r = pressesOfNoise(8);
    silence(r, 3.000, 15);
    silence(r, 3.025, 15);
    EXPECT_EQ(judged(r, pauseAt(2.995, 20), pipeWireAt1024), 1);
    EXPECT_EQ(judged(r, pauseAt(2.995, 35), pipeWireAt1024), 0);
}

TEST(DropJudgeRecording, AnUnderrunWhileSoundingNeedsAPauseAndTooLittleSoundFails)
{
    const Recorded r = pressesOfNoise(8);
    const std::string underrun
        = "tamborel.audio: PipeWire: 1 underruns at 103.000 s while sounding (1 so far)\n";
    EXPECT_EQ(judged(r, "", pipeWireAt1024 + underrun), 1);
    EXPECT_EQ(judged(r, pauseAt(103.0 - clockAtStart - 0.03, 25), pipeWireAt1024 + underrun), 0);
    EXPECT_EQ(judge(r.samples, rate, 7.0, r.times, {}, logFrom(pipeWireAt1024)), 1);
    EXPECT_EQ(judged(r, "", ""), 1); // no stream named in the log
}

TEST(DropJudgeHits, MissingHitsAreExcusedOnlyByTheCyclesLostAfterAPause)
{
    const std::string underrun
        = "tamborel.audio: PipeWire: 1 underruns at 60.000 s while sounding (1 so far)\n";
    const auto pause = pausesFrom("pause from 59.9500 s to 59.9900 s on cpu 1: 40.00 ms\n");
    // A 21.3 ms cycle at 92 presses a second holds two hits at most.
    EXPECT_EQ(lost(2, 92, 50, 70, pause, logFrom(pipeWireAt1024 + underrun)), 0);
    EXPECT_EQ(lost(3, 92, 50, 70, pause, logFrom(pipeWireAt1024 + underrun)), 1);
    EXPECT_EQ(lost(1, 92, 50, 70, {}, logFrom(pipeWireAt1024 + underrun)), 1);
    EXPECT_EQ(lost(1, 92, 61, 70, pause, logFrom(pipeWireAt1024 + underrun)), 1); // before `from`
    const std::string silent
        = "tamborel.audio: PipeWire: 1 underruns at 60.000 s in silence (1 so far)\n";
    EXPECT_EQ(lost(1, 92, 50, 70, pause, logFrom(pipeWireAt1024 + silent)), 1);
    EXPECT_EQ(lost(0, 92, 50, 70, {}, logFrom(pipeWireAt1024)), 0);
}

TEST(DropJudgeBuffer, ABufferOverItsLimitNeedsAClimbAfterAPause)
{
    const ProgramLog climbed = logFrom(pipeWireAt1024
        + "tamborel.audio: PipeWire: 256 frames -> 1024 frames (21.3 ms) at 30.000 s: an "
          "underrun was heard\n");
    const auto pause = pausesFrom("pause from 29.9000 s to 29.9500 s on cpu 0: 50.00 ms\n");
    EXPECT_EQ(buffer(5333, 5400, 40, {}, climbed, 0), 0);
    EXPECT_EQ(buffer(21333, 5400, 40, pause, climbed, 0), 0);
    EXPECT_EQ(buffer(21333, 5400, 40, {}, climbed, 0), 1);
    EXPECT_EQ(buffer(21333, 5400, 40, pause, climbed, 31), 1); // climbed before the faults
    EXPECT_EQ(buffer(21333, 5400, 40, pause, logFrom(pipeWireAt1024), 0), 1);
}

} // namespace
