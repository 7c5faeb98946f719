#pragma once

#include <QLatin1String>

class QWidget;

namespace toolkit {

// Components carry their field names, as a designer would give them.
template <typename T> T* named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// Centres a window on the primary screen. With no screen at all (none connected, or the
// display going away) the window stays where it is: there is nothing to centre it on.
void centreOnScreen(QWidget* window);

} // namespace toolkit
