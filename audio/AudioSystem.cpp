#include "audio/AudioSystem.h"

#include "audio/AudioException.h"
#include "audio/OutputDevice.h"
#include "audio/SndfileInputStream.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/SampleDecoder.h"

#include <atomic>

namespace audio {

// Files through libsndfile, lines on the process's one output device. Not in an anonymous
// namespace, so its functions keep their names in a stack trace.
class RealAudioSystem final : public AudioSystem {
public:
    std::unique_ptr<AudioInputStream> getAudioInputStream(const std::string& path) override
    {
        return std::make_unique<SndfileInputStream>(path);
    }

    std::unique_ptr<SourceDataLine> getLine(const DataLineInfo& info) override
    {
        if (!SampleDecoder::accepts(info.format))
            throw LineUnavailableException(
                "No line matching interface SourceDataLine supporting format "
                + info.format.toString() + " is supported" + SampleDecoder::refusalHint(info.format)
                + ".");
        return outputMixer().createLine();
    }
};

namespace {

RealAudioSystem real;
std::atomic<AudioSystem*> current { &real };

} // namespace

AudioSystem& AudioSystem::instance() noexcept
{
    return *current.load(std::memory_order_acquire);
}

AudioSystem* AudioSystem::setInstance(AudioSystem* system) noexcept
{
    return current.exchange(system ? system : &real, std::memory_order_acq_rel);
}

} // namespace audio
