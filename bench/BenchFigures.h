#pragma once

#include "audio/Clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// The clock the mixer stamps its lines with.
using audio::monotonicNs;

// The p-th percentile (nearest rank) of the samples; NaN when there are none.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const auto at
        = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

} // namespace bench
