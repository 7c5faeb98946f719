#include "toolkit/Looks.h"

#include "toolkit/Fonts.h"
#include "toolkit/NimbusStyle.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QStyleFactory>

namespace toolkit {

void selectLook(LookProvider& provider, const QLoggingCategory& log)
{
    const QString preferred = QString::fromLatin1(preferredLookName);
    for (const LookInfo& look : provider.installedLooks()) {
        if (look.name.isNull() || look.name != preferred)
            continue;
        try {
            provider.install(look.className);
        } catch (const LookInstallError& failure) {
            if (log.isWarningEnabled())
                QMessageLogger(nullptr, 0, nullptr, log.categoryName())
                    .warning("%s", failure.what());
        }
        return;
    }
}

QList<LookInfo> QtLookProvider::installedLooks() const
{
    QList<LookInfo> looks;
    for (const QString& key : QStyleFactory::keys())
        looks.append({ key, key });
    looks.append(
        { QString::fromLatin1(preferredLookName), QString::fromLatin1(NimbusStyle::className) });
    return looks;
}

void QtLookProvider::install(const QString& className)
{
    const bool nimbus = className == QLatin1String(NimbusStyle::className);
    QStyle* style = nimbus ? new NimbusStyle : QStyleFactory::create(className);
    if (!style)
        throw LookInstallError("no look can be made from " + className.toStdString());
    QApplication::setStyle(style);
    QApplication::setPalette(style->standardPalette());
    if (nimbus)
        QApplication::setFont(nimbusFont());
}

} // namespace toolkit
