// The checks the end-to-end tests judge recordings by, tried on faults made here: holes, shifts,
// early sounds, the wrong sample, hits that overlap or come cut.
#include "tests/e2e/SoundChecks.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace soundchecks;
using testing::HasSubstr;

constexpr int rate = 48000;

std::size_t frames(double seconds)
{
    return static_cast<std::size_t>(std::lround(seconds * rate));
}

// Half a second of decaying noise: like a drum, and like nothing else at any other shift.
Signal drum(unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1, 1);
    Signal s(frames(0.5));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = 0.5 * std::exp(-double(i) / rate / 0.15) * noise(random);
    return s;
}

// `sound` at `at` seconds into `seconds` of silence.
Signal recordingOf(const Signal& sound, double at, double seconds = 1.5)
{
    Signal r(frames(seconds));
    std::copy(sound.begin(), sound.end(), r.begin() + static_cast<long>(frames(at)));
    return r;
}

// The sound with `seconds` of silence put in at `at`, as an output that stalled plays it.
Signal stalled(Signal sound, double at, double seconds)
{
    sound.insert(sound.begin() + static_cast<long>(frames(at)), frames(seconds), 0.0);
    return sound;
}

// The sound with `seconds` of it left out at `at`, as a server that skipped the time plays it.
Signal skipped(Signal sound, double at, double seconds)
{
    const auto from = sound.begin() + static_cast<long>(frames(at));
    sound.erase(from, from + static_cast<long>(frames(seconds)));
    return sound;
}

TEST(Continuity, SaysAWholeSampleIsIntact)
{
    const Signal a = drum(1);
    const Continuity c = continuity(recordingOf(a, 0.3), a, long(frames(0.3)), rate);
    EXPECT_EQ(c.text, "intact");
    EXPECT_EQ(c.dropouts, 0);
    EXPECT_TRUE(c.whole);
}

TEST(Continuity, FindsAHoleOrSkippedSoundWhereItIsAndHowFarItMovedTheRest)
{
    const Signal a = drum(1);
    struct Case {
        Signal recorded;
        const char* where;
        const char* rest;
        double movedMs;
    };
    const Case cases[] = {
        { stalled(a, 0.15, 0.02), "drop-out 0.150 s into it (level 0.00", "the rest 20.0 ms late",
            20.0 },
        { skipped(a, 0.2, 0.03), "drop-out 0.200 s into it", "the rest 30.0 ms early", 30.0 },
    };
    for (const Case& k : cases) {
        const Continuity c = continuity(recordingOf(k.recorded, 0.3), a, long(frames(0.3)), rate);
        EXPECT_EQ(c.dropouts, 1) << k.where;
        EXPECT_THAT(c.text, HasSubstr(k.where));
        EXPECT_THAT(c.text, HasSubstr(k.rest));
        EXPECT_TRUE(c.whole) << k.where;
        EXPECT_DOUBLE_EQ(c.movedMs, k.movedMs);
    }
}

TEST(Continuity, SaysASampleThatTurnsIntoAnotherSoundIsNotWhole)
{
    const Signal a = drum(1), b = drum(2);
    Signal broken = a;
    std::copy(b.begin() + static_cast<long>(frames(0.2)), b.end(),
        broken.begin() + static_cast<long>(frames(0.2)));
    const Continuity c = continuity(recordingOf(broken, 0.3), a, long(frames(0.3)), rate);
    EXPECT_EQ(c.dropouts, 1);
    EXPECT_FALSE(c.whole);
    EXPECT_THAT(c.text, HasSubstr("follows the sample nowhere near"));
}

class Expect : public testing::Test {
protected:
    const std::vector<Signal> kit { drum(1), drum(2) };
    const std::vector<std::string> names { "A.wav", "B.wav" };
    Verdict judge(const Signal& recording, double from, std::size_t expected = 0) const
    {
        return expect(recording, rate, from, from + 0.25, expected, kit, names);
    }
};

TEST_F(Expect, PassesTheSampleThatStartsAfterThePress)
{
    const Verdict v = judge(recordingOf(kit[0], 0.5), 0.45);
    EXPECT_EQ(v.status(), 0);
    EXPECT_TRUE(v.faults.empty());
    EXPECT_DOUBLE_EQ(v.onset, 0.5);
    EXPECT_EQ(v.identified.best, 0);
    EXPECT_EQ(v.rival, 1);
}

TEST_F(Expect, FailsASampleWhoseOnsetLiesBeforeThePress)
{
    const Verdict v = judge(recordingOf(kit[0], 0.5), 0.55);
    EXPECT_EQ(v.status(), 1);
    ASSERT_EQ(v.faults.size(), 1u);
    EXPECT_THAT(v.faults[0], HasSubstr("A.wav starts at 0.5000 s, before the key was pressed"));
    // A sound converter rings a little ahead: that much before the press is no fault.
    EXPECT_EQ(judge(recordingOf(kit[0], 0.5), 0.5 + earliestBeforePress / 2).status(), 0);
}

