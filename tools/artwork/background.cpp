// The key-configuration window's background: a soft, light close-up of a cymbal's lathe rings,
// pale enough for dark text, lists and buttons anywhere on it.
#include "art.h"
#include "paint.h"

namespace art {

QImage drawConfigBackground(int pixelRatio)
{
    constexpr int width = 502, height = 314;
    Canvas canvas(width, height, pixelRatio, 2);
    // The cymbal's centre lies beyond the lower left corner, so its rings sweep across as arcs.
    const double cx = -180, cy = 470;
    const double towards = std::atan2(-0.55, 0.8); // the light, up and to the right of the centre
    canvas.fill([&](double x, double y) {
        const double dx = x - cx, dy = y - cy;
        const double d = std::hypot(dx, dy);
        const double groove = std::sin(d * 2 * pi / 3.6);
        const double band = valueNoise(d * 0.35, 2.5, 301);
        const double band2 = valueNoise(d * 0.06, 7.5, 302);
        const double delta = std::atan2(dy, dx) - towards;
        // The bright streak the grooves throw back, broad and faint at this distance.
        const double sheen = std::exp(-delta * delta / (2 * 0.12 * 0.12)) * (0.5 + 0.9 * band);
        double k = 1 + 0.012 * groove + 0.05 * (band - 0.5) + 0.05 * (band2 - 0.5);
        k *= 1 + (fbm(x * 0.05, y * 0.05, 303, 3) - 0.5) * 0.03;
        Rgb c = Rgb { 232, 214, 182 } * k;
        c = mix(c, Rgb { 252, 244, 226 }, clamp01(0.55 * sheen));
        // A little darker towards the far edges, lighter where the title sits.
        const double fall = 0.04
            * smoothstep(
                0.3, 1.0, std::hypot((x - width / 2.0) / width, (y - height * 0.3) / height) * 1.6);
        return c * (1 - fall);
    });
    return canvas.reduced();
}

} // namespace art
