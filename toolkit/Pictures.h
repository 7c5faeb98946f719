#pragma once

class QLabel;
class QString;

namespace toolkit {

// Shows a picture resource in a label, drawn for the label's screen: on a scaled screen the
// copy at twice the size beside it ("ZRX@2x.jpg" beside "ZRX.jpg"), which lays out at the
// plain picture's size, so the label and whatever lies over it keep their places. The choice
// is made again when the window shows and whenever it moves to another screen.
void showPicture(QLabel* label, const QString& path);

} // namespace toolkit
