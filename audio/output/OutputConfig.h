#pragma once

#include <array>
#include <chrono>
#include <cstddef>

// Every capacity and timing of the output streams: the buffers they ask the servers for, how
// they step between them, how long they wait.
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

// Each stream chooses its buffer among a few steps, from the underruns and from its worst
// stall: how late it was served, beyond its normal pace. A stall of closeCall of the step's
// duration or more is a close call; a close call or an underrun climbs at once. A step holds
// while the worst stall stays under holds of its duration; the stream steps down only when the
// output has been silent for silenceBeforeStepDown and the step has been watched for
// latencyWindow, and then to the smallest step the worst stall of that window would have
// fitted. Here the worst stalls came every ten to twenty seconds, a few times a minute: with
// a window of 5 s a stream stepped down between them and the next one was heard, and with 20 s
// a stream stepped down from 1024 frames to 256 and failed within seconds.
inline constexpr auto latencyWindow = std::chrono::seconds(60);
inline constexpr auto silenceBeforeStepDown = std::chrono::seconds(1);

// PipeWire's quantum. Drummers ask for 64 to 128 frames. The stall is how long after the
// cycle began our block was ready. On the virtual machines here a real-time thread woke up to
// 10 ms late now and then on an idle machine, so the stream begins at 1024 frames, which held
// there, and steps down as far as the machine's own stalls allow once it has watched them for
// a window. 2048 frames is PipeWire's largest quantum unless configured otherwise.
inline constexpr std::array<int, 5> pipeWireQuantumSteps { 128, 256, 512, 1024, 2048 };
inline constexpr std::size_t pipeWireFirstStep = 3;
inline constexpr double pipeWireCloseCall = 0.75;
inline constexpr double pipeWireHolds = 0.5;
// Each cycle's lateness is measured to the microsecond: a step down may go as far as it fits.
inline constexpr bool pipeWireDownAsFarAsFits = true;

// PulseAudio's target latency: the server's buffer and ours together. The stall is how much
// more than its least a request asked for; the server often asks for one least more without
// being late, a quarter of the target. SDL's PulseAudio driver left holes of silence at a
// fixed 256 frames on a busy machine and none at 20 ms; here underflows came when a request
// was half the target late, so that is a close call, and a step holds under a quarter. On an
// idle virtual machine here 21 ms still underflowed now and then and 43 ms held, so the
// stream begins there.
inline constexpr std::array<int, 8> pulseLatencySteps { 256, 384, 512, 768, 1024, 1536, 2048,
    3072 };
inline constexpr std::size_t pulseFirstStep = 6;
inline constexpr double pulseCloseCall = 0.5;
inline constexpr double pulseHolds = 0.25;
// A late request shows only once it is a whole server block late: on an idle machine here the
// worst stall read 0 at 43 ms, and 5 ms underflowed as soon as the machine got busy. One step
// a window.
inline constexpr bool pulseDownAsFarAsFits = false;
// Requests not judged after a new buffer is asked for: they come in a rush while it fills.
inline constexpr int pulseRequestsBeforeWatching = 16;

// How often a stream looks at what its real-time thread saw, off that thread.
inline constexpr auto latencyCheckInterval = std::chrono::milliseconds(100);
// The longest an opening waits for a server's answer or for its stream to be linked.
inline constexpr auto outputOpenTimeout = std::chrono::seconds(2);
// PulseAudio's client thread: real-time, below the server's own priority (5 by default).
inline constexpr int clientRealtimePriority = 4;

} // namespace audio::config
