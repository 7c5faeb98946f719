#include "audio/OutputDevice.h"

#include "audio/AudioException.h"
#include "audio/Config.h"
#include "audio/Mixer.h"

#include <SDL.h>
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

enum class Status { Closed, Opening, Open };

struct Device {
    std::mutex mutex;
    std::condition_variable changed;
    Status status = Status::Closed;
    std::string failure; // why the last opening failed
    SDL_AudioDeviceID id = 0;
    Mixer* mixer = nullptr;
    // Mixers of earlier openings: a late line may still point at one, so none is freed.
    std::vector<Mixer*> retired;
    OutputInfo info;
};

Device& device()
{
    // Never destroyed: the device's thread may still call into it while the process ends.
    static auto* instance = new Device;
    return *instance;
}

void SDLCALL fill(void* userdata, Uint8* stream, int len)
{
    auto* mixer = static_cast<Mixer*>(userdata);
    mixer->render(reinterpret_cast<float*>(stream),
        len / static_cast<int>(sizeof(float) * config::deviceChannels));
}

struct Opened {
    SDL_AudioDeviceID id = 0;
    Mixer* mixer = nullptr;
    OutputInfo info;
    std::string failure;
};

// On a busy machine a new PulseAudio stream lost up to the first 30 ms it was given, so a hit
// that opened the device lost its attack. Let the device play a little silence first; only a
// hit that opens the device pays for it.
void letDeviceSettle(const Mixer& mixer, int rate)
{
    constexpr auto settle = std::chrono::milliseconds(80);
    constexpr auto patience = std::chrono::seconds(1);
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t wanted
        = static_cast<std::uint64_t>(rate) * settle.count() / 1000 / config::deviceBufferFrames;
    while (mixer.blocks() < wanted && std::chrono::steady_clock::now() - start < patience)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Opens the audio subsystem with one driver (nullptr: SDL's choice, which honours
// SDL_AUDIODRIVER) and the default device on it.
bool tryDriver(const char* driver, Opened& result)
{
    // SDL would otherwise take SIGINT and SIGTERM for itself, and the program would no
    // longer end on them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (driver)
        SDL_SetHint(SDL_HINT_AUDIODRIVER, driver);
    const int initialised = SDL_InitSubSystem(SDL_INIT_AUDIO);
    if (driver)
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (initialised != 0) {
        result.failure = SDL_GetError();
        return false;
    }

    // The mixer exists before the device, so the callback has it from its first call.
    auto* mixer = new Mixer(config::preferredDeviceRate);
    SDL_AudioSpec want {};
    want.freq = config::preferredDeviceRate;
    want.format = AUDIO_F32SYS;
    want.channels = config::deviceChannels;
    want.samples = config::deviceBufferFrames;
    want.callback = fill;
    want.userdata = mixer;
    SDL_AudioSpec have {};
    // Another rate is taken as it is: our own converter resamples better than SDL's.
    result.id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (result.id == 0) {
        result.failure = SDL_GetError();
        delete mixer;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    // The device starts paused, so the callback has not run yet.
    mixer->setSampleRate(have.freq);
    result.mixer = mixer;
    result.info.driver = SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "";
    result.info.sampleRate = have.freq;
    result.info.bufferFrames = have.samples;
    SDL_PauseAudioDevice(result.id, 0);
    letDeviceSettle(*mixer, have.freq);
    return true;
}

Opened openDevice()
{
    Opened result;
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    // PipeWire first when the user chose nothing: SDL tries PulseAudio first, which
    // adds latency on PipeWire desktops.
    if (!(chosen && *chosen) && tryDriver("pipewire", result))
        return result;
    tryDriver(nullptr, result);
    return result;
}

// Runs with the status Opening, outside the lock; publishes the outcome.
void finishOpening(Device& d)
{
    Opened opened = openDevice();
    std::lock_guard lock(d.mutex);
    if (opened.mixer) {
        d.id = opened.id;
        d.mixer = opened.mixer;
        d.info = opened.info;
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
    SDL_CloseAudioDevice(d.id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    // With nothing else of SDL in use, let it free its hints and driver lists too.
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
        SDL_Quit();
    d.retired.push_back(d.mixer);
    d.mixer = nullptr;
    d.id = 0;
    d.info = {};
    d.status = Status::Closed;
}

// A device that went away (its sound server ended, the card was unplugged) is not given
// back: SDL goes on calling the mixer at the same pace, and every line would play into
// nothing for ever.
bool deviceLost(const Device& d)
{
    return SDL_GetAudioDeviceStatus(d.id) == SDL_AUDIO_STOPPED;
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
        std::thread([&d] {
            finishOpening(d);
            // SDL keeps its error text per thread and frees it by itself only for its own.
            SDL_TLSCleanup();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the first line opens the device instead.
        std::lock_guard lock(d.mutex);
        d.status = Status::Closed;
        d.changed.notify_all();
    }
}

Mixer& outputMixer()
{
    Device& d = device();
    std::unique_lock lock(d.mutex);
    d.changed.wait(lock, [&] { return d.status != Status::Opening; });
    if (d.status == Status::Open && deviceLost(d)) {
        std::cerr << "audio: the output device went away (" << d.info.driver
                  << "); opening it again" << std::endl;
        closeOpenDevice(d);
    }
    if (d.status == Status::Closed) {
        d.status = Status::Opening;
        lock.unlock();
        finishOpening(d);
        SDL_TLSCleanup();
        lock.lock();
    }
    if (d.status != Status::Open)
        throw LineUnavailableException("no audio output device: " + d.failure);
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
    return d.info;
}

} // namespace audio
