#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <soxr.h>

// Every capacity and timing of the audio service in one place.
namespace audio::config {

// The output stream: float, stereo, this rate unless the server's sink runs at another.
inline constexpr int preferredDeviceRate = 48000;
inline constexpr int deviceChannels = 2;
// Sink rates taken as they are; outside them the stream asks for the preferred rate.
inline constexpr int minDeviceRate = 8000;
inline constexpr int maxDeviceRate = 384000;
// The most frames the mixer renders at once; a server that asks for more gets several blocks.
inline constexpr int maxRenderFrames = 4096;
// The period frames asked for in the real-time budget figures and in a line's start cushion.
inline constexpr int deviceBufferFrames = 256;

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
// Silence a new stream plays before the device counts as open: on a busy machine a new
// PulseAudio stream lost up to the first 30 ms it was given.
inline constexpr auto deviceSettleTime = std::chrono::milliseconds(80);

// A line converts and publishes its input in pieces of this many frames, so the first frames
// are playable long before a whole chunk is converted.
inline constexpr int writePieceFrames = 256;

// Frames a line must have ready before the mixer starts it (unless that is the whole sound):
// a cushion of four blocks in case its worker is pre-empted just after the first piece. The
// worker converts that many frames in about a tenth of a millisecond.
inline constexpr std::size_t startFrames = 4 * deviceBufferFrames;

// Frames a line buffers ahead of the mixer (a power of two): about 340 ms at 48 kHz, enough
// for a worker thread that is late by a scheduler slice or a slow disk read. 128 KiB a line.
inline constexpr std::size_t ringFrames = 16384;

// A writer that finds the ring full sleeps until this share of it is free, so hundreds of
// waiting workers wake a few times a second each rather than constantly.
inline constexpr std::size_t ringRefillDivisor = 4;

// The longest a writer or drain waits while the mixer renders nothing at all (device gone):
// after that the line gives up instead of hanging its worker for ever.
inline constexpr auto stalledMixerTimeout = std::chrono::seconds(3);

// Slots in the first line table; the table doubles whenever it is full.
inline constexpr std::size_t initialLineSlots = 64;

// Widest input accepted; a frame of this many channels is mixed down to stereo.
inline constexpr int maxChannels = 32;
// Input rates a line takes. A header outside them is refused with its rate named: a rate of a
// few hertz would have one hit convert for minutes, one of megahertz cost a core.
inline constexpr int minInputRate = 8000;
inline constexpr int maxInputRate = 384000;

// The converter for lines whose rate differs from the device's: libsoxr's 20-bit recipe, which
// keeps 91% of the band (a tone at 90% of a 44.1 kHz file's top comes out 0.007 dB down; the
// fastest libsamplerate sinc kept 80% and took 10.9 dB off a 19 kHz tone) and is precise to
// 133 dB against the same filter in double precision. Measured here, one 44.1 to 48 kHz stereo
// line converts 30 million frames a second, a mono one over 100 million: several times
// libsamplerate's fastest sinc. The 28-bit recipe is inaudibly better for half again the
// memory.
inline constexpr unsigned long converterQuality = SOXR_HQ;
// Its phase response. A linear-phase filter rings before an attack, at the top of the band it
// keeps: over 1.5 ms before a click, at 20 kHz for a 44.1 kHz file, which nobody hears, but at
// 3.6 kHz for an 8 kHz file, a chirp before every hit. A minimum-phase filter never rings before
// the attack, but shifts the top octave against the rest (a splash cymbal's waveform matched
// its linear-phase conversion only to 0.89) and takes ten times as long to make. So linear
// phase where the band edge is out of hearing, minimum phase below.
inline constexpr double linearPhaseFromRate = 40000;
inline constexpr unsigned long converterPhase(double inputRate, double outputRate)
{
    return (inputRate < outputRate ? inputRate : outputRate) >= linearPhaseFromRate
        ? SOXR_LINEAR_PHASE
        : SOXR_MINIMUM_PHASE;
}
// Making a minimum-phase converter takes about 0.3 ms: a line takes one made beforehand and
// leaves another made for the next line, up to this many waiting for each kind.
inline constexpr std::size_t sparesPerConverterKind = 2;

// After a peak beyond full scale the limiter's gain holds for limiterHoldSeconds, then comes
// back to 1 with a time constant of limiterReleaseSeconds. Eight full-scale sines at once: with
// no hold and 50 ms, every crest was brought to full scale again (3.4% of the samples at the
// rail, distortion -15 dB); held and slower, the gain follows the loudness, not the waveform.
// A loud burst ducks what follows it for about that long.
inline constexpr double limiterHoldSeconds = 0.05;
inline constexpr double limiterReleaseSeconds = 0.25;
// A line whose worker falls behind fades out over this long and back in when its frames come,
// instead of stopping and starting with a click.
inline constexpr int starvedFadeMs = 3;

} // namespace audio::config
