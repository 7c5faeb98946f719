// The pictures and icons of the program, each drawn from nothing by its own function.
#pragma once

#include <QByteArray>
#include <QImage>

namespace art {

// The kit seen from above on a wooden floor, 601 x 441, with room for the key labels.
QImage drawKit();
// The key-configuration window's background, 502 x 314: light, calm cymbal rings.
QImage drawConfigBackground();

// The 16 x 16 menu icons.
QImage drawInfoIcon();
QImage drawExitIcon();
QImage drawPinIcon();
QImage drawDrumIcon();

// The application icon at any square size, and the same drawing as an SVG document.
QImage drawAppIcon(int size);
QByteArray appIconSvg();

} // namespace art
