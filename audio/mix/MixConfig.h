#pragma once

#include <chrono>
#include <cstddef>
#include <soxr.h>

// Every capacity and timing of the lines and the mixer: what a line takes, how far it buffers
// ahead, how it converts, how the mix is kept under full scale. What was tried on the way to
// these values, and what it measured, is in docs/tuning.md.
namespace audio::config {

// The period frames asked for in the real-time budget figures and in a line's start cushion.
inline constexpr int deviceBufferFrames = 256;

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

// A writer waiting for room, or a drain for its frames to play, sleeps about as long as the
// missing frames take to play, but within these bounds: it never spins, and it sees a stopped
// mixer within a tenth of a second.
inline constexpr auto shortestLineWait = std::chrono::microseconds(500);
inline constexpr auto longestLineWait = std::chrono::milliseconds(100);

// The longest a writer or drain waits while the mixer renders nothing at all (device gone):
// after that the line gives up instead of hanging its worker for ever.
inline constexpr auto stalledMixerTimeout = std::chrono::seconds(3);

// How often a closing line looks whether render has let go of it. It waits at most one block
// (1 to 85 ms); looking this often adds at most 50 µs to a close and costs next to nothing.
inline constexpr auto renderPassPoll = std::chrono::microseconds(50);

// Slots in the first line table; the table doubles whenever it is full.
inline constexpr std::size_t initialLineSlots = 64;

// Widest input accepted; a frame of this many channels is mixed down to stereo.
inline constexpr int maxChannels = 32;
// Input rates a line takes. A header outside them is refused with its rate named: a rate of a
// few hertz would have one hit convert for minutes, one of megahertz cost a core.
inline constexpr int minInputRate = 8000;
inline constexpr int maxInputRate = 384000;

// The converter for lines whose rate differs from the device's: libsoxr's 20-bit recipe, which
// keeps 91% of the band (a tone at 90% of a 44.1 kHz file's top comes out 0.007 dB down) and is
// precise to 133 dB against the same filter in double precision, at many times real time (the
// README gives tamborel-bench's figures). The 28-bit recipe is inaudibly better for half again
// the memory.
inline constexpr unsigned long converterQuality = SOXR_HQ;
// Its phase response. A linear-phase filter rings before an attack, at the top of the band it
// keeps: over 1.5 ms before a click, at 20 kHz for a 44.1 kHz file, which nobody hears, but at
// 3.6 kHz for an 8 kHz file, a chirp before every hit. A minimum-phase filter never rings before
// the attack, but shifts the top octave against the rest (a splash cymbal's waveform matched
// its linear-phase conversion only to 0.89) and takes ten times as long to make. So linear
// phase where the band edge is out of hearing, minimum phase below.
inline constexpr double linearPhaseFromRate = 40000;
// [any] The phase flags for a line from inputRate to outputRate.
inline constexpr unsigned long converterPhase(double inputRate, double outputRate) noexcept
{
    return (inputRate < outputRate ? inputRate : outputRate) >= linearPhaseFromRate
        ? SOXR_LINEAR_PHASE
        : SOXR_MINIMUM_PHASE;
}
// Making a minimum-phase converter takes about 0.3 ms: a line takes one made beforehand and
// leaves another made for the next line, up to this many waiting for each kind.
inline constexpr std::size_t sparesPerConverterKind = 2;
// The rate most drum samples are recorded at: when the device opens, converters from it (mono
// and stereo) are made, so the first hit does not make its own.
inline constexpr double usualSampleRate = 44100;

// After a peak beyond full scale the limiter's gain holds for limiterHoldSeconds, then comes
// back to 1 with a time constant of limiterReleaseSeconds. Held, and released slowly, the gain
// follows the mix's loudness rather than its waveform, so it turns the mix down without
// squaring its crests off. A loud burst ducks what follows it for about that long.
inline constexpr double limiterHoldSeconds = 0.05;
inline constexpr double limiterReleaseSeconds = 0.25;
// A line whose worker falls behind fades out over this long and back in when its frames come,
// instead of stopping and starting with a click.
inline constexpr int starvedFadeMs = 3;

} // namespace audio::config
