// Draws the program's pictures and icons into the folder given as the only argument.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {
bool save(const QImage& image, const QString& path, const char* format)
{
    if (image.save(path, format, 92))
        return true;
    std::fprintf(stderr, "tamborel-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

QImage filled(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamborel-artwork OUTPUT-FOLDER\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    bool ok = save(filled(601, 441, QColor(150, 105, 60)), out.filePath("ZRX.jpg"), "JPG");
    ok &= save(filled(502, 314, QColor(200, 205, 210)), out.filePath("ZRX-bg.jpg"), "JPG");
    for (const char* name : { "info.png", "exit.png", "bluepin.png", "drums.png" })
        ok &= save(filled(16, 16, QColor(60, 90, 140)), out.filePath(name), "PNG");
    ok &= save(filled(32, 32, QColor(60, 90, 140)), out.filePath("zrx.png"), "PNG");
    return ok ? 0 : 1;
}
