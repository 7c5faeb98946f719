// The menu icons, drawn on the 16 x 16 pixel grid so they stay sharp, and the application icon,
// a drum at an angle with a stick, kept as a list of filled shapes that can be painted at any
// size or written out as SVG.
#include "art.h"
#include "paint.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QTextStream>
#include <variant>
#include <vector>

namespace art {
namespace {

QImage transparentImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A round badge with a soft top-left light, for the info and exit icons.
void badge(QPainter& p, QColor light, QColor dark, QColor rim)
{
    QRadialGradient g(QPointF(5.5, 4.5), 11);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.setPen(QPen(rim, 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    // A faint gloss on the upper half.
    QLinearGradient gloss(0, 1.5, 0, 8);
    gloss.setColorAt(0, QColor(255, 255, 255, 110));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(3, 1.8, 10, 6.5));
}

} // namespace

QImage drawInfoIcon(int pixelRatio)
{
    QImage image = transparentImage(16 * pixelRatio);
    QPainter p(&image);
    p.scale(pixelRatio, pixelRatio);
    p.setRenderHint(QPainter::Antialiasing);
    badge(p, QColor(120, 185, 250), QColor(22, 82, 175), QColor(18, 58, 128));
    // The "i" is made of whole pixels.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(7, 3, 2, 2);
    p.drawRect(7, 6, 2, 6);
    p.drawRect(6, 6, 1, 1);
    p.drawRect(6, 11, 4, 1);
    return image;
}

QImage drawExitIcon(int pixelRatio)
{
    QImage image = transparentImage(16 * pixelRatio);
    QPainter p(&image);
    p.scale(pixelRatio, pixelRatio);
    p.setRenderHint(QPainter::Antialiasing);
    badge(p, QColor(250, 120, 105), QColor(178, 24, 24), QColor(120, 14, 14));
    // The power sign: a ring open at the top and a bar through the gap.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(4.3, 4.8, 7.4, 7.4), 58 * 16, -296 * 16);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(7, 3, 2, 6);
    return image;
}

QImage drawPinIcon(int pixelRatio)
{
    QImage image = transparentImage(16 * pixelRatio);
    QPainter p(&image);
    p.scale(pixelRatio, pixelRatio);
    p.setRenderHint(QPainter::Antialiasing);
    // The needle, from the lower left corner up into the pin.
    p.setPen(QPen(QColor(120, 124, 132), 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(1.6, 14.4), QPointF(6.5, 9.5));
    p.setPen(QPen(QColor(215, 218, 224), 0.5));
    p.drawLine(QPointF(2.2, 13.4), QPointF(6, 9.6));
    // The collar and the grip, leaning the same way.
    p.save();
    p.translate(8.2, 7.8);
    p.rotate(-45);
    QLinearGradient grip(0, -2.2, 0, 2.2);
    grip.setColorAt(0, QColor(120, 170, 245));
    grip.setColorAt(0.5, QColor(40, 100, 215));
    grip.setColorAt(1, QColor(16, 50, 130));
    p.setPen(QPen(QColor(12, 36, 100), 0.7));
    p.setBrush(grip);
    p.drawRoundedRect(QRectF(-3.2, -2.1, 4.5, 4.2), 1, 1);
    QLinearGradient collar(0, -3.6, 0, 3.6);
    collar.setColorAt(0, QColor(130, 180, 250));
    collar.setColorAt(0.45, QColor(50, 110, 225));
    collar.setColorAt(1, QColor(14, 44, 120));
    p.setBrush(collar);
    p.drawRoundedRect(QRectF(-4.5, -3.6, 1.8, 7.2), 0.8, 0.8);
    p.restore();
    // The round head, with a glint.
    QRadialGradient head(QPointF(10.2, 4.2), 4.6);
    head.setColorAt(0, QColor(170, 210, 255));
    head.setColorAt(0.45, QColor(50, 115, 230));
    head.setColorAt(1, QColor(16, 48, 128));
    p.setPen(QPen(QColor(12, 36, 100), 0.8));
    p.setBrush(head);
    p.drawEllipse(QPointF(11, 5), 3.9, 3.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(QPointF(9.9, 3.8), 1.1, 1.0);
    return image;
}

QImage drawDrumIcon(int pixelRatio)
{
    QImage image = transparentImage(16 * pixelRatio);
    QPainter p(&image);
    p.scale(pixelRatio, pixelRatio);
    p.setRenderHint(QPainter::Antialiasing);
    // Shell: a red cylinder between the top and bottom ellipses.
    QPainterPath shell;
    shell.moveTo(1.5, 5.5);
    shell.lineTo(1.5, 12);
    shell.arcTo(QRectF(1.5, 9.5, 13, 5), 180, 180);
    shell.lineTo(14.5, 5.5);
    shell.closeSubpath();
    QLinearGradient red(1.5, 0, 14.5, 0);
    red.setColorAt(0, QColor(110, 10, 18));
    red.setColorAt(0.3, QColor(225, 50, 55));
    red.setColorAt(0.45, QColor(200, 30, 40));
    red.setColorAt(1, QColor(90, 8, 14));
    p.setPen(QPen(QColor(70, 6, 12), 0.8));
    p.setBrush(red);
    p.drawPath(shell);
    // Tension rods down the front.
    p.setPen(QPen(QColor(235, 235, 240), 1));
    for (double x : { 4.5, 8.5, 12.5 })
        p.drawLine(QPointF(x, 8.5 + (x == 8.5 ? 1 : 0.5)), QPointF(x, 13 + (x == 8.5 ? 1 : 0.4)));
    // Bottom hoop.
    p.setPen(QPen(QColor(200, 200, 208), 1));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(1.5, 9.5, 13, 5), 180 * 16, 180 * 16);
    // The head inside the top hoop.
    QRadialGradient head(QPointF(6, 4), 8);
    head.setColorAt(0, QColor(255, 255, 250));
    head.setColorAt(1, QColor(205, 200, 188));
    p.setPen(QPen(QColor(150, 152, 160), 1));
    p.setBrush(head);
    p.drawEllipse(QRectF(1.5, 2.5, 13, 6));
    return image;
}

// ------------------------------------------------------------------ the application icon

namespace {

struct Stop {
    double at;
    QColor colour;
};
struct Linear {
    QPointF from, to;
    std::vector<Stop> stops;
};
struct Radial {
    QPointF centre;
    double radius;
    QPointF focus;
    std::vector<Stop> stops;
};
using Paint = std::variant<QColor, Linear, Radial>;
struct Shape {
    QPainterPath path;
    Paint paint;
};

QPainterPath ellipse(QPointF c, double rx, double ry)
{
    QPainterPath path;
    path.addEllipse(c, rx, ry);
    return path;
}

QPainterPath stroked(const QPainterPath& path, double width, Qt::PenCapStyle cap = Qt::RoundCap)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path).simplified();
}

Linear chromeAcross(double left, double right)
{
    return { { left, 0 }, { right, 0 },
        { { 0, QColor(90, 92, 100) }, { 0.18, QColor(240, 241, 245) },
            { 0.32, QColor(150, 152, 160) }, { 0.55, QColor(225, 226, 232) },
            { 0.78, QColor(110, 112, 120) }, { 1, QColor(60, 62, 70) } } };
}

// The drum at an angle, a stick resting on its head, on a 256 grid: the centre line and the
// heights of the top and bottom ellipses, and their radii.
constexpr double cx = 128, top = 96, bottom = 184, rx = 108, ry = 44;

// A soft shadow under the drum.
void addShadow(std::vector<Shape>& shapes)
{
    shapes.push_back({ ellipse({ 132, bottom + 30 }, rx + 6, ry * 0.55),
        Radial { { 132, bottom + 30 }, rx + 6, { 132, bottom + 30 },
            { { 0, QColor(0, 0, 0, 90) }, { 0.7, QColor(0, 0, 0, 40) },
                { 1, QColor(0, 0, 0, 0) } } } });
}

// Bottom hoop: a chrome band along the lower half of the bottom ellipse.
void addBottomHoop(std::vector<Shape>& shapes)
{
    QPainterPath band;
    band.addEllipse(QPointF(cx, bottom + 6), rx + 2, ry + 2);
    shapes.push_back({ band, chromeAcross(cx - rx, cx + rx) });
}

void addShell(std::vector<Shape>& shapes)
{
    QPainterPath shell;
    shell.moveTo(cx - rx, top);
    shell.lineTo(cx - rx, bottom);
    shell.arcTo(QRectF(cx - rx, bottom - ry, 2 * rx, 2 * ry), 180, 180);
    shell.lineTo(cx + rx, top);
    shell.arcTo(QRectF(cx - rx, top - ry, 2 * rx, 2 * ry), 0, -180);
    shell.closeSubpath();
    shapes.push_back({ shell,
        Linear { { cx - rx, 0 }, { cx + rx, 0 },
            { { 0, QColor(70, 6, 14) }, { 0.16, QColor(150, 18, 32) }, { 0.3, QColor(215, 45, 55) },
                { 0.36, QColor(250, 150, 150) }, { 0.42, QColor(205, 36, 48) },
                { 0.7, QColor(140, 14, 28) }, { 1, QColor(56, 4, 10) } } } });
    // A darker band just under the top hoop, where the hoop shades the shell.
    QPainterPath under;
    under.addEllipse(QPointF(cx, top + 10), rx, ry);
    under = under.subtracted(ellipse({ cx, top }, rx + 1, ry + 1)).intersected(shell);
    shapes.push_back({ under,
        Linear { { 0, top + 30 }, { 0, top + 56 },
            { { 0, QColor(30, 0, 4, 120) }, { 1, QColor(30, 0, 4, 0) } } } });
}

// Lugs and tension rods on the front of the shell; small icons get fewer, thicker rods and
// no lug bodies.
void addLugs(std::vector<Shape>& shapes, bool detail)
{
    const double lineW = detail ? 1 : 2.2;
    const std::vector<double> angles = detail ? std::vector<double> { 200, 235, 270, 305, 340 }
                                              : std::vector<double> { 215, 270, 325 };
    for (double deg : angles) {
        const double a = deg * pi / 180;
        const double x = cx + rx * std::cos(a);
        const double face = -std::sin(a); // 1 facing us, less towards the sides
        const double yTop = top - ry * std::sin(a), yBottom = bottom - ry * std::sin(a);
        const double w = (detail ? 12 : 18) * (0.35 + 0.65 * face);
        QPainterPath rod;
        rod.moveTo(x, yTop + 6);
        rod.lineTo(x, yBottom + 4);
        shapes.push_back({ stroked(rod, std::max(lineW * 2.5, w * 0.28)),
            chromeAcross(x - w * 0.2, x + w * 0.2) });
        if (detail) {
            QPainterPath body;
            const double mid = (yTop + yBottom) / 2;
            body.addRoundedRect(QRectF(x - w / 2, mid - 20, w, 40), w / 2, w / 2);
            shapes.push_back({ body, chromeAcross(x - w / 2, x + w / 2) });
        }
    }
}

// Top hoop: its side, then its upper edge around the head.
void addTopHoop(std::vector<Shape>& shapes)
{
    QPainterPath side
        = ellipse({ cx, top + 7 }, rx + 4, ry + 4).subtracted(ellipse({ cx, top }, rx - 4, ry - 3));
    shapes.push_back({ side, chromeAcross(cx - rx - 4, cx + rx + 4) });
    QPainterPath rim
        = ellipse({ cx, top }, rx + 4, ry + 4).subtracted(ellipse({ cx, top }, rx - 5, ry - 4));
    shapes.push_back({ rim,
        Linear { { cx - rx, top - ry }, { cx + rx, top + ry },
            { { 0, QColor(250, 251, 255) }, { 0.25, QColor(160, 162, 172) },
                { 0.5, QColor(235, 236, 242) }, { 0.75, QColor(120, 122, 132) },
                { 1, QColor(210, 212, 220) } } } });
}

// The coated head, lit from the upper left.
void addHead(std::vector<Shape>& shapes, bool detail)
{
    shapes.push_back({ ellipse({ cx, top }, rx - 5, ry - 4),
        Radial { { cx - 30, top - 14 }, rx * 1.1, { cx - 40, top - 20 },
            { { 0, QColor(255, 254, 248) }, { 0.6, QColor(240, 236, 224) },
                { 1, QColor(196, 190, 176) } } } });
    if (detail) {
        // Where the stick lands the coating is worn.
        shapes.push_back({ ellipse({ cx - 6, top + 4 }, 30, 12),
            Radial { { cx - 6, top + 4 }, 30, { cx - 6, top + 4 },
                { { 0, QColor(150, 145, 135, 70) }, { 1, QColor(150, 145, 135, 0) } } } });
    }
}

// The stick, from off the upper right down to its tip on the head: a tapered shaft, its shadow
// and the bead at the tip.
void addStick(std::vector<Shape>& shapes, bool detail)
{
    const QPointF tip(cx - 14, top + 2), butt(246, 10);
    const QPointF d = butt - tip;
    const double len = std::hypot(d.x(), d.y());
    const QPointF u = d / len, n(-u.y(), u.x());
    const double wb = detail ? 17 : 22, wn = detail ? 8 : 12;
    QPainterPath stick;
    stick.moveTo(butt + n * (wb / 2));
    stick.lineTo(tip + u * (len * 0.38) + n * (wb / 2));
    stick.cubicTo(tip + u * (len * 0.2) + n * (wb / 2), tip + u * 26 + n * (wn / 2),
        tip + u * 12 + n * (wn / 2));
    stick.lineTo(tip + u * 12 - n * (wn / 2));
    stick.cubicTo(tip + u * 26 - n * (wn / 2), tip + u * (len * 0.2) - n * (wb / 2),
        tip + u * (len * 0.38) - n * (wb / 2));
    stick.lineTo(butt - n * (wb / 2));
    stick.closeSubpath();
    // Its shadow on the head and the shell.
    QPainterPath shade
        = stick.translated(-10, 14).intersected(ellipse({ cx, top }, rx - 5, ry - 4));
    shapes.push_back({ shade, QColor(60, 50, 40, 60) });
    shapes.push_back({ stick,
        Linear { butt + n * (wb / 2), butt - n * (wb / 2),
            { { 0, QColor(250, 232, 196) }, { 0.35, QColor(236, 204, 156) },
                { 0.75, QColor(184, 140, 92) }, { 1, QColor(120, 84, 50) } } } });
    const QPointF bead = tip + u * 7;
    shapes.push_back({ ellipse(bead, wn * 0.95, wn * 0.8),
        Radial { bead - n * 2 - u * 2, wn * 1.2, bead - n * 2 - u * 2,
            { { 0, QColor(252, 236, 200) }, { 1, QColor(170, 124, 80) } } } });
}

// The icon's shapes from back to front. `detail` drops the finer parts at small sizes, where
// they would only blur.
std::vector<Shape> appIconShapes(bool detail)
{
    std::vector<Shape> shapes;
    addShadow(shapes);
    addBottomHoop(shapes);
    addShell(shapes);
    addLugs(shapes, detail);
    addTopHoop(shapes);
    addHead(shapes, detail);
    addStick(shapes, detail);
    return shapes;
}

QBrush brushOf(const Paint& paint)
{
    if (const auto* colour = std::get_if<QColor>(&paint))
        return QBrush(*colour);
    if (const auto* l = std::get_if<Linear>(&paint)) {
        QLinearGradient g(l->from, l->to);
        for (const Stop& s : l->stops)
            g.setColorAt(s.at, s.colour);
        return QBrush(g);
    }
    const auto& r = std::get<Radial>(paint);
    QRadialGradient g(r.centre, r.radius, r.focus);
    for (const Stop& s : r.stops)
        g.setColorAt(s.at, s.colour);
    return QBrush(g);
}

QString num(double v)
{
    return QString::number(v, 'f', 2);
}

void svgStops(QTextStream& out, const std::vector<Stop>& stops)
{
    for (const Stop& s : stops)
        out << "<stop offset=\"" << num(s.at) << "\" stop-color=\"" << s.colour.name()
            << "\" stop-opacity=\"" << num(s.colour.alphaF()) << "\"/>";
}

QString svgPath(const QPainterPath& path)
{
    QString d;
    QTextStream out(&d);
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            out << 'M' << num(e.x) << ' ' << num(e.y);
        } else if (e.isLineTo()) {
            out << 'L' << num(e.x) << ' ' << num(e.y);
        } else if (e.isCurveTo()) {
            const QPainterPath::Element c2 = path.elementAt(i + 1), end = path.elementAt(i + 2);
            out << 'C' << num(e.x) << ' ' << num(e.y) << ' ' << num(c2.x) << ' ' << num(c2.y) << ' '
                << num(end.x) << ' ' << num(end.y);
            i += 2;
        }
    }
    return d;
}

} // namespace

