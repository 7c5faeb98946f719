#pragma once

// How well a reference sound matches a signal: the normalised cross-correlation of the
// reference's opening against every loud enough position of the signal. The end-to-end tests
// tell a recorded sound by it (tests/e2e/audiocheck.cpp), and the demo-kit check proves with
// the same measure that a kit's samples are far enough apart to be told
// (tests/kits/kitcheck.cpp).

#include "tests/support/dsp/Fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

namespace dsp {

// Sounds are compared at this rate, by each sample's opening.
inline constexpr int matchRate = 48000;
inline constexpr double openingSeconds = 0.4;
// Only where the signal is within this of its loudest stretch: a sound is told by its body.
// Correlation ignores level, and a tom's quiet ringing tail, a near sine, scores over 0.6
// against a kick's opening.
inline constexpr double quietestDb = -20;

// A recording holds a sample when the sample scores at least identifyScore and leads every
// other sample of its kit by identifyLead.
inline constexpr double identifyScore = 0.9;
inline constexpr double identifyLead = 0.3;
// For that lead to be a real one, no sample of a kit may score more than this when another
// one plays. The played sample may score as little as identifyScore in a recording, so the
// lead is then at least identifyScore - kitLikenessLimit: identifyLead with 0.1 to spare for
// what a recording changes.
inline constexpr double kitLikenessLimit = identifyScore - identifyLead - 0.1;
// A drum of one kit must not pass for the same drum of another, which the kit choice's tests
// rely on: under the identification score, with the same 0.1 to spare.
inline constexpr double otherKitLimit = identifyScore - 0.1;

struct Match {
    double score = 0; // normalised correlation: 1 for a copy at any level, 0 for nothing alike
    long lag = 0; // where in the signal the reference starts
};

// Matches references against one signal, whose spectrum and running energy are worked out once.
class Matcher {
public:
    // `longest`: the longest stretch of a reference that will be matched.
    Matcher(const std::vector<double>& signal, std::size_t longest)
        : signalSize_(signal.size())
        , cumulative_(signal.size() + 1, 0.0)
    {
        while (size_ < signal.size() + longest)
            size_ <<= 1;
        spectrum_.assign(size_, 0.0);
        std::copy(signal.begin(), signal.end(), spectrum_.begin());
        fft(spectrum_);
        for (std::size_t i = 0; i < signal.size(); ++i)
            cumulative_[i + 1] = cumulative_[i] + signal[i] * signal[i];
    }

    // The best score of the reference's first `length` samples (at most the constructor's
    // `longest`) over every position where they fit in the signal whole and the signal is
    // loud enough there.
    Match best(const std::vector<double>& reference, std::size_t length) const
    {
        length = std::min(length, reference.size());
        if (signalSize_ < length || length == 0 || signalSize_ + length > size_)
            return {};
        double referenceEnergy = 0;
        for (std::size_t i = 0; i < length; ++i)
            referenceEnergy += reference[i] * reference[i];
        if (referenceEnergy <= 1e-12)
            return {};

        std::vector<std::complex<double>> product(size_);
        std::copy(
            reference.begin(), reference.begin() + static_cast<long>(length), product.begin());
        fft(product);
        for (std::size_t i = 0; i < size_; ++i)
            product[i] = spectrum_[i] * std::conj(product[i]);
        fft(product, true);

        double loudest = 0;
        for (std::size_t lag = 0; lag + length <= signalSize_; ++lag)
            loudest = std::max(loudest, energyAt(lag, length));
        const double floor = std::max(1e-9, loudest * std::pow(10.0, quietestDb / 10));
        Match best;
        for (std::size_t lag = 0; lag + length <= signalSize_; ++lag) {
            const double energy = energyAt(lag, length);
            if (energy < floor)
                continue;
            const double score = product[lag].real() / std::sqrt(energy * referenceEnergy);
            if (score > best.score)
                best = { score, static_cast<long>(lag) };
        }
        return best;
    }

private:
    double energyAt(std::size_t lag, std::size_t length) const
    {
        return cumulative_[lag + length] - cumulative_[lag];
    }

    std::size_t signalSize_;
    std::size_t size_ = 1;
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> cumulative_;
};

} // namespace dsp
