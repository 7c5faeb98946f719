#include "config/ChoiceBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QTimer>

namespace {

// Draws the drop-down's items with the list's own alignment.
class AlignedItems final : public QStyledItemDelegate {
public:
    AlignedItems(Qt::Alignment horizontal, QObject* parent)
        : QStyledItemDelegate(parent)
        , horizontal_(horizontal)
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = horizontal_ | Qt::AlignVCenter;
    }

private:
    Qt::Alignment horizontal_;
};

} // namespace

ChoiceBox::ChoiceBox(QWidget* parent)
    : QComboBox(parent)
{
    // Unlike currentIndexChanged, activated also comes when the user picks the selected item.
    connect(this, &QComboBox::activated, this, [this] {
        ++choices_;
        emit choiceMade();
    });
    // A drop-down can also go without hidePopup (the desktop closing popups, for one); its
    // frame hides in every case.
    view()->window()->installEventFilter(this);
}

void ChoiceBox::choose(int index)
{
    setCurrentIndex(index);
    ++choices_;
    emit choiceMade();
}

void ChoiceBox::setItemAlignment(Qt::Alignment horizontal)
{
    itemAlignment_ = horizontal & Qt::AlignHorizontal_Mask;
    setItemDelegate(new AlignedItems(itemAlignment_, this));
    update();
}

void ChoiceBox::showPopup()
{
    if (!popupOpen_ && count() > 0) {
        emit popupWillBecomeVisible();
        popupOpen_ = true;
        choicesWhenOpened_ = choices_;
    }
    QComboBox::showPopup();
}

void ChoiceBox::hidePopup()
{
    if (popupOpen_)
        popupClosing();
    QComboBox::hidePopup();
}

void ChoiceBox::initStyleOption(QStyleOptionComboBox* option) const
{
    QComboBox::initStyleOption(option);
    option->textAlignment = itemAlignment_ | Qt::AlignVCenter;
}

bool ChoiceBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && popupOpen_ && watched == view()->window())
        popupClosing();
    return QComboBox::eventFilter(watched, event);
}

void ChoiceBox::popupClosing()
{
    popupOpen_ = false;
    emit popupWillBecomeInvisible();
    // A choice made in the drop-down is reported only after the drop-down has been told to
    // close, in the same event: look once that event is over.
    QTimer::singleShot(0, this, [this, opened = choicesWhenOpened_] {
        if (choices_ == opened)
            emit popupCanceled();
    });
}
