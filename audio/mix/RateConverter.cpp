#include "audio/mix/RateConverter.h"

#include "audio/AudioException.h"
#include "audio/mix/MixConfig.h"

#include <mutex>
#include <soxr.h>
#include <string>
#include <utility>
#include <vector>

namespace audio {

namespace {

struct Spare {
    RateConverter::Kind kind;
    soxr_t soxr;
};

// The converters made beforehand, of every kind. Never destroyed: a player may still take one
// while the process ends.
struct Spares {
    std::mutex mutex;
    std::vector<Spare> waiting;
};

Spares& waitingConverters()
{
    static auto* instance = new Spares;
    return *instance;
}

} // namespace

soxr_t RateConverter::make(const Kind& kind)
{
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(kind.recipe, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_t made
        = soxr_create(kind.inRate, kind.outRate, kind.channels, &error, &io, &quality, &runtime);
    if (!made)
        throw LineUnavailableException(
            std::string("cannot make a rate converter: ") + (error ? error : "unknown reason"));
    return made;
}

RateConverter::RateConverter(double inRate, double outRate, unsigned channels, unsigned long recipe)
    : kind_ { inRate, outRate, channels, recipe }
    , soxr_(nullptr)
{
    {
        Spares& s = waitingConverters();
        std::lock_guard lock(s.mutex);
        for (auto it = s.waiting.begin(); it != s.waiting.end(); ++it) {
            if (it->kind == kind_) {
                soxr_ = it->soxr;
                s.waiting.erase(it);
                break;
            }
        }
    }
    if (!soxr_)
        soxr_ = make(kind_);
}

RateConverter::~RateConverter()
{
    soxr_delete(soxr_);
}

std::size_t RateConverter::process(
    const float* in, std::size_t frames, std::size_t& used, float* out, std::size_t room)
{
    std::size_t produced = 0;
    used = 0;
    if (soxr_process(soxr_, in, in ? frames : 0, in ? &used : nullptr, out, room, &produced))
        return 0;
    return produced;
}

void RateConverter::restart()
{
    soxr_clear(soxr_);
}

void RateConverter::leaveSpare() const
{
    addSpare(kind_);
}

void RateConverter::addSpare(const Kind& kind)
{
    Spares& s = waitingConverters();
    auto enough = [&] {
        std::size_t alike = 0;
        for (const Spare& spare : s.waiting)
            alike += spare.kind == kind ? 1 : 0;
        return alike >= config::sparesPerConverterKind;
    };
    {
        std::lock_guard lock(s.mutex);
        if (enough())
            return;
    }
    soxr_t made = nullptr;
    try {
        made = make(kind);
    } catch (const LineUnavailableException&) {
        return; // the next line makes its own, and says why if it cannot
    }
    std::lock_guard lock(s.mutex);
    if (enough()) {
        soxr_delete(made);
        return;
    }
    s.waiting.push_back({ kind, made });
}

void RateConverter::prepare(double outRate, unsigned long quality)
{
    constexpr double inRate = config::usualSampleRate;
    if (outRate == inRate)
        return;
    for (unsigned channels : { 1u, 2u })
        addSpare({ inRate, outRate, channels, quality | config::converterPhase(inRate, outRate) });
}

std::size_t RateConverter::spares()
{
    Spares& s = waitingConverters();
    std::lock_guard lock(s.mutex);
    return s.waiting.size();
}

} // namespace audio
