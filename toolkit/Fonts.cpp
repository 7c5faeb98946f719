#include "toolkit/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace toolkit {

QFont tahoma(int pixelSize, bool bold)
{
    const QString tahoma = QStringLiteral("Tahoma");
    QFont font = QFontDatabase::families().contains(tahoma)
        ? QFont(tahoma)
        : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace toolkit
