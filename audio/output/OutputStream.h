#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace audio {

// What an output stream plays: called on the stream's real-time thread, one block at a time.
class RenderSource {
public:
    // [real-time] Fills frames interleaved stereo frames of out.
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
    // [player] Waits for the stream's own threads to end: never on one of them.
    virtual ~OutputStream() = default;
    // [any] Fixed once open.
    virtual int sampleRate() const noexcept = 0;
    // [player] Once, by whoever opened the stream, before anything is played. The source must
    // outlive the stream.
    virtual void start(RenderSource& source) = 0;
    // [any] The server or card went away: nothing more will be played.
    virtual bool lost() const noexcept = 0;
    // [any] Not on the real-time thread: it copies the driver's name.
    virtual OutputInfo info() const = 0;
};

// Each back-end's header declares its opener, which returns nullptr, with the reason in
// failure, when it cannot open. An opener waits on the server, up to outputOpenTimeout: it runs
// on a player thread or on the device's own opener thread, never on the event thread.

} // namespace audio

namespace audio {

// [real-time] Renders frames frames from source in pieces the mixer takes, or silence when
// there is no source yet. Returns whether any of it is sound.
bool renderOrSilence(RenderSource* source, float* out, std::uint32_t frames) noexcept;

// [player] Makes an Output and opens it: nullptr, with the reason in failure, when it cannot
// open. Waits on the server, as the openers do.
template <typename Output> std::unique_ptr<OutputStream> openedOrNull(std::string& failure)
{
    auto output = std::make_unique<Output>();
    if (!output->open(failure))
        return nullptr;
    return output;
}

// [any] How long frames frames last at rate, in milliseconds, for what a stream tells.
inline double framesToMs(int frames, int rate) noexcept
{
    return 1000.0 * frames / rate;
}

} // namespace audio
