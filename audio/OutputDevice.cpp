#include "audio/OutputDevice.h"

#include "audio/AudioException.h"
#include "audio/Config.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/RateConverter.h"
#include "audio/output/PipeWireOutput.h"
#include "audio/output/PulseOutput.h"
#include "audio/output/SdlOutput.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

namespace audio {

namespace {

// The mixer as what a stream plays.
class MixerSource final : public RenderSource {
public:
    explicit MixerSource(Mixer& mixer)
        : mixer_(mixer)
    {
    }
    void render(float* out, int frames) noexcept override { mixer_.render(out, frames); }

private:
    Mixer& mixer_;
};

enum class Status { Closed, Opening, Open };

struct Device {
    std::mutex mutex;
    std::condition_variable changed;
    Status status = Status::Closed;
    std::string failure; // why the last opening failed
    std::unique_ptr<OutputStream> stream;
    std::unique_ptr<MixerSource> source;
    Mixer* mixer = nullptr;
    // Mixers of earlier openings: a late line may still point at one, so none is freed.
    std::vector<Mixer*> retired;
};

Device& device()
{
    // Never destroyed: the stream's thread may still call into it while the process ends.
    static auto* instance = new Device;
    return *instance;
}

struct Opened {
    std::unique_ptr<OutputStream> stream;
    std::unique_ptr<MixerSource> source;
    Mixer* mixer = nullptr;
    std::string failure;
};

// A new stream may lose the first frames it is given (see deviceSettleTime): the device plays
// a little silence first. Only a hit that opens the device pays for it.
void letDeviceSettle(const Mixer& mixer, int rate)
{
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t wanted
        = static_cast<std::uint64_t>(rate) * config::deviceSettleTime.count() / 1000;
    while (mixer.framesRendered() < wanted
        && std::chrono::steady_clock::now() - start < config::deviceSettlePatience)
        std::this_thread::sleep_for(config::deviceSettlePoll);
}

using Opener = std::unique_ptr<OutputStream> (*)(std::string&);
struct Backend {
    const char* name;
    Opener open;
};

// The back-ends to try, in order. With nothing chosen: PipeWire's and PulseAudio's own APIs
// first, then SDL's usual order. A driver the user names in SDL_AUDIODRIVER is kept: our own
// back-end for the two servers, SDL for the rest. An empty value counts as none, as SDL
// itself takes it.
std::vector<Backend> backendsToTry()
{
    const Backend pipewire { "pipewire", openPipeWireOutput };
    const Backend pulse { "pulseaudio", openPulseAudioOutput };
    const Backend sdl { "SDL", openSdlOutput };
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    const std::string driver = chosen ? chosen : "";
    if (driver.empty())
        return { pipewire, pulse, sdl };
    if (driver == "pipewire")
        return { pipewire };
    if (driver == "pulseaudio" || driver == "pulse")
        return { pulse };
    return { sdl };
}

Opened openDevice()
{
    Opened result;
    for (const Backend& backend : backendsToTry()) {
        std::string failure;
        result.stream = backend.open(failure);
        if (result.stream)
            break;
        result.failure
            += (result.failure.empty() ? "" : "; ") + std::string(backend.name) + ": " + failure;
    }
    if (!result.stream)
        return result;
    // The mixer exists before the stream is started, so the stream has it from its first block.
    result.mixer = new Mixer(result.stream->sampleRate());
    result.source = std::make_unique<MixerSource>(*result.mixer);
    result.stream->start(*result.source);
    letDeviceSettle(*result.mixer, result.stream->sampleRate());
    // Here, off the window's thread and before the first hit, not at the hit.
    RateConverter::prepare(result.stream->sampleRate(), result.mixer->converterQuality());
    return result;
}

// Runs with the status Opening, outside the lock; publishes the outcome.
void finishOpening(Device& d)
{
    Opened opened = openDevice();
    std::lock_guard lock(d.mutex);
    if (opened.stream) {
        d.stream = std::move(opened.stream);
        d.source = std::move(opened.source);
        d.mixer = opened.mixer;
        d.failure.clear();
        d.status = Status::Open;
    } else {
        d.failure = opened.failure.empty() ? "no audio output device" : opened.failure;
        d.status = Status::Closed;
    }
    d.changed.notify_all();
}

// Runs with the lock held and the status Open.
void closeOpenDevice(Device& d)
{
    d.stream.reset(); // the mixer is not called any more
    d.source.reset();
    d.retired.push_back(d.mixer);
    d.mixer = nullptr;
    d.status = Status::Closed;
}

// A hit that waited this long for the output is out of time with the player: it is reported,
// not played late.
void refuseIfLate(std::chrono::steady_clock::time_point asked)
{
    const auto waited = std::chrono::steady_clock::now() - asked;
    if (waited <= config::outputWaitLimit)
        return;
    throw LineUnavailableException("the audio output took "
        + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count())
        + " ms to open: the hit would have sounded that late");
}

} // namespace

void openOutputEarly()
{
    Device& d = device();
    {
        std::lock_guard lock(d.mutex);
        if (d.status != Status::Closed)
            return;
        d.status = Status::Opening;
    }
    try {
        std::thread([&d] { finishOpening(d); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the first line opens the device instead.
        std::lock_guard lock(d.mutex);
        d.status = Status::Closed;
        d.changed.notify_all();
    }
}

Mixer& outputMixer()
{
    const auto asked = std::chrono::steady_clock::now();
    Device& d = device();
    std::unique_lock lock(d.mutex);
    if (d.status == Status::Opening) {
        // One opening at a time: every hit that waited for it takes its outcome, rather than
        // trying every back-end again in its turn.
        d.changed.wait(lock, [&] { return d.status != Status::Opening; });
        if (d.status != Status::Open)
            throw LineUnavailableException("no audio output device: " + d.failure);
    }
    if (d.status == Status::Open && d.stream->lost()) {
        std::cerr << "audio: the output device went away (" << d.stream->info().driver
                  << "); opening it again" << std::endl;
        closeOpenDevice(d);
    }
    if (d.status == Status::Closed) {
        d.status = Status::Opening;
        lock.unlock();
        finishOpening(d);
        lock.lock();
    }
    if (d.status != Status::Open)
        throw LineUnavailableException("no audio output device: " + d.failure);
    refuseIfLate(asked);
    return *d.mixer;
}

void closeOutput()
{
    Device& d = device();
    std::unique_lock lock(d.mutex);
    d.changed.wait(lock, [&] { return d.status != Status::Opening; });
    if (d.status == Status::Open)
        closeOpenDevice(d);
}

OutputInfo outputInfo()
{
    Device& d = device();
    std::lock_guard lock(d.mutex);
    return d.stream ? d.stream->info() : OutputInfo {};
}

} // namespace audio
