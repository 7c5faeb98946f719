// The pictures and icons of the program, each drawn from nothing by its own function.
#pragma once

#include <QByteArray>
#include <QImage>

namespace art {

// Each picture comes at a pixel ratio: 1 for the sizes given here, 2 for the copy that scaled
// screens show, the same drawing with twice the pixels each way.

// The kit seen from above on a wooden floor, 601 x 441, with room for the key labels.
QImage drawKit(int pixelRatio);
// The key-configuration window's background, 502 x 314: light, calm cymbal rings.
QImage drawConfigBackground(int pixelRatio);

// The 16 x 16 menu icons.
QImage drawInfoIcon(int pixelRatio);
QImage drawExitIcon(int pixelRatio);
QImage drawPinIcon(int pixelRatio);
QImage drawDrumIcon(int pixelRatio);

// The application icon at any square size, and the same drawing as an SVG document.
QImage drawAppIcon(int size);
QByteArray appIconSvg();

} // namespace art
