// The drum kit, photographed from straight above on an oak floor, lit from the upper left.
// Every position is in pixels of the final 601 x 441 picture; the key labels of the main
// window are laid over it, so each drum sits exactly under its pair of labels.
#include "art.h"
#include "paint.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>
#include <vector>

namespace art {
namespace {

constexpr int width = 601, height = 441;

// Light from the upper left, fairly high.
constexpr double lightX = -0.42, lightY = -0.52, lightZ = 0.74;

struct Drum {
    double cx, cy, r; // head centre and head radius, inside the hoop
    double shift; // how far the shell shows beyond the head, upwards, for a tilted drum
    int lugs;
    double lugPhase;
};

// Positions chosen so that every pair of key labels lies well inside its drum.
constexpr Drum snare { 226.5, 251, 49, 3, 10, 0.31 };
constexpr Drum floorTom { 392, 252, 55, 0, 8, 0.39 };
constexpr Drum highTom { 251, 151, 37, 11, 6, 0.52 };
constexpr Drum midTom { 347, 151, 40, 11, 6, 0.52 };
constexpr double hoopWidth = 3.6;

struct Cymbal {
    double cx, cy, r, bell;
};

constexpr Cymbal crash { 136.5, 121, 64, 15 };
constexpr Cymbal ride { 486, 133, 86, 31 };
constexpr Cymbal hihat { 96.5, 251, 52, 12 };
constexpr Cymbal china { 491.5, 341, 62, 14 };
constexpr Cymbal splash { 297, 60, 38, 9 };

// The bass drum lies on its side with the batter head towards the stool.
constexpr double kickLeft = 212, kickRight = 388, kickTop = 22, kickBottom = 168;
constexpr double kickHoop = 11;
constexpr double kickCx = (kickLeft + kickRight) / 2, kickR = (kickRight - kickLeft) / 2;

constexpr double stoolX = 300, stoolY = 374, stoolR = 40;

const Rgb finish { 74, 16, 26 }; // black cherry lacquer

// ---------------------------------------------------------------- floor

Rgb floorShade(double x, double y)
{
    constexpr double board = 36; // plank width
    const double yy = y + 9;
    const int row = int(std::floor(yy / board));
    const double across = yy - row * board;
    const double offset = hash01(row, 7, 11) * 400;
    const double length = 330;
    const double u = x + offset;
    const int plank = int(std::floor(u / length));
    const double along = u - plank * length;
    const std::uint32_t seed = std::uint32_t(row * 131 + plank * 17 + 1000);

    // Each plank its own tone, from honey to a redder brown.
    const double tone = hash01(row, plank, 3);
    const double warm = hash01(row, plank, 5);
    Rgb base = mix(Rgb { 196, 142, 84 }, Rgb { 170, 108, 62 }, tone * 0.8);
    base = mix(base, Rgb { 188, 120, 70 }, warm * 0.4);

    // Growth rings of a plain-sawn board: the saw cut the rings at a slowly changing depth,
    // which draws them as long flowing lines and arches along the plank.
    const double pith = -25 - 60 * hash01(row, plank, 9);
    const double depth = 30 + 40 * fbm(along * 0.005, hash01(row, plank, 13) * 9, seed, 3)
        + along * (hash01(row, plank, 15) - 0.5) * 0.08;
    const double w
        = std::hypot(across - pith, depth) + 4 * fbm(along * 0.02, across * 0.08, seed + 5, 2);
    const double ring = 0.5 + 0.5 * std::sin(w * 2 * pi / 5.5);
    const double late = std::pow(ring, 9);
    const double streak = fbm(along * 0.025, across * 0.9, seed + 7, 4);
    const double pores = valueNoise(along * 1.1, across * 3.0, seed + 3);
    const double cloud = fbm(along * 0.004, across * 0.04, seed + 11, 3);
    double k
        = (0.82 + 0.34 * streak) * (1 - 0.16 * late) * (0.95 + 0.08 * pores) * (0.9 + 0.2 * cloud);

    // A knot here and there.
    const double kx = hash01(row, plank, 21) * length,
                 ky = 8 + hash01(row, plank, 23) * (board - 16);
    if (hash01(row, plank, 25) < 0.35) {
        const double d = std::hypot((along - kx) / 5.0, (across - ky) / 2.6);
        k *= 1 - 0.45 * std::exp(-d * d) - 0.12 * std::exp(-d * d / 6);
    }

    // Seams between planks: a dark gap with a soft bevel on both sides.
    const double edge = std::min(across, board - across);
    const double end = std::min(along, length - along);
    const double seam = std::min(edge, end);
    k *= 0.55 + 0.45 * smoothstep(0.2, 1.4, seam);
    if (across < 2.2)
        k *= 1.04;

    // Soft window light from the upper left, falling off to the lower right.
    const double light = 1.08 - 0.22 * ((x / width) * 0.55 + (y / height) * 0.45);
    return base * (k * light);
}

// ---------------------------------------------------------------- metal and hardware

// A ring of chrome: reflections of the room go round it as bright and dark bands.
void chromeRing(QPainter& p, QPointF c, double rIn, double rOut)
{
    QPainterPath ring;
    ring.addEllipse(c, rOut, rOut);
    ring.addEllipse(c, rIn, rIn);
    QConicalGradient g(c, 135);
    const std::array<std::pair<double, QColor>, 11> stops { {
        { 0.00, QColor(250, 250, 252) },
        { 0.06, QColor(170, 172, 178) },
        { 0.14, QColor(96, 98, 106) },
        { 0.24, QColor(200, 202, 208) },
        { 0.34, QColor(120, 122, 130) },
        { 0.48, QColor(64, 66, 72) },
        { 0.58, QColor(150, 152, 160) },
        { 0.70, QColor(90, 92, 100) },
        { 0.82, QColor(210, 212, 218) },
        { 0.92, QColor(160, 162, 170) },
        { 1.00, QColor(250, 250, 252) },
    } };
    for (const auto& [at, colour] : stops)
        g.setColorAt(at, colour);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(ring);
    // The rolled edge catches a thin line of light; the rims are darker.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 110), 0.5));
    p.drawEllipse(c, (rIn + rOut) / 2 - 0.3, (rIn + rOut) / 2 - 0.3);
    p.setPen(QPen(QColor(20, 20, 24, 160), 0.5));
    p.drawEllipse(c, rOut - 0.25, rOut - 0.25);
    p.setPen(QPen(QColor(20, 20, 24, 120), 0.45));
    p.drawEllipse(c, rIn + 0.2, rIn + 0.2);
}

// A round chrome tube from a to b, shaded across its width.
void tube(QPainter& p, QPointF a, QPointF b, double w, QColor dark = QColor(60, 62, 68))
{
    const QPointF d = b - a;
    const double len = std::hypot(d.x(), d.y());
    if (len <= 0)
        return;
    const QPointF n(-d.y() / len * w / 2, d.x() / len * w / 2);
    QLinearGradient g(a + n, a - n);
    g.setColorAt(0.0, dark);
    g.setColorAt(0.3, QColor(235, 236, 240));
    g.setColorAt(0.45, QColor(180, 182, 188));
    g.setColorAt(0.8, QColor(90, 92, 98));
    g.setColorAt(1.0, dark.darker(130));
    p.setPen(QPen(QBrush(g), w, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a, b);
}

// A rubber foot at the end of a leg.
void foot(QPainter& p, QPointF at, double r)
{
    QRadialGradient g(at + QPointF(-r * 0.3, -r * 0.3), r * 1.3);
    g.setColorAt(0, QColor(70, 70, 72));
    g.setColorAt(1, QColor(14, 14, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(at, r, r);
}

// A tripod: three legs from a centre, each ending in a rubber foot.
void tripod(QPainter& p, QPointF c, double length, double firstAngleDeg, double w = 2.6)
{
    for (int i = 0; i < 3; ++i) {
        const double a = (firstAngleDeg + i * 120) * pi / 180;
        const QPointF tip = c + QPointF(std::cos(a), std::sin(a)) * length;
        tube(p, c, tip, w);
        foot(p, tip, w * 0.8);
    }
    QRadialGradient g(c + QPointF(-1, -1), 4);
    g.setColorAt(0, QColor(240, 240, 244));
    g.setColorAt(1, QColor(80, 82, 88));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, 3.2, 3.2);
}

void tripodShadow(QPainter& p, QPointF c, double length, double firstAngleDeg, QPointF off)
{
    p.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const double a = (firstAngleDeg + i * 120) * pi / 180;
        // The stand's top is high and throws its shadow far; the feet stand on the floor.
        p.drawLine(c + off, c + QPointF(std::cos(a), std::sin(a)) * length + off * 0.15);
    }
    p.setPen(Qt::NoPen);
}

// A small chrome knob seen from above.
void knob(QPainter& p, QPointF c, double r)
{
    QRadialGradient g(c + QPointF(-r * 0.35, -r * 0.4), r * 1.2);
    g.setColorAt(0, QColor(255, 255, 255));
    g.setColorAt(0.45, QColor(170, 172, 178));
    g.setColorAt(1, QColor(50, 52, 58));
    p.setPen(QPen(QColor(25, 25, 30, 150), 0.35));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
}

// ---------------------------------------------------------------- drums

Rgb headShade(const Drum& d, double x, double y, std::uint32_t seed)
{
    const double dx = x - d.cx, dy = y - d.cy;
    const double s = std::hypot(dx, dy) / d.r;
    Rgb c { 232, 227, 212 };
    // The coating is slightly rough and a little mottled.
    double k = 1 + (valueNoise(x * 2.2, y * 2.2, seed) - 0.5) * 0.07
        + (fbm(x * 0.09, y * 0.09, seed + 1, 3) - 0.5) * 0.09;
    // Light from the upper left; the head dips into the hoop at its edge.
    k *= 1 + 0.05 * (dx * lightX + dy * lightY) / d.r;
    k *= 1 - 0.1 * smoothstep(0.7, 0.94, s) - 0.16 * smoothstep(0.94, 1.0, s);
    // The hoop stands a little above the head and shades its edge on the lamp's side.
    const double facing = std::max(0.0,
        (dx * lightX + dy * lightY) / (std::hypot(dx, dy) + 1e-9) / std::hypot(lightX, lightY));
    k *= 1 - 0.22 * facing * smoothstep(1 - 3.5 / d.r, 1.0, s);
    // Where the sticks land, a little below the centre, the coating is worn grey.
    const double wx = x - (d.cx + d.r * 0.05), wy = y - (d.cy + d.r * 0.14);
    const double wear = std::exp(-(wx * wx + wy * wy) / (2 * std::pow(d.r * 0.2, 2)));
    c = mix(c, Rgb { 196, 191, 182 }, wear * 0.5);
    // Small grey marks left by the stick tips.
    const double mark = valueNoise(x * 1.6, y * 1.6, seed + 9);
    if (mark > 0.93 - 0.1 * wear)
        k *= 1 - 0.5 * wear * (mark - 0.83);
    return c * k;
}

// The shell of a drum: a short cylinder, shaded across its width.
QLinearGradient shellGradient(double left, double right)
{
    QLinearGradient g(left, 0, right, 0);
    const Rgb f = finish;
    g.setColorAt(0.00, qcolor(f * 0.35));
    g.setColorAt(0.18, qcolor(f * 0.95));
    g.setColorAt(0.30, qcolor(mix(f, Rgb { 255, 200, 200 }, 0.45)));
    g.setColorAt(0.36, qcolor(f * 1.25));
    g.setColorAt(0.62, qcolor(f * 0.8));
    g.setColorAt(0.88, qcolor(f * 0.45));
    g.setColorAt(1.00, qcolor(f * 0.25));
    return g;
}

void lug(QPainter& p, QPointF c, double along, double across, double angleDeg)
{
    p.save();
    p.translate(c);
    p.rotate(angleDeg);
    QLinearGradient g(0, -across / 2, 0, across / 2);
    g.setColorAt(0, QColor(70, 72, 78));
    g.setColorAt(0.35, QColor(245, 245, 248));
    g.setColorAt(0.6, QColor(150, 152, 158));
    g.setColorAt(1, QColor(50, 52, 58));
    p.setPen(QPen(QColor(20, 20, 24, 140), 0.35));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(-along / 2, -across / 2, along, across), across / 2, across / 2);
    p.restore();
}

void drawDrum(Canvas& canvas, const Drum& d, std::uint32_t seed, bool metalShell = false)
{
    const QPointF c(d.cx, d.cy);
    const QPointF low(d.cx, d.cy - d.shift);
    const double rim = d.r + hoopWidth;
    {
        QPainter p(&canvas.image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(canvas.scale, canvas.scale);
        // The lower hoop, then the shell between the two hoops.
        if (d.shift > 1)
            chromeRing(p, low, d.r - 0.5, rim - 0.3);
        QPainterPath shell;
        shell.addEllipse(low, d.r + 0.8, d.r + 0.8);
        shell.addRect(QRectF(d.cx - d.r - 0.8, d.cy - d.shift, 2 * d.r + 1.6, d.shift));
        shell.addEllipse(c, d.r + 0.8, d.r + 0.8);
        shell.setFillRule(Qt::WindingFill);
        p.setPen(Qt::NoPen);
        if (metalShell) {
            QLinearGradient g(d.cx - d.r, 0, d.cx + d.r, 0);
            g.setColorAt(0, QColor(60, 62, 68));
            g.setColorAt(0.3, QColor(240, 240, 244));
            g.setColorAt(0.5, QColor(130, 132, 140));
            g.setColorAt(1, QColor(40, 42, 48));
            p.setBrush(g);
        } else {
            p.setBrush(shellGradient(d.cx - d.r, d.cx + d.r));
        }
        p.drawPath(shell);
        // Lugs stand out from the shell all round, halfway down it.
        for (int i = 0; i < d.lugs; ++i) {
            const double a = (d.lugPhase + i / double(d.lugs)) * 2 * pi;
            const QPointF at(
                d.cx + (d.r + 2.6) * std::cos(a), d.cy - d.shift * 0.5 + (d.r + 2.6) * std::sin(a));
            if (d.shift > 1)
                lug(p, at, 3.5 + d.shift * 0.6, 3.2, 90);
            else
                lug(p, at, 6.5, 3.4, a * 180 / pi);
        }
        chromeRing(p, c, d.r - 0.3, rim);
    }
    canvas.disc(d.cx, d.cy, d.r, [&](double x, double y) { return headShade(d, x, y, seed); });
    QPainter p(&canvas.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(canvas.scale, canvas.scale);
    // The tension rods come up through the hoop's ears.
    for (int i = 0; i < d.lugs; ++i) {
        const double a = (d.lugPhase + i / double(d.lugs)) * 2 * pi;
        const QPointF ear = c + QPointF(std::cos(a), std::sin(a)) * (rim + 0.6);
        lug(p, ear, 3.6, 2.8, a * 180 / pi);
        knob(p, ear, 1.25);
    }
}

// The bass drum from above: a long lacquered cylinder with a hoop at each end.
Rgb kickShellShade(double x, double y, double left, double right, Rgb colour, std::uint32_t seed)
{
    const double cx = (left + right) / 2, r = (right - left) / 2;
    const double nx = std::clamp((x - cx) / r, -1.0, 1.0);
    const double nz = std::sqrt(1 - nx * nx);
    const double diffuse = std::max(0.0, nx * lightX + nz * lightZ);
    // The clear coat reflects the light as a narrow stripe and the room as a broad one.
    const double hx = lightX, hz = lightZ + 1, hl = std::hypot(hx, hz);
    const double specular = std::pow(std::max(0.0, (nx * hx + nz * hz) / hl), 400);
    const double broad = std::pow(std::max(0.0, (nx * hx + nz * hz) / hl), 14);
    // Faint figure of the maple under the lacquer, running round the shell.
    const double grain = fbm(x * 0.02, y * 0.5, seed, 3);
    Rgb c = colour * ((0.25 + 0.85 * diffuse) * (0.9 + 0.2 * grain));
    c = c + Rgb { 255, 240, 240 } * (0.4 * specular + 0.035 * broad);
    return c;
}

void drawKick(Canvas& canvas)
{
    // The spurs go out to the floor from near the batter end.
    {
        QPainter p(&canvas.image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(canvas.scale, canvas.scale);
        tube(p, { kickLeft + 6, kickBottom - 26 }, { kickLeft - 20, kickBottom + 6 }, 3);
        tube(p, { kickRight - 6, kickBottom - 26 }, { kickRight + 20, kickBottom + 6 }, 3);
        foot(p, { kickLeft - 20, kickBottom + 6 }, 2.6);
        foot(p, { kickRight + 20, kickBottom + 6 }, 2.6);
    }
    auto rect = [&](double l, double t, double r, double b, auto shade) {
        const int s = canvas.scale;
        for (int py = int(t * s); py < int(b * s); ++py)
            for (int px = int(l * s); px < int(r * s); ++px) {
                const double x = (px + 0.5) / s, y = (py + 0.5) / s;
                canvas.blend(px, py, shade(x, y), 1.0);
            }
    };
    rect(kickLeft, kickTop, kickRight, kickBottom, [](double x, double y) {
        return kickShellShade(x, y, kickLeft, kickRight, finish * 0.75, 41);
    });
    // Wooden hoops in the same lacquer, a little wider than the shell, with a pale inlay.
    for (double top : { kickTop - kickHoop, kickBottom }) {
        rect(kickLeft - 3, top, kickRight + 3, top + kickHoop, [top](double x, double y) {
            Rgb c = kickShellShade(x, y, kickLeft - 3, kickRight + 3, finish * 0.85, 43);
            const double v = (y - top) / kickHoop;
            if (std::abs(v - 0.5) < 0.12) {
                const double nx = (x - kickCx) / (kickR + 3);
                c = Rgb { 200, 196, 186 }
                    * (0.3
                        + 0.8
                            * std::max(
                                0.0, nx * lightX + std::sqrt(std::max(0.0, 1 - nx * nx)) * lightZ));
            }
            const double edge = std::min(v, 1 - v);
            return c * (0.55 + 0.45 * smoothstep(0.0, 0.18, edge));
        });
    }
    QPainter p(&canvas.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(canvas.scale, canvas.scale);
    // Rounded ends of the hoops and shell against the floor.
    p.setPen(QPen(QColor(0, 0, 0, 110), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(kickLeft, kickTop, kickRight - kickLeft, kickBottom - kickTop));
    // Claws on the hoops and tension rods to the lugs, on the upper side of the cylinder.
    for (double deg : { 18.0, 54.0, 126.0, 162.0 }) {
        const double x = kickCx + kickR * std::cos(deg * pi / 180);
        const double w = 2.6 * std::sin(deg * pi / 180) + 0.8;
        for (bool front : { true, false }) {
            const double hoopEdge = front ? kickTop : kickBottom;
            const double dir = front ? 1 : -1;
            tube(p, { x, hoopEdge - dir * 4 }, { x, hoopEdge + dir * 16 }, std::max(1.2, w * 0.5));
            lug(p, { x, hoopEdge + dir * 21 }, 12, w + 1.4, 90);
            // The claw hooks over the hoop.
            lug(p, { x, hoopEdge - dir * 5 }, 8, w + 2.2, 90);
            if (!front) {
                // Key rods with T handles on the batter side.
                p.setPen(QPen(QColor(200, 200, 206), 1.2, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(x - 3.2, hoopEdge + 9), QPointF(x + 3.2, hoopEdge + 9));
            }
        }
    }
    // The tom holder's base on top of the shell.
    lug(p, { kickCx, 112 }, 16, 9, 90);
    knob(p, { kickCx, 108 }, 2.2);
}

void drawKickPedal(QPainter& p)
{
    const double x = kickCx;
    // Footboard with a grip pattern and a heel plate.
    QLinearGradient g(x - 7, 0, x + 7, 0);
    g.setColorAt(0, QColor(70, 72, 78));
    g.setColorAt(0.35, QColor(205, 207, 212));
    g.setColorAt(0.7, QColor(150, 152, 158));
    g.setColorAt(1, QColor(60, 62, 68));
    p.setPen(QPen(QColor(15, 15, 18), 0.5));
    p.setBrush(g);
    QPainterPath board;
    board.moveTo(x - 6, kickBottom + 20);
    board.lineTo(x + 6, kickBottom + 20);
    board.lineTo(x + 5, kickBottom + 66);
    board.lineTo(x - 5, kickBottom + 66);
    board.closeSubpath();
    p.drawPath(board);
    p.setPen(QPen(QColor(40, 40, 46, 150), 0.6));
    for (double y = kickBottom + 26; y < kickBottom + 58; y += 3.5)
        p.drawLine(QPointF(x - 4.5, y), QPointF(x + 4.5, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 28, 32));
    p.drawRoundedRect(QRectF(x - 6, kickBottom + 62, 12, 9), 2, 2);
    // Frame posts, axle and the beater leaning back towards the player.
    tube(p, { x - 11, kickBottom + 4 }, { x - 11, kickBottom + 16 }, 3);
    tube(p, { x + 11, kickBottom + 4 }, { x + 11, kickBottom + 16 }, 3);
    tube(p, { x - 11, kickBottom + 12 }, { x + 11, kickBottom + 12 }, 2.2);
    tube(p, { x, kickBottom + 12 }, { x, kickBottom + 3 }, 1.6);
    QLinearGradient felt(x - 7, 0, x + 7, 0);
    felt.setColorAt(0, QColor(150, 146, 138));
    felt.setColorAt(0.35, QColor(238, 234, 226));
    felt.setColorAt(1, QColor(120, 116, 110));
    p.setBrush(felt);
    p.setPen(QPen(QColor(40, 40, 40, 120), 0.4));
    p.drawRoundedRect(QRectF(x - 7, kickBottom + 1, 14, 5), 2.2, 2.2);
}

// ---------------------------------------------------------------- stool

void drawStool(Canvas& canvas)
{
    const double cx = stoolX, cy = stoolY, r = stoolR;
    canvas.disc(cx, cy, r, [&](double x, double y) {
        const double dx = (x - cx) / r, dy = (y - cy) / r;
        const double s = std::hypot(dx, dy);
        // A padded seat: flat in the middle, rounding off towards the edge.
        const double slope = 1.8 * std::pow(s, 4);
        const double ux = s > 0 ? dx / s : 0, uy = s > 0 ? dy / s : 0;
        const double nx = ux * slope, ny = uy * slope, nz = 1;
        const double nl = std::hypot(nx, ny, nz);
        const double diffuse = std::max(0.0, (nx * lightX + ny * lightY + nz * lightZ) / nl);
        const double hz = lightZ + 1, hl = std::hypot(lightX, lightY, hz);
        const double specular
            = std::pow(std::max(0.0, (nx * lightX + ny * lightY + nz * hz) / (nl * hl)), 30);
        // Leather grain.
        const double grain
            = valueNoise(x * 2.5, y * 2.5, 71) * 0.5 + fbm(x * 0.4, y * 0.4, 73, 2) * 0.5;
        Rgb c = Rgb { 34, 32, 33 } * (0.45 + 0.75 * diffuse) * (0.92 + 0.16 * grain);
        return c + Rgb { 200, 200, 210 } * (0.22 * specular);
    });
    QPainter p(&canvas.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(canvas.scale, canvas.scale);
    QPen stitch(QColor(150, 146, 140, 150), 0.55, Qt::CustomDashLine);
    stitch.setDashPattern({ 2.5, 2 });
    p.setPen(stitch);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(cx, cy), r - 4.5, r - 4.5);
}

// ---------------------------------------------------------------- cymbals

enum class CymbalKind { Bright, Dark, China };

// Where a pixel lies on a cymbal: its distance from the centre, the same as a share of the
// radius, the unit vector outwards, and the bell's share of the radius.
struct PlatePoint {
    double dx, dy, d, s, ux, uy, b;
};

PlatePoint platePoint(const Cymbal& cy, double x, double y)
{
    const double dx = x - cy.cx, dy = y - cy.cy;
    const double d = std::hypot(dx, dy);
    const double s = d / cy.r;
    const double ux = d > 0 ? dx / d : 0, uy = d > 0 ? dy / d : 0;
    const double b = cy.bell / cy.r;
    return { dx, dy, d, s, ux, uy, b };
}

// How steeply the surface falls away from the centre: the bell is a dome, the bow a shallow
// cone, a china's rim turns back up.
double plateSlope(CymbalKind kind, double s, double b)
{
    double slope = 0.16;
    if (s < b) {
        slope
            = kind == CymbalKind::China ? (s < b * 0.75 ? 0.05 : 1.4) : 1.1 * std::pow(s / b, 1.5);
    } else if (kind == CymbalKind::China && s > 0.8) {
        slope = -1.5 * smoothstep(0.8, 0.86, s);
    }
    return slope;
}

struct Lighting {
    double diffuse, specular;
};

// The lamp on a surface tilted outwards by `slope`.
Lighting plateLighting(const PlatePoint& at, double slope)
{
    const double nx = at.ux * slope, ny = at.uy * slope, nz = 1, nl = std::hypot(nx, ny, nz);
    const double diffuse = (nx * lightX + ny * lightY + nz * lightZ) / nl;
    const double hz = lightZ + 1, hl = std::hypot(lightX, lightY, hz);
    const double specular
        = std::pow(std::max(0.0, (nx * lightX + ny * lightY + nz * hz) / (nl * hl)), 60);
    return { diffuse, specular };
}

// The colour of the bronze and how strongly its finish shows the light and the lathe: a dark
// cymbal is dull and its rings stand out more.
struct Alloy {
    Rgb base;
    double sheenGain = 1, latheGain = 1;
};

Alloy alloyOf(CymbalKind kind)
{
    Alloy alloy;
    switch (kind) {
    case CymbalKind::Bright:
        alloy.base = { 216, 168, 94 };
        break;
    case CymbalKind::China:
        alloy.base = { 224, 158, 92 };
        break;
    case CymbalKind::Dark:
        alloy.base = { 92, 66, 40 };
        alloy.sheenGain = 0.5;
        alloy.latheGain = 1.4;
        break;
    }
    return alloy;
}

// Brightness of the metal before the sheen: lit by the lamp, cut by lathe rings (fine grooves,
// with wider bands where the tool cut deeper) and dented by hammer marks. A china's bell is
// left raw.
double plateBrightness(const PlatePoint& at, CymbalKind kind, const Alloy& alloy, double diffuse,
    double band, double x, double y, std::uint32_t seed)
{
    const double groove = std::sin(at.d * 2 * pi / 0.85);
    const double band2 = valueNoise(at.d * 0.23, 8.5, seed + 1);
    const bool lathed = at.s > at.b * 1.05 || kind != CymbalKind::China;
    double k = 0.62 + 0.42 * diffuse;
    if (lathed)
        k *= 1 + alloy.latheGain * (0.05 * groove + 0.1 * (band - 0.5) + 0.08 * (band2 - 0.5));
    k *= 1
        + (fbm(x * 0.45, y * 0.45, seed + 2, 2) - 0.5) * (kind == CymbalKind::China ? 0.16 : 0.08);
    return k;
}

// The grooves throw the light back along the line through the centre towards the lamp: the
// bright "bow tie" of a lathed cymbal, stronger where a deep band of grooves catches it.
double bowTieSheen(const PlatePoint& at, CymbalKind kind, const Alloy& alloy, double band)
{
    const double towards = std::atan2(lightY, lightX);
    double delta = std::remainder(std::atan2(at.dy, at.dx) - towards, pi);
    const bool lampSide = std::cos(std::atan2(at.dy, at.dx) - towards) > 0;
    const double wedge = std::exp(-delta * delta / (2 * 0.15 * 0.15));
    const double wide = std::exp(-delta * delta / (2 * 0.7 * 0.7));
    double sheen
        = (wedge * (lampSide ? 0.75 : 0.5) + wide * 0.14) * (0.3 + 1.4 * band) * alloy.sheenGain;
    sheen *= smoothstep(at.b * 0.9, at.b * 1.4, at.s) * (1 - 0.5 * smoothstep(0.85, 1.0, at.s));
    if (kind == CymbalKind::China)
        sheen *= 0.7;
    return sheen;
}

// The shape of the plate at its bends: a china's upturned rim, the groove between bell and
// bow, the edge rolling off, and a thin rim light on the side away from the lamp.
Rgb shapeEdges(Rgb c, const Cymbal& cy, CymbalKind kind, const PlatePoint& at)
{
    if (kind == CymbalKind::China)
        c = c * (1 - 0.22 * std::exp(-std::pow((at.s - 0.8) * cy.r / 1.2, 2)));
    c = c * (1 - 0.28 * std::exp(-std::pow((at.d - cy.bell) / 1.1, 2)));
    c = c * (1 - 0.25 * smoothstep(0.94, 1.0, at.s));
    const double rimLight
        = std::max(0.0, -(at.ux * lightX + at.uy * lightY) / std::hypot(lightX, lightY));
    c = c
        + Rgb { 90, 80, 60 }
            * (rimLight * smoothstep(0.965, 0.995, at.s) * (kind == CymbalKind::Dark ? 0.4 : 1));
    return c;
}

Rgb cymbalShade(const Cymbal& cy, CymbalKind kind, double x, double y, std::uint32_t seed)
{
    const PlatePoint at = platePoint(cy, x, y);
    const Lighting light = plateLighting(at, plateSlope(kind, at.s, at.b));
    const Alloy alloy = alloyOf(kind);
    // One pattern of deep lathe bands both darkens the metal and brightens its sheen.
    const double band = valueNoise(at.d * 0.9, 3.5, seed);

    Rgb c = alloy.base * plateBrightness(at, kind, alloy, light.diffuse, band, x, y, seed);
    const Rgb glint = kind == CymbalKind::Dark ? Rgb { 150, 118, 80 } : Rgb { 255, 236, 190 };
    c = mix(c, glint, clamp01(bowTieSheen(at, kind, alloy, band)));
    c = c + Rgb { 255, 245, 220 } * (light.specular * (at.s < at.b ? 0.6 : 0.25) * alloy.sheenGain);
    return shapeEdges(c, cy, kind, at);
}

void drawCymbal(Canvas& canvas, const Cymbal& c, CymbalKind kind, std::uint32_t seed)
{
    canvas.disc(
        c.cx, c.cy, c.r, [&](double x, double y) { return cymbalShade(c, kind, x, y, seed); });
}

// The top of a cymbal stand: a red felt under a chrome wing nut.
void wingNut(QPainter& p, QPointF c, double angleDeg)
{
    QRadialGradient felt(c, 4.6);
    felt.setColorAt(0, QColor(150, 30, 34));
    felt.setColorAt(0.8, QColor(120, 20, 26));
    felt.setColorAt(1, QColor(70, 10, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(felt);
    p.drawEllipse(c, 4.4, 4.4);
    p.save();
    p.translate(c);
    p.rotate(angleDeg);
    for (double side : { -1.0, 1.0 }) {
        QRadialGradient g(QPointF(side * 3.2 - 0.6, -0.8), 3);
        g.setColorAt(0, QColor(250, 250, 252));
        g.setColorAt(1, QColor(90, 92, 98));
        p.setBrush(g);
        p.setPen(QPen(QColor(20, 20, 24, 150), 0.3));
        p.drawEllipse(QPointF(side * 3.3, 0), 2.9, 1.7);
    }
    p.restore();
    knob(p, c, 1.9);
}

void hihatClutch(QPainter& p, QPointF c)
{
    QPolygonF hex;
    for (int i = 0; i < 6; ++i) {
        const double a = (i * 60 + 15) * pi / 180;
        hex << c + QPointF(std::cos(a), std::sin(a)) * 4.6;
    }
    QRadialGradient g(c + QPointF(-1.5, -1.5), 6);
    g.setColorAt(0, QColor(250, 250, 252));
    g.setColorAt(1, QColor(70, 72, 78));
    p.setBrush(g);
    p.setPen(QPen(QColor(20, 20, 24, 170), 0.35));
    p.drawPolygon(hex);
    knob(p, c, 2.2);
    p.setBrush(QColor(30, 30, 34));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 0.8, 0.8);
}

// ---------------------------------------------------------------- sticks

void stick(QPainter& p, QPointF butt, double angleDeg, double length, int seed)
{
    p.save();
    p.translate(butt);
    p.rotate(angleDeg);
    const double w = 4.8;
    QPainterPath body;
    body.moveTo(0, -w / 2);
    body.lineTo(length * 0.72, -w / 2);
    body.cubicTo(length * 0.86, -w / 2, length * 0.93, -w * 0.22, length - 3.2, -w * 0.2);
    body.lineTo(length - 3.2, w * 0.2);
    body.cubicTo(length * 0.93, w * 0.22, length * 0.86, w / 2, length * 0.72, w / 2);
    body.lineTo(0, w / 2);
    body.closeSubpath();
    QLinearGradient g(0, -w / 2, 0, w / 2);
    g.setColorAt(0, QColor(245, 222, 180));
    g.setColorAt(0.3, QColor(232, 200, 150));
    g.setColorAt(0.75, QColor(176, 134, 88));
    g.setColorAt(1, QColor(110, 80, 50));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(body);
    // Grain lines along the stick.
    p.setPen(QPen(QColor(140, 100, 60, 60), 0.25));
    for (int i = 0; i < 3; ++i) {
        const double v = -1.2 + i * 1.1 + hash01(i, seed, 5) * 0.5;
        p.drawLine(QPointF(2 + hash01(i, seed, 7) * 20, v), QPointF(length * 0.7, v + 0.2));
    }
    QRadialGradient tip(QPointF(length - 2.6, -0.6), 2.4);
    tip.setColorAt(0, QColor(246, 226, 186));
    tip.setColorAt(1, QColor(150, 110, 70));
    p.setPen(Qt::NoPen);
    p.setBrush(tip);
    p.drawEllipse(QPointF(length - 2.2, 0), 2.3, 1.8);
    p.setBrush(QColor(90, 64, 40, 120));
    p.drawEllipse(QPointF(0.3, 0), 0.6, w / 2);
    p.restore();
}

// ---------------------------------------------------------------- the whole kit

void withPainter(Canvas& canvas, const auto& paint)
{
    QPainter p(&canvas.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(canvas.scale, canvas.scale);
    paint(p);
}

const QPointF crashStand(64, 58), rideStand(566, 214), chinaStand(556, 404);

void floorStandsShadow(QPainter& p, QPointF off)
{
    tripodShadow(p, crashStand, 34, 200, off);
    tripodShadow(p, rideStand, 36, 330, off);
    tripodShadow(p, chinaStand, 34, 300, off);
    tripodShadow(p, QPointF(hihat.cx, hihat.cy), 58, 160, off);
    tripodShadow(p, QPointF(snare.cx, snare.cy), 66, 100, off);
    tripodShadow(p, QPointF(stoolX, stoolY), 56, 90, off);
}

// Everything that stands on the floor, as one silhouette moved by `off` away from the light.
void floorShapes(QPainter& p, QPointF off)
{
    p.drawRect(QRectF(kickLeft - 3, kickTop - kickHoop, kickRight - kickLeft + 6,
        kickBottom - kickTop + 2 * kickHoop)
                   .translated(off));
    for (const Drum& d : { snare, floorTom })
        p.drawEllipse(QPointF(d.cx, d.cy) + off, d.r + 5, d.r + 5);
    p.drawEllipse(QPointF(stoolX, stoolY) + off, stoolR, stoolR);
    p.drawRect(QRectF(kickCx - 7, kickBottom, 14, 72).translated(off));
    floorStandsShadow(p, off);
    // Sticks and the hi-hat pedal lie on the floor: only a thin shadow.
    const QPointF near = off * 0.25;
    p.setPen(QPen(Qt::black, 4.8, Qt::SolidLine, Qt::RoundCap));
    for (auto [x, y, deg] : { std::array<double, 3> { 112, 414, -13 }, { 120, 427, -7 } }) {
        const QPointF a(x, y), u(std::cos(deg * pi / 180), std::sin(deg * pi / 180));
        p.drawLine(a + near, a + u * 120 + near);
    }
    const QPointF u(std::cos(38 * pi / 180), std::sin(38 * pi / 180));
    p.setPen(QPen(Qt::black, 12, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(
        QPointF(hihat.cx, hihat.cy) + u * 54 + near, QPointF(hihat.cx, hihat.cy) + u * 100 + near);
    p.setPen(Qt::NoPen);
}

// Shadows on the floor: broad and soft from the light, tight where things meet the floor.
void drawFloorShadows(Canvas& canvas)
{
    shadow(canvas, 9, 0.55, [](QPainter& p) { floorShapes(p, { 9, 12 }); });
    shadow(canvas, 2.5, 0.35, [](QPainter& p) { floorShapes(p, { 1.5, 2 }); });
}

// The hi-hat's footboard, pointing from the stand at the stool.
void hihatPedal(QPainter& p)
{
    const double a = 38 * pi / 180;
    const QPointF dir(std::cos(a), std::sin(a));
    const QPointF hh(hihat.cx, hihat.cy);
    p.save();
    p.translate(hh + dir * 80);
    p.rotate(38);
    QLinearGradient g(0, -6.5, 0, 6.5);
    g.setColorAt(0, QColor(70, 72, 78));
    g.setColorAt(0.35, QColor(205, 207, 212));
    g.setColorAt(0.7, QColor(150, 152, 158));
    g.setColorAt(1, QColor(60, 62, 68));
    p.setBrush(g);
    p.setPen(QPen(QColor(15, 15, 18, 180), 0.5));
    p.drawRoundedRect(QRectF(-28, -6, 44, 12), 3, 3);
    p.setPen(QPen(QColor(40, 40, 46, 150), 0.6));
    for (double x = -22; x < 8; x += 3.5)
        p.drawLine(QPointF(x, -3.8), QPointF(x, 3.8));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 28, 32));
    p.drawRoundedRect(QRectF(12, -6.5, 9, 13), 2, 2);
    p.restore();
}

void floorTomLegs(QPainter& p)
{
    for (double deg : { -40.0, 80.0, 200.0 }) {
        const QPointF u(std::cos(deg * pi / 180), std::sin(deg * pi / 180));
        const QPointF c(floorTom.cx, floorTom.cy);
        tube(p, c + u * (floorTom.r + 4), c + u * (floorTom.r + 17), 2.8);
        foot(p, c + u * (floorTom.r + 17), 2.3);
        lug(p, c + u * (floorTom.r + 5), 6, 4.5, deg);
    }
}

// What lies or stands lowest, drawn first so the drums and cymbals cover it: the spare sticks,
// the stands' legs, the hi-hat pedal and the floor tom's legs.
void drawFloorHardware(QPainter& p)
{
    stick(p, { 112, 414 }, -13, 122, 1);
    stick(p, { 120, 427 }, -7, 122, 2);
    tripod(p, crashStand, 34, 200);
    tripod(p, rideStand, 36, 330);
    tripod(p, chinaStand, 34, 300);
    tripod(p, { hihat.cx, hihat.cy }, 58, 160);
    hihatPedal(p);
    tripod(p, { snare.cx, snare.cy }, 66, 100);
    tripod(p, { stoolX, stoolY }, 56, 90, 3.4);
    floorTomLegs(p);
}

void drawSnare(Canvas& canvas)
{
    drawDrum(canvas, snare, 101, true);
    withPainter(canvas, [](QPainter& p) {
        // The snare's throw-off on the player's side.
        lug(p, { snare.cx - snare.r * 0.62 - 3, snare.cy + snare.r * 0.76 + 3 }, 9, 4.5, 130);
    });
}

// The rack toms hang over the bass drum from the holder, and shade it.
void drawRackToms(Canvas& canvas)
{
    shadow(canvas, 4, 0.6, [](QPainter& p) {
        for (const Drum& d : { highTom, midTom })
            p.drawEllipse(QPointF(d.cx + 5, d.cy + 6 - d.shift / 2), d.r + 4, d.r + 4);
    });
    withPainter(canvas, [](QPainter& p) {
        tube(p, { kickCx, 112 }, { highTom.cx + 14, highTom.cy - 8 }, 3.6);
        tube(p, { kickCx, 112 }, { midTom.cx - 14, midTom.cy - 8 }, 3.6);
        tube(p, { kickCx, 112 }, { splash.cx, splash.cy + 6 }, 3);
    });
    drawDrum(canvas, highTom, 103);
    drawDrum(canvas, midTom, 104);
}

// The cymbals on boom stands, each with the stand it hangs from.
const std::array<std::pair<QPointF, Cymbal>, 3> booms { { { crashStand, crash },
    { rideStand, ride }, { chinaStand, china } } };

// Cymbals hang well above everything: their shadows are wide and faint.
void cymbalShadows(Canvas& canvas)
{
    shadow(canvas, 10, 0.38, [](QPainter& p) {
        for (const Cymbal& c : { crash, ride, hihat, china, splash })
            p.drawEllipse(QPointF(c.cx + 13, c.cy + 17), c.r, c.r);
        p.setPen(QPen(Qt::black, 3.2, Qt::SolidLine, Qt::RoundCap));
        for (const auto& [stand, c] : booms)
            p.drawLine(stand + QPointF(11, 14), QPointF(c.cx + 13, c.cy + 17));
    });
}

// Boom arms from the stands out to the cymbals, with a counterweight behind.
void boomArms(QPainter& p)
{
    for (const auto& [stand, c] : booms) {
        const QPointF to(c.cx, c.cy), d = stand - to;
        const QPointF back = stand + d / std::hypot(d.x(), d.y()) * 11;
        tube(p, back, to, 2.6);
        knob(p, back, 2.8);
        knob(p, stand, 2.4);
    }
}

void drawHihat(Canvas& canvas)
{
    // The bottom cymbal peeks out from under the top one.
    drawCymbal(
        canvas, { hihat.cx + 1.6, hihat.cy + 2.2, hihat.r, hihat.bell }, CymbalKind::Bright, 208);
    shadow(canvas, 1.5, 0.5, [](QPainter& p) {
        p.drawEllipse(QPointF(hihat.cx + 1, hihat.cy + 1.3), hihat.r, hihat.r);
    });
    drawCymbal(canvas, hihat, CymbalKind::Bright, 203);
}

// What holds each cymbal on top: the wing nuts, and the hi-hat's clutch.
void cymbalTops(QPainter& p)
{
    wingNut(p, { crash.cx, crash.cy }, 20);
    wingNut(p, { ride.cx, ride.cy }, -10);
    wingNut(p, { china.cx, china.cy }, 40);
    wingNut(p, { splash.cx, splash.cy }, 75);
    hihatClutch(p, { hihat.cx, hihat.cy });
}

void drawCymbals(Canvas& canvas)
{
    cymbalShadows(canvas);
    withPainter(canvas, boomArms);
    drawCymbal(canvas, crash, CymbalKind::Bright, 201);
    drawCymbal(canvas, ride, CymbalKind::Bright, 202);
    drawHihat(canvas);
    drawCymbal(canvas, china, CymbalKind::China, 204);
    drawCymbal(canvas, splash, CymbalKind::Dark, 205);
    withPainter(canvas, cymbalTops);
}

// A gentle vignette, as a lens would give, and a trace of film grain.
void vignette(QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double dx = (x - image.width() / 2.0) / (image.width() / 2.0),
                         dy = (y - image.height() / 2.0) / (image.height() / 2.0);
            const double v = 1 - 0.22 * smoothstep(0.5, 1.45, std::hypot(dx, dy));
            const double grain = (hash01(x, y, 999) - 0.5) * 3;
            auto ch = [&](int c) { return std::clamp(int(std::lround(c * v + grain)), 0, 255); };
            line[x] = qRgb(ch(qRed(line[x])), ch(qGreen(line[x])), ch(qBlue(line[x])));
        }
    }
}

} // namespace

// Painted from the floor up: each layer first casts its shadow on what is already there.
QImage drawKit(int pixelRatio)
{
    // Nine samples a pixel for the plain picture, four for the copy at twice the size: its
    // pixels are finer already, and nine would make it the slowest step of a build.
    Canvas canvas(width, height, pixelRatio, pixelRatio == 1 ? 3 : 2);
    canvas.fill(floorShade);
    drawFloorShadows(canvas);
    withPainter(canvas, drawFloorHardware);
    drawKick(canvas);
    withPainter(canvas, drawKickPedal);
    drawStool(canvas);
    drawSnare(canvas);
    drawDrum(canvas, floorTom, 102);
    drawRackToms(canvas);
    drawCymbals(canvas);

    QImage out = canvas.reduced();
    vignette(out);
    return out;
}

} // namespace art
