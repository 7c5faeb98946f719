#include "toolkit/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace toolkit {

namespace {
const QString tahomaFamily = QStringLiteral("Tahoma");

// Installed families nearest to Tahoma's widths, best first; the desktop's sans otherwise.
QString tahomaLikeFamily()
{
    const QStringList families = QFontDatabase::families();
    for (const char* candidate :
        { "Tahoma", "Liberation Sans", "DejaVu Sans Condensed", "Arial" }) {
        if (families.contains(QLatin1String(candidate)))
            return QLatin1String(candidate);
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}
} // namespace

QFont tahoma(int pixelSize, bool bold)
{
    const QString family = tahomaLikeFamily();
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    // The stand-ins run a few percent wider than Tahoma itself.
    if (family != tahomaFamily)
        font.setLetterSpacing(QFont::PercentageSpacing, 96);
    return font;
}

QFont nimbusFont()
{
    QFont font(tahomaLikeFamily());
    font.setPixelSize(12);
    return font;
}

} // namespace toolkit
