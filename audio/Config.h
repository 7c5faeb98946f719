#pragma once

#include <chrono>
#include <cstddef>

// Every capacity and timing of the audio service in one place.
namespace audio::config {

// The output stream: float, stereo, this rate unless the device prefers another.
inline constexpr int preferredDeviceRate = 48000;
inline constexpr int deviceChannels = 2;
// Asked for explicitly: left at 0, SDL picks about 4096 frames. PulseAudio stalls at 128.
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

// The longest a writer or drain waits while the mixer renders nothing at all (device gone):
// after that the line gives up instead of hanging its worker for ever.
inline constexpr auto stalledMixerTimeout = std::chrono::seconds(3);

// Slots in the first line table; the table doubles whenever it is full.
inline constexpr std::size_t initialLineSlots = 64;

// Widest input accepted; a frame of this many channels is mixed down to stereo.
inline constexpr int maxChannels = 32;
// libsamplerate's range of ratios.
inline constexpr double maxRateRatio = 256.0;
// The libsamplerate converter for lines whose rate differs from the device's (a SRC_* value):
// the best one with which two cores feed 200 overlapping 44.1 kHz hits without a dropout.
// tamborel-bench plays that case: the medium sinc converter falls behind (thousands of
// underruns, the hits take twice their length), the fastest sinc one keeps up.
inline constexpr int resamplerType = 2; // SRC_SINC_FASTEST

} // namespace audio::config
