#pragma once

#include <cstddef>

typedef struct soxr* soxr_t;

namespace audio {

// One line's sample-rate converter (libsoxr), float samples in and out, channels interleaved.
// Making one takes 30 us with a linear-phase filter and 0.3 ms with a minimum-phase one, too
// long for the moment a drum is hit: a line takes one made beforehand when there is one, and
// leaves a spare for the next line once its own sound is under way. Only one thread uses a
// converter at a time.
class RateConverter {
public:
    struct Kind {
        double inRate;
        double outRate;
        unsigned channels;
        unsigned long recipe;
        bool operator==(const Kind&) const = default;
    };

    // [player] A converter for this kind of line: from inRate to outRate, channels channels, with
    // the recipe (a soxr quality recipe with its phase flags). Throws LineUnavailableException when
    // libsoxr refuses.
    RateConverter(double inRate, double outRate, unsigned channels, unsigned long recipe);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // [player] Converts up to frames frames of in into at most room frames of out and returns how
    // many came out; used tells how many went in. A null in is the end of the input: what the
    // filter still holds comes out, over as many calls as it takes, until a call gives nothing.
    std::size_t process(
        const float* in, std::size_t frames, std::size_t& used, float* out, std::size_t room);
    // [player] Forgets the signal so far, for a line written again after its end.
    void restart();
    // [player] Makes one converter of this kind for a later line, unless enough are waiting
    // already. For after the hit: it takes as long as making one.
    void leaveSpare() const;

    // [player] Makes spares of the kinds most drum samples need (config::usualSampleRate mono and
    // stereo, to outRate, at quality), so that the first hit does not make its own. Called when a
    // device opens, on the thread that opens it.
    static void prepare(double outRate, unsigned long quality);
    // [any] Converters waiting, of every kind (for tests and the memory figure). Takes
    // the spares' lock for a moment.
    static std::size_t spares();

private:
    static soxr_t make(const Kind& kind);
    // Makes one for the waiting ones, unless enough of its kind wait already.
    static void addSpare(const Kind& kind);

    Kind kind_;
    soxr_t soxr_;
};

} // namespace audio
