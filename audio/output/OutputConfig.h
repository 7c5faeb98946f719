#pragma once

#include <array>
#include <chrono>
#include <cstddef>

// Every capacity and timing of the output streams: the buffers they ask the servers for, how
// they step between them, how long they wait. What was tried on the way to these values, and
// what it measured, is in docs/tuning.md.
namespace audio::config {

// The output stream: float, stereo, this rate unless the server's sink runs at another.
inline constexpr int preferredDeviceRate = 48000;
inline constexpr int deviceChannels = 2;
// Sink rates taken as they are; outside them the stream asks for the preferred rate.
inline constexpr int minDeviceRate = 8000;
inline constexpr int maxDeviceRate = 384000;
// The most frames the mixer renders at once; a server that asks for more gets several blocks.
inline constexpr int maxRenderFrames = 4096;

// SDL's period: left at 0, SDL picks about 4096 frames; its PulseAudio driver stalls at 128.
inline constexpr int sdlBufferFrames = 256;

// Each stream chooses its buffer among a few steps, from its underruns and from its stalls: how
// late it was served, beyond its normal pace. A stall of closeCall of the step's duration or
// more is a close call and climbs to the smallest step with room for it; a step has room for a
// stall under holds of its duration. An underrun climbs too, and the step waits before it is
// tried again: heardFailureBackOff when sound was playing, silentFailureBackOff when not,
// doubling with each failure up to backOffDoublings times. Steps down come when the output has
// been silent for silenceBeforeStepDown, as far as the worst stall remembered allows. A window
// shorter than the time between a machine's stalls steps down between them, and the next one is
// heard.
inline constexpr auto latencyWindow = std::chrono::seconds(60);
inline constexpr auto silenceBeforeStepDown = std::chrono::seconds(1);
// A stall met in silence cost nothing: remembered long enough to ride out the next few like
// it, so that the stream learns the machine before the first hit without being held by it.
inline constexpr auto silentStallMemory = std::chrono::seconds(10);
inline constexpr auto heardFailureBackOff = std::chrono::seconds(60);
// An underrun in silence costs nothing: long enough not to climb and fall back every tick.
inline constexpr auto silentFailureBackOff = std::chrono::seconds(5);
inline constexpr int backOffDoublings = 4;

// PipeWire's quantum. Drummers ask for 64 to 128 frames. The stall is how long after its cycle
// began our block was ready, plus the cycles missed. The stream begins at 256 frames, where a
// minimal stream is ready early in its cycle, and learns the rest in the silence before the
// first hit. 2048 frames is PipeWire's largest quantum unless configured otherwise.
inline constexpr std::array<int, 5> pipeWireQuantumSteps { 128, 256, 512, 1024, 2048 };
inline constexpr std::size_t pipeWireFirstStep = 1;
inline constexpr double pipeWireCloseCall = 0.75;
inline constexpr double pipeWireHolds = 0.5;
// The graph's clock counts the cycles missed, however many.
inline constexpr bool pipeWireStallsPastUnderruns = true;

// PulseAudio's target latency: the server's buffer and the sink's together. The stall is how
// much less was still queued at a request than at the recent requests that came on time, or
// how long our own writing of a request took. The server keeps about three quarters of
// the target queued and runs dry when a request is about half the target late: a close call at
// a third, room under a quarter. The stream begins at 21.3 ms in all, the smallest target that
// held on an idle machine.
inline constexpr std::array<int, 6> pulseLatencySteps { 512, 768, 1024, 1536, 2048, 3072 };
inline constexpr std::size_t pulseFirstStep = 2;
inline constexpr double pulseCloseCall = 0.35;
inline constexpr double pulseHolds = 0.25;
// A request that finds the buffer dry shows how long the buffer was, not how long the stall.
inline constexpr bool pulseStallsPastUnderruns = false;
// Requests not judged after a new buffer is asked for: they come in a rush while it fills.
inline constexpr int pulseRequestsBeforeWatching = 16;

// An underrun counts as heard when the output sounded this close before the time it lost.
inline constexpr auto heardWithin = std::chrono::milliseconds(50);

// How often a stream looks at what its real-time thread saw, off that thread.
inline constexpr auto latencyCheckInterval = std::chrono::milliseconds(100);
// The longest an opening waits for a server's answer or for its stream to be linked.
inline constexpr auto outputOpenTimeout = std::chrono::seconds(2);
// How long a new PipeWire stream waits for its first cycle to tell the graph's rate. A linked
// stream's first cycle comes within a few milliseconds; a sink still waking up may take longer,
// and the stream then stays at the rate it asked for.
inline constexpr auto graphRatePatience = std::chrono::milliseconds(250);
// PulseAudio's client thread: real-time, below the server's own priority (5 by default).
inline constexpr int clientRealtimePriority = 4;

} // namespace audio::config
