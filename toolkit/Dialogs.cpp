#include "toolkit/Dialogs.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <utility>

namespace toolkit {

namespace {

// A message box that may be closed or escaped without choosing any of its own buttons,
// which then answers "no choice" instead of refusing to close.
class OptionBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (escapeButton()) {
            QMessageBox::closeEvent(event);
            return;
        }
        event->accept();
        reject();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (!escapeButton() && event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
};

QMessageBox::Icon qtIcon(DialogIcon icon)
{
    switch (icon) {
    case DialogIcon::Warning:
        return QMessageBox::Warning;
    case DialogIcon::Question:
        return QMessageBox::Question;
    case DialogIcon::Information:
        break;
    }
    return QMessageBox::Information;
}

class MessageBoxPresenter final : public DialogPresenter {
public:
    int show(const DialogRequest& request) override
    {
        OptionBox box(qtIcon(request.icon), request.title, request.message, QMessageBox::NoButton,
            request.owner);
        QList<QAbstractButton*> buttons;
        if (request.buttons.isEmpty()) {
            buttons << box.addButton(QMessageBox::Ok);
            if (request.standardButtons == StandardButtons::OkCancel)
                buttons << box.addButton(QMessageBox::Cancel);
        } else {
            for (const QString& text : request.buttons)
                buttons << box.addButton(text, QMessageBox::AcceptRole);
            box.setEscapeButton(static_cast<QAbstractButton*>(nullptr));
        }
        if (request.initialButton >= 0 && request.initialButton < buttons.size()) {
            auto* initial = qobject_cast<QPushButton*>(buttons[request.initialButton]);
            box.setDefaultButton(initial);
            QTimer::singleShot(0, initial, [initial] { initial->setFocus(Qt::OtherFocusReason); });
        }
        box.exec();
        return static_cast<int>(buttons.indexOf(box.clickedButton()));
    }
};

MessageBoxPresenter& realPresenter()
{
    static MessageBoxPresenter presenter;
    return presenter;
}

DialogPresenter*& installed()
{
    static DialogPresenter* presenter = &realPresenter();
    return presenter;
}

} // namespace

int showDialog(const DialogRequest& request)
{
    return installed()->show(request);
}

DialogPresenter* setDialogPresenter(DialogPresenter* presenter)
{
    return std::exchange(installed(), presenter ? presenter : &realPresenter());
}

} // namespace toolkit
