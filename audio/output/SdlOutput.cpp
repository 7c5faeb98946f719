#include "audio/output/SdlOutput.h"

#include "audio/output/OutputConfig.h"

#include <SDL.h>
#include <atomic>

namespace audio {

// An SDL2 device with SDL's choice of driver: ALSA directly, and the "dummy" and "disk" drivers
// of headless runs. SDL calls back from a thread of its own at a fixed period.
class SdlOutput final : public OutputStream {
public:
    ~SdlOutput() override;

    bool open(std::string& failure);
    int sampleRate() const noexcept override { return rate_; }
    void start(RenderSource& source) override
    {
        source_.store(&source, std::memory_order_release);
        SDL_PauseAudioDevice(id_, 0);
    }
    // A device that went away (the card was unplugged, the server ended) is not given back: SDL
    // goes on calling at the same pace, and every line would play into nothing for ever.
    bool lost() const noexcept override
    {
        return SDL_GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED;
    }
    OutputInfo info() const override { return info_; }

private:
    static void SDLCALL fill(void* userdata, Uint8* stream, int len) noexcept;

    SDL_AudioDeviceID id_ = 0;
    bool initialised_ = false;
    int rate_ = 0;
    OutputInfo info_;
    std::atomic<RenderSource*> source_ { nullptr };
};

void SDLCALL SdlOutput::fill(void* userdata, Uint8* stream, int len) noexcept
{
    auto* self = static_cast<SdlOutput*>(userdata);
    renderOrSilence(self->source_.load(std::memory_order_acquire), reinterpret_cast<float*>(stream),
        static_cast<std::uint32_t>(len) / (sizeof(float) * config::deviceChannels));
}

SdlOutput::~SdlOutput()
{
    if (id_)
        SDL_CloseAudioDevice(id_);
    if (initialised_)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    // With nothing else of SDL in use, let it free its hints and driver lists too.
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
        SDL_Quit();
    // SDL keeps its error text per thread and frees it by itself only for its own.
    SDL_TLSCleanup();
}

bool SdlOutput::open(std::string& failure)
{
    // SDL would otherwise take SIGINT and SIGTERM for itself, and the program would no longer
    // end on them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        failure = SDL_GetError();
        SDL_TLSCleanup();
        return false;
    }
    initialised_ = true;
    SDL_AudioSpec want {};
    want.freq = config::preferredDeviceRate;
    want.format = AUDIO_F32SYS;
    want.channels = config::deviceChannels;
    want.samples = config::sdlBufferFrames;
    want.callback = fill;
    want.userdata = this;
    SDL_AudioSpec have {};
    // Another rate is taken as it is: our own converter resamples better than SDL's.
    id_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (id_ == 0) {
        failure = SDL_GetError();
        SDL_TLSCleanup();
        return false;
    }
    rate_ = have.freq;
    info_.driver = SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "";
    info_.sampleRate = have.freq;
    info_.bufferFrames = have.samples;
    info_.targetLatencyFrames = have.samples;
    SDL_TLSCleanup();
    return true;
}

std::unique_ptr<OutputStream> openSdlOutput(std::string& failure)
{
    return openedOrNull<SdlOutput>(failure);
}

} // namespace audio
