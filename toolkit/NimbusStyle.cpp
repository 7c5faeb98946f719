#include "toolkit/NimbusStyle.h"

#include <QStyleFactory>

namespace toolkit {

NimbusStyle::NimbusStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
    setObjectName(QStringLiteral("Nimbus"));
}

QPalette NimbusStyle::standardPalette() const
{
    const QColor window(0xd6, 0xdd, 0xe5);
    const QColor base(0xf4, 0xf6, 0xf9);
    const QColor text(0x1c, 0x27, 0x33);
    const QColor button(0xc9, 0xd3, 0xde);
    const QColor highlight(0x3d, 0x6a, 0x94);
    const QColor disabledText(0x8a, 0x96, 0xa3);

    QPalette palette(button, window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window.lighter(106));
    palette.setColor(QPalette::ToolTipBase, QColor(0xf1, 0xf4, 0xe6));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, button.lighter(130));
    palette.setColor(QPalette::Midlight, button.lighter(112));
    palette.setColor(QPalette::Mid, button.darker(130));
    palette.setColor(QPalette::Dark, button.darker(160));
    palette.setColor(QPalette::Shadow, QColor(0x26, 0x30, 0x3b));
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, highlight);
    palette.setColor(QPalette::LinkVisited, highlight.darker(120));
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, button.darker(115));
    return palette;
}

} // namespace toolkit
