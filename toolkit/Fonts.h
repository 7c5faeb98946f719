#pragma once

#include <QFont>

namespace toolkit {

// "Tahoma" at the given pixel size where it is installed. Elsewhere a sans that lays out
// like it, so the texts placed for Tahoma's widths still fit their labels.
QFont tahoma(int pixelSize, bool bold);

// The default font of the program's own look: 12 pixels of the same sans, at its natural
// spacing.
QFont nimbusFont();

} // namespace toolkit
