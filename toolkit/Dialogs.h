#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace toolkit {

enum class DialogIcon { Information, Warning, Question };

// The standard button sets, used when a dialog brings no buttons of its own.
enum class StandardButtons { Ok, OkCancel };

// One modal dialog as the program asks for it.
struct DialogRequest {
    QWidget* owner = nullptr; // no owner: a dialog of its own, modal for the whole program
    DialogIcon icon = DialogIcon::Information;
    QString title;
    QString message;
    StandardButtons standardButtons = StandardButtons::Ok;
    QStringList buttons; // when not empty, these texts replace the standard set, in this order
    int initialButton = -1; // the button that holds the focus when the dialog opens
};

// Shows modal dialogs. Answers with the position of the pressed button among the dialog's
// buttons (OK is 0 and Cancel 1 in the standard sets), or -1 when the dialog was closed
// without a choice.
class DialogPresenter {
public:
    virtual ~DialogPresenter() = default;
    virtual int show(const DialogRequest& request) = 0;
};

// Shows the dialog through the installed presenter (Qt message boxes unless a test installed
// its own). Must be called on the event thread.
int showDialog(const DialogRequest& request);

// Installs a presenter, or the real one again for nullptr; returns the one before.
DialogPresenter* setDialogPresenter(DialogPresenter* presenter);

} // namespace toolkit