QImage drawAppIcon(int size)
{
    QImage image = transparentImage(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);
    for (const Shape& shape : appIconShapes(size >= 48))
        p.fillPath(shape.path, brushOf(shape.paint));
    return image;
}

QByteArray appIconSvg()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QTextStream out(&buffer);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 "
           "256 256\">\n"
        << "<title>Tamborel</title>\n";
    const std::vector<Shape> shapes = appIconShapes(true);
    out << "<defs>\n";
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        if (const auto* l = std::get_if<Linear>(&shapes[i].paint)) {
            out << "<linearGradient id=\"p" << i << "\" gradientUnits=\"userSpaceOnUse\" x1=\""
                << num(l->from.x()) << "\" y1=\"" << num(l->from.y()) << "\" x2=\""
                << num(l->to.x()) << "\" y2=\"" << num(l->to.y()) << "\">";
            svgStops(out, l->stops);
            out << "</linearGradient>\n";
        } else if (const auto* r = std::get_if<Radial>(&shapes[i].paint)) {
            out << "<radialGradient id=\"p" << i << "\" gradientUnits=\"userSpaceOnUse\" cx=\""
                << num(r->centre.x()) << "\" cy=\"" << num(r->centre.y()) << "\" r=\""
                << num(r->radius) << "\" fx=\"" << num(r->focus.x()) << "\" fy=\""
                << num(r->focus.y()) << "\">";
            svgStops(out, r->stops);
            out << "</radialGradient>\n";
        }
    }
    out << "</defs>\n";
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const Shape& s = shapes[i];
        out << "<path fill-rule=\""
            << (s.path.fillRule() == Qt::WindingFill ? "nonzero" : "evenodd") << "\" ";
        if (const auto* colour = std::get_if<QColor>(&s.paint))
            out << "fill=\"" << colour->name() << "\" fill-opacity=\"" << num(colour->alphaF())
                << "\"";
        else
            out << "fill=\"url(#p" << i << ")\"";
        out << " d=\"" << svgPath(s.path) << "\"/>\n";
    }
    out << "</svg>\n";
    out.flush();
    return bytes;
}

} // namespace art
