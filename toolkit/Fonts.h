#pragma once

#include <QFont>

namespace toolkit {

// "Tahoma" at the given pixel size where it is installed, the desktop's sans otherwise.
QFont tahoma(int pixelSize, bool bold);

} // namespace toolkit
