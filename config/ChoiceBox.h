#pragma once

#include <QComboBox>

class QStyleOptionComboBox;

// A drop-down list that reports every choice made in it: the user's, also of the item that is
// already selected, and the program's through choose(). It also tells when its drop-down opens,
// closes, and closes without a choice.
class ChoiceBox : public QComboBox {
    Q_OBJECT
public:
    explicit ChoiceBox(QWidget* parent = nullptr);

    // Selects the item and reports it as a choice, even when it was selected already.
    void choose(int index);

    // Draws every item with this horizontal alignment, in the closed box and in the drop-down.
    void setItemAlignment(Qt::Alignment horizontal);
    Qt::Alignment itemAlignment() const { return itemAlignment_; }

    void showPopup() override;
    void hidePopup() override;

signals:
    void choiceMade();
    void popupWillBecomeVisible();
    void popupWillBecomeInvisible();
    void popupCanceled();

protected:
    void initStyleOption(QStyleOptionComboBox* option) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void popupClosing();

    Qt::Alignment itemAlignment_ = Qt::AlignLeft;
    quint64 choices_ = 0;
    quint64 choicesWhenOpened_ = 0;
    bool popupOpen_ = false;
};