TEST_F(Expect, FailsTheWrongSample)
{
    const Verdict v = judge(recordingOf(kit[1], 0.5), 0.45);
    EXPECT_EQ(v.status(), 1);
    EXPECT_EQ(v.identified.best, 1);
    EXPECT_THAT(v.faults, testing::Contains("heard B.wav, not A.wav"));
}

TEST_F(Expect, OwesToDropOutsTheScoreOfASampleThatCameWholeAroundThem)
{
    const Verdict v = judge(recordingOf(stalled(kit[0], 0.05, 0.02), 0.5), 0.45);
    EXPECT_LT(v.identified.matches[0].score, 0.9);
    EXPECT_EQ(v.status(), 3);
    EXPECT_TRUE(v.faults.empty());
    ASSERT_GE(v.owed.size(), 2u);
    EXPECT_THAT(v.owed[0], HasSubstr("A.wav came out whole around drop-outs: drop-out 0.050 s"));
    EXPECT_THAT(v.owed[1], HasSubstr("A.wav matches only"));
    EXPECT_DOUBLE_EQ(v.whole.movedMs, 20.0);
    EXPECT_DOUBLE_EQ(v.onset, 0.5);
}

TEST(Sounding, FindsTheFirstSoundAfterFrom)
{
    Signal r(frames(1.0));
    r[frames(0.1)] = 0.01; // a click before
    r[frames(0.3)] = soundLevel / 2; // under what counts as sound
    r[frames(0.4)] = -0.2;
    const auto found = sounding(r, rate, 0.2);
    ASSERT_TRUE(found.has_value());
    EXPECT_DOUBLE_EQ(found->start, 0.4);
    EXPECT_DOUBLE_EQ(found->held, 0.6);
    EXPECT_DOUBLE_EQ(sounding(r, rate, 0)->start, 0.1);
    EXPECT_FALSE(sounding(r, rate, 0.5).has_value());
}

TEST(Quiet, AsksTheWholeSpanToBeSilent)
{
    Signal r(frames(1.0));
    r[frames(0.5)] = 0.1;
    EXPECT_TRUE(quiet(r, rate, 0.4));
    EXPECT_FALSE(quiet(r, rate, 0.6));
    EXPECT_FALSE(quiet(r, rate, 1.5)); // more than was recorded
}

// A flat 2 ms pulse at 655 of 32768, stereo, as dropcheck writes the soak's kit.
Signal pulseFile(int pulseRate)
{
    return Signal(2 * static_cast<std::size_t>(0.002 * pulseRate), 655 / 32768.0);
}

// Adds the pulse to an interleaved stereo recording at frame `at`.
void strike(Signal& recording, const Signal& pulse, std::size_t at)
{
    for (std::size_t i = 0; i < pulse.size(); ++i)
        recording[2 * at + i] += pulse[i];
}

TEST(Hits, CountsOverlappingPulsesByTheirArea)
{
    const Signal pulse = pulseFile(rate);
    Signal r(2 * frames(1.0));
    strike(r, pulse, frames(0.1));
    strike(r, pulse, frames(0.1) + 40); // while the first still sounds
    strike(r, pulse, frames(0.6));
    EXPECT_EQ(pulses(r, rate).runs.size(), 2u);
    const Hits h = hits(r, rate, pulse, rate);
    EXPECT_NEAR(h.count, 3, 1e-9);
    EXPECT_NEAR(h.unit, 192 * 655 / 32768.0, 1e-12);
}

TEST(Hits, MeasuresOneHitAtTheRecordingsRate)
{
    // A 48 kHz pulse played at 96 kHz: twice the frames.
    Signal r(2 * 96000), twice = pulseFile(96000);
    strike(r, twice, 1000);
    strike(r, twice, 50000);
    EXPECT_NEAR(hits(r, 96000, pulseFile(rate), rate).count, 2, 1e-9);
}

TEST(Onsets, TakesRunsWithinTheGapOfAHitsOnsetForThatHit)
{
    Signal r(frames(1.5));
    for (double at : { 0.1, 0.25, 0.4, 0.9 }) // 0.25: the hit at 0.1 cut by a drop-out
        std::fill_n(r.begin() + static_cast<long>(frames(at)), frames(0.01), 0.1);
    const Pulses found = pulses(r, rate);
    ASSERT_EQ(found.runs.size(), 4u);
    EXPECT_THAT(onsets(found, 0.2), testing::ElementsAre(0.1, 0.4, 0.9));
    EXPECT_THAT(onsets(found, 0.1), testing::ElementsAre(0.1, 0.25, 0.4, 0.9));
    EXPECT_THAT(onsets(found, 0.5), testing::ElementsAre(0.1, 0.9));
}

} // namespace
