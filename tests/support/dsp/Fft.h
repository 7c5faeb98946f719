#pragma once

#include <complex>
#include <numbers>
#include <utility>
#include <vector>

namespace dsp {

// In-place radix-2 FFT; the size must be a power of two. The inverse is scaled by 1/n, so a
// round trip gives the input back.
inline void fft(std::vector<std::complex<double>>& a, bool inverse = false)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const auto step
            = std::polar(1.0, (inverse ? 2 : -2) * std::numbers::pi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (std::size_t k = 0; k < len / 2; ++k, w *= step) {
                const auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
    if (inverse) {
        for (auto& x : a)
            x /= static_cast<double>(n);
    }
}

} // namespace dsp
