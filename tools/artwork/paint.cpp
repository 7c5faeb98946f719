#include "paint.h"

#include <vector>

namespace art {

double hash01(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = seed * 0x9E3779B9u;
    h ^= std::uint32_t(x) * 0x85EBCA6Bu;
    h = (h << 13) | (h >> 19);
    h ^= std::uint32_t(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0x1000000);
}

double valueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    const double tx = x - fx, ty = y - fy;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const double a = hash01(ix, iy, seed), b = hash01(ix + 1, iy, seed);
    const double c = hash01(ix, iy + 1, seed), d = hash01(ix + 1, iy + 1, seed);
    return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

double fbm(double x, double y, std::uint32_t seed, int octaves)
{
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * valueNoise(x, y, seed + std::uint32_t(i) * 101u);
        norm += amp;
        x = x * 2.03 + 17.1;
        y = y * 2.03 - 5.7;
        amp *= 0.5;
    }
    return sum / norm;
}

Canvas::Canvas(int width, int height, int pixelRatio, int supersample)
    : image(width * pixelRatio * supersample, height * pixelRatio * supersample,
        QImage::Format_ARGB32_Premultiplied)
    , scale(pixelRatio * supersample)
    , supersample(supersample)
{
    image.fill(Qt::black);
}

void Canvas::blend(int px, int py, Rgb c, double alpha)
{
    QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(py));
    const QRgb old = line[px];
    auto ch = [alpha](double src, int dst) {
        return int(std::lround(std::clamp(src * alpha + dst * (1 - alpha), 0.0, 255.0)));
    };
    line[px] = qRgb(ch(c.r, qRed(old)), ch(c.g, qGreen(old)), ch(c.b, qBlue(old)));
}

QImage Canvas::reduced() const
{
    return image
        .scaled(image.width() / supersample, image.height() / supersample, Qt::IgnoreAspectRatio,
            Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

// Three box passes in each direction come close to a Gaussian and cost little.
void boxBlur(QImage& layer, int radius)
{
    const int w = layer.width(), h = layer.height();
    std::vector<int> a(std::size_t(w) * h), tmp(a.size());
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        for (int x = 0; x < w; ++x)
            a[std::size_t(y) * w + x] = qAlpha(line[x]);
    }
    auto pass = [radius](const int* src, int* dst, int n, int stride) {
        const int span = 2 * radius + 1;
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += src[std::clamp(i, 0, n - 1) * stride];
        for (int i = 0; i < n; ++i) {
            dst[i * stride] = sum / span;
            sum += src[std::min(i + radius + 1, n - 1) * stride];
            sum -= src[std::max(i - radius, 0) * stride];
        }
    };
    for (int round = 0; round < 3; ++round) {
        for (int y = 0; y < h; ++y)
            pass(&a[std::size_t(y) * w], &tmp[std::size_t(y) * w], w, 1);
        for (int x = 0; x < w; ++x)
            pass(&tmp[x], &a[x], h, w);
    }
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(layer.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int v = a[std::size_t(y) * w + x];
            line[x] = qRgba(0, 0, 0, v);
        }
    }
}

} // namespace art
