// Small painting helpers shared by the pictures: colours as doubles, seeded noise, per-pixel
// discs with soft edges, and blurred shadow layers.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPointF>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace art {

constexpr double pi = 3.14159265358979323846;

struct Rgb {
    double r = 0, g = 0, b = 0;
};

inline Rgb operator*(Rgb c, double k)
{
    return { c.r * k, c.g * k, c.b * k };
}
inline Rgb operator+(Rgb a, Rgb b)
{
    return { a.r + b.r, a.g + b.g, a.b + b.b };
}
inline Rgb mix(Rgb a, Rgb b, double t)
{
    return a * (1 - t) + b * t;
}
inline double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}
inline double smoothstep(double e0, double e1, double x)
{
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
inline QColor qcolor(Rgb c, double alpha = 1.0)
{
    auto ch = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
    return QColor(ch(c.r), ch(c.g), ch(c.b), ch(alpha * 255));
}

// Deterministic noise: the same seed always gives the same picture.
double hash01(int x, int y, std::uint32_t seed);
double valueNoise(double x, double y, std::uint32_t seed);
double fbm(double x, double y, std::uint32_t seed, int octaves);

// A picture of width x height final-size pixels, made with pixelRatio times as many pixels
// each way (2 for the copy scaled screens show). It is drawn a further `supersample` times
// larger and reduced at the end, so fine rings and thin lines come out smooth. Coordinates
// given to the helpers are final-size pixels whatever the ratio.
struct Canvas {
    Canvas(int width, int height, int pixelRatio, int supersample);
    QImage image;
    int scale; // canvas pixels per final-size pixel
    int supersample;

    // Calls shade(x, y) for every pixel centre within radius r of (cx, cy), in final-size
    // coordinates, and lays the colour over the picture with an antialiased edge.
    template <typename Shade> void disc(double cx, double cy, double r, Shade&& shade);
    // The same over the whole picture, fully opaque.
    template <typename Shade> void fill(Shade&& shade);
    void blend(int px, int py, Rgb c, double alpha);
    // The picture at its pixel ratio.
    QImage reduced() const;
};

// A soft shadow: shapes painted into an alpha layer through `paint`, blurred, then laid over
// the canvas in black at the given strength.
template <typename Paint>
void shadow(Canvas& canvas, double blurRadius, double strength, Paint&& paint);
void boxBlur(QImage& alpha, int radius);

template <typename Shade> void Canvas::disc(double cx, double cy, double r, Shade&& shade)
{
    const double s = scale;
    const int x0 = std::max(0, int(std::floor((cx - r) * s)));
    const int x1 = std::min(image.width() - 1, int(std::ceil((cx + r) * s)));
    const int y0 = std::max(0, int(std::floor((cy - r) * s)));
    const int y1 = std::min(image.height() - 1, int(std::ceil((cy + r) * s)));
    for (int py = y0; py <= y1; ++py) {
        const double y = (py + 0.5) / s;
        for (int px = x0; px <= x1; ++px) {
            const double x = (px + 0.5) / s;
            const double d = std::hypot(x - cx, y - cy);
            const double cover = clamp01((r - d) * s + 0.5);
            if (cover <= 0)
                continue;
            blend(px, py, shade(x, y), cover);
        }
    }
}

template <typename Shade> void Canvas::fill(Shade&& shade)
{
    for (int py = 0; py < image.height(); ++py)
        for (int px = 0; px < image.width(); ++px)
            blend(px, py, shade((px + 0.5) / scale, (py + 0.5) / scale), 1.0);
}

template <typename Paint>
void shadow(Canvas& canvas, double blurRadius, double strength, Paint&& paint)
{
    QImage layer(canvas.image.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(canvas.scale, canvas.scale);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        paint(p);
    }
    const int r = std::max(1, int(std::lround(blurRadius * canvas.scale / 2)));
    boxBlur(layer, r);
    QPainter p(&canvas.image);
    p.setOpacity(strength);
    p.drawImage(0, 0, layer);
}

} // namespace art
