#include "toolkit/Pictures.h"

#include <QEvent>
#include <QIcon>
#include <QImageReader>
#include <QLabel>

namespace toolkit {

namespace {

class ScreenPicture final : public QObject {
public:
    ScreenPicture(QLabel* label, const QString& path)
        : QObject(label)
        , label_(label)
        , picture_(path) // with its "@2x" copy, when a scaled screen is there
        , size_(QImageReader(path).size())
    {
        fit();
        label->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Qt 6.4 tells a window's widgets of a new screen with ScreenChangeInternal.
        if (watched == label_
            && (event->type() == QEvent::Show || event->type() == QEvent::ScreenChangeInternal))
            fit();
        return false;
    }

private:
    void fit() { label_->setPixmap(picture_.pixmap(size_, label_->devicePixelRatioF())); }

    QLabel* label_;
    QIcon picture_;
    QSize size_;
};

} // namespace

void showPicture(QLabel* label, const QString& path)
{
    new ScreenPicture(label, path);
}

} // namespace toolkit
