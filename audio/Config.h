#pragma once

#include <chrono>
#include <cstddef>

// Every capacity and timing of the audio service above the mixer and the output streams
// (theirs are in mix/MixConfig.h and output/OutputConfig.h). What was tried on the way to these
// values, and what it measured, is in docs/tuning.md.
namespace audio::config {

// Player threads kept however long it is quiet; idle threads kept ready beyond those taken, so
// the next hit finds one; and how long a thread beyond the warm ones waits for work before it
// ends.
inline constexpr std::size_t warmPlayerThreads = 4;
inline constexpr std::size_t sparePlayerThreads = 2;
inline constexpr auto playerThreadIdleLifetime = std::chrono::seconds(3);
// When the system has no thread to give, queued hits wait for one to come free and the pool
// tries again after this long, rather than spinning on a refusal.
inline constexpr auto playerThreadRetry = std::chrono::milliseconds(100);

// Silence a new stream plays before the device counts as open: on a busy machine a new
// PulseAudio stream lost up to the first 30 ms it was given. The opening looks every
// deviceSettlePoll and gives up waiting after deviceSettlePatience (a stream that renders
// nothing is noticed as lost later).
inline constexpr auto deviceSettleTime = std::chrono::milliseconds(80);
inline constexpr auto deviceSettlePoll = std::chrono::milliseconds(5);
inline constexpr auto deviceSettlePatience = std::chrono::seconds(1);
// How long a hit may wait for the output to open before it is reported instead of played late:
// longer than an opening that succeeds (about a second at most, on a PulseAudio null sink that
// waits out deviceSettlePatience), no longer than one that first waits for a server that does
// not answer (outputOpenTimeout for each).
inline constexpr auto outputWaitLimit = std::chrono::seconds(2);

// Frames of a stack trace printed with a line-unavailable report: deep enough to reach the
// player's run from any of the service's throws.
inline constexpr int stackTraceFrames = 48;

} // namespace audio::config
