#include "toolkit/Widgets.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace toolkit {

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

} // namespace toolkit
