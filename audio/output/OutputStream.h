#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace audio {

// What an output stream plays: called on the stream's real-time thread, one block at a time.
class RenderSource {
public:
    // Fills frames interleaved stereo frames of out. Real-time: no lock, no allocation.
    virtual void render(float* out, int frames) noexcept = 0;

protected:
    ~RenderSource() = default;
};

// What an open stream is, as it stands now.
struct OutputInfo {
    std::string driver; // "pipewire", "pulseaudio", or the SDL driver's name
    int sampleRate = 0;
    // Frames the server asks for at a time (PipeWire's quantum, SDL's period; for
    // PulseAudio the most recent request).
    int bufferFrames = 0;
    // The buffering the stream has asked the server for: what it adds to a hit's latency.
    int targetLatencyFrames = 0;
    // Underruns the server reported or the stream saw (missed or late cycles).
    std::uint64_t serverUnderruns = 0;
    // The worst stall of the last few seconds: how late the stream was served, beyond its
    // normal pace (PipeWire and PulseAudio).
    double worstStallMs = 0;
};

// One open stream to a sound server or card: float, stereo, at sampleRate(). It plays
// silence until started, then pulls every block from its source. Destroying it stops the
// stream: the source is not called again once the destructor has returned.
class OutputStream {
public:
    virtual ~OutputStream() = default;
    virtual int sampleRate() const = 0;
    // Once, before anything is played. The source must outlive the stream.
    virtual void start(RenderSource& source) = 0;
    // The server or card went away: nothing more will be played.
    virtual bool lost() const = 0;
    virtual OutputInfo info() const = 0;
};

// Each back-end's header declares its opener, which returns nullptr, with the reason in
// failure, when it cannot open.

} // namespace audio

namespace audio {

// Renders frames frames from source in pieces the mixer takes, or silence when there is no
// source yet. Returns whether any of it is sound. Real-time.
bool renderOrSilence(RenderSource* source, float* out, std::uint32_t frames) noexcept;

// Makes an Output and opens it: nullptr, with the reason in failure, when it cannot open.
template <typename Output> std::unique_ptr<OutputStream> openedOrNull(std::string& failure)
{
    auto output = std::make_unique<Output>();
    if (!output->open(failure))
        return nullptr;
    return output;
}

// How long frames frames last at rate, in milliseconds, for what a stream tells.
inline double framesToMs(int frames, int rate)
{
    return 1000.0 * frames / rate;
}

} // namespace audio
