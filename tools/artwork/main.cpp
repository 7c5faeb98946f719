// Draws the program's pictures and icons into the folder given as the last argument and, with
// --icons DIR, the application icon for the desktop's hicolor theme into DIR.
#include "art.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

namespace {

bool save(const QImage& image, const QString& path, const char* format)
{
    if (image.save(path, format, 94))
        return true;
    std::fprintf(stderr, "tamborel-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

bool writeFile(const QByteArray& data, const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size())
        return true;
    std::fprintf(stderr, "tamborel-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

bool writeHicolor(const QDir& root)
{
    bool ok = true;
    for (int n : { 16, 24, 32, 48, 64, 128, 256 }) {
        const QString dir = QStringLiteral("%1x%1/apps").arg(n);
        root.mkpath(dir);
        ok &= save(
            art::drawAppIcon(n), root.filePath(dir + QStringLiteral("/tamborel.png")), "PNG");
    }
    root.mkpath(QStringLiteral("scalable/apps"));
    ok &= writeFile(art::appIconSvg(), root.filePath(QStringLiteral("scalable/apps/tamborel.svg")));
    return ok;
}

int usage()
{
    std::fprintf(stderr, "usage: tamborel-artwork [--icons DIR] OUTPUT-FOLDER\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QString outDir, iconDir;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--icons") && i + 1 < args.size())
            iconDir = args[++i];
        else if (args[i].startsWith(QLatin1Char('-')) || !outDir.isEmpty())
            return usage();
        else
            outDir = args[i];
    }
    if (outDir.isEmpty())
        return usage();

    QDir out(outDir);
    out.mkpath(QStringLiteral("."));
    bool ok = true;
    // Every picture twice: as named, and at twice the size under Qt's "@2x" name beside it.
    for (int ratio : { 1, 2 }) {
        const QString at = ratio == 1 ? QString() : QStringLiteral("@%1x").arg(ratio);
        auto name = [&](const char* stem, const char* suffix) {
            return out.filePath(QLatin1String(stem) + at + QLatin1String(suffix));
        };
        ok &= save(art::drawKit(ratio), name("ZRX", ".jpg"), "JPG");
        ok &= save(art::drawConfigBackground(ratio), name("ZRX-bg", ".jpg"), "JPG");
        ok &= save(art::drawInfoIcon(ratio), name("info", ".png"), "PNG");
        ok &= save(art::drawExitIcon(ratio), name("exit", ".png"), "PNG");
        ok &= save(art::drawPinIcon(ratio), name("bluepin", ".png"), "PNG");
        ok &= save(art::drawDrumIcon(ratio), name("drums", ".png"), "PNG");
        ok &= save(art::drawAppIcon(32 * ratio), name("zrx", ".png"), "PNG");
    }
    if (!iconDir.isEmpty()) {
        QDir icons(iconDir);
        icons.mkpath(QStringLiteral("."));
        ok &= writeHicolor(icons);
    }
    return ok ? 0 : 1;
}
