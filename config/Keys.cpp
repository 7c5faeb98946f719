#include "config/Keys.h"

#include "bindings/DrumKeys.h"
#include "config/ChoiceBox.h"
#include "drums/DrumTable.h"
#include "drums/KeyCodes.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Fonts.h"
#include "toolkit/Looks.h"
#include "toolkit/Pictures.h"
#include "toolkit/Widgets.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <algorithm>

Q_LOGGING_CATEGORY(lcKeys, "tamborel.Keys")

std::function<void()> Keys::openMainWindow;

namespace {

using toolkit::named;

const QString defaultKit = QString::fromLatin1(DrumKeys::defaultKit);
const QString customKit = QStringLiteral("custom");

const QStringList& kitItems()
{
    static const QStringList items { defaultKit, QStringLiteral("rock"), QStringLiteral("metal"),
        customKit };
    return items;
}

// The key lists are made and placed column by column: every drum's first key, then every
// drum's second, in drum order, except that Crash's first key comes before Ride Cup's.
std::array<const drums::Binding*, drums::bindingCount> keyListOrder()
{
    std::array<const drums::Binding*, drums::bindingCount> order {};
    auto next = order.begin();
    for (std::size_t key : { 0, 1 }) {
        for (const drums::Drum& drum : drums::drumTable())
            *next++ = &drum.keys[key];
    }
    std::swap(order[static_cast<std::size_t>(drums::DrumIndex::rideCup)],
        order[static_cast<std::size_t>(drums::DrumIndex::crash)]);
    return order;
}

// Leaves the list as it is when the text is none of its items.
void selectItem(QComboBox* list, const QString& text)
{
    const int index = list->findText(text);
    if (index >= 0)
        list->setCurrentIndex(index);
}

// A raised bevel whose light and shadow lines are all black: two black lines on every side.
// On a scaled screen Qt draws each line one screen pixel thin, not one window pixel: a black
// ground behind them fills the rest of the frame.
void blackBevel(QLabel* label)
{
    label->setFrameStyle(QFrame::WinPanel | QFrame::Raised);
    QPalette palette = label->palette();
    for (auto role :
        { QPalette::Light, QPalette::Midlight, QPalette::Dark, QPalette::Shadow, QPalette::Window })
        palette.setColor(role, Qt::black);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

} // namespace

Keys::Keys()
{
    initComponents();
    setWindowIcon(QIcon(QStringLiteral(":/tamborel/zrx.png")));
    drumFolderbox->setItemAlignment(Qt::AlignHCenter);
}

void Keys::main(const QStringList& args)
{
    toolkit::QtLookProvider looks;
    main(args, looks);
}

void Keys::main(const QStringList&, toolkit::LookProvider& looks)
{
    toolkit::startWithLook<Keys>(looks, lcKeys());
}

void Keys::initComponents()
{
    createComponents();

    // No title bar and no way to resize; the platform's close request is refused in
    // closeEvent, so Save and Close is the only way out.
    setWindowTitle(QStringLiteral("Tamborel"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(windowWidth, windowHeight);

    title->setFont(toolkit::tahoma(18, true));
    title->setText(QStringLiteral("Configure Drums"));
    title->setParent(this);
    title->setGeometry(177, 7, 180, 22);

    saveAndClose->setText(QStringLiteral("Save and Close"));
    connect(saveAndClose, &QPushButton::clicked, this, &Keys::saveAndCloseActionPerformed);
    saveAndClose->setParent(this);
    saveAndClose->setGeometry(228, 268, 140, 23);
    reset->setText(QStringLiteral("Reset"));
    connect(reset, &QPushButton::clicked, this, &Keys::resetActionPerformed);
    reset->setParent(this);
    reset->setGeometry(154, 268, 68, 23);

    placeDrumRows();
    placeKitChoice();
    toolkit::centreOnScreen(this);
}

void Keys::createComponents()
{
    title = named(new QLabel, "title");
    saveAndClose = named(new QPushButton, "saveAndClose");
    reset = named(new QPushButton, "reset");
    jLabel2 = named(new QLabel, "jLabel2");
    jLabel3 = named(new QLabel, "jLabel3");
    jLabel4 = named(new QLabel, "jLabel4");
    jLabel5 = named(new QLabel, "jLabel5");
    jLabel6 = named(new QLabel, "jLabel6");
    jLabel7 = named(new QLabel, "jLabel7");
    jLabel8 = named(new QLabel, "jLabel8");
    jLabel9 = named(new QLabel, "jLabel9");
    jLabel10 = named(new QLabel, "jLabel10");
    jLabel11 = named(new QLabel, "jLabel11");
    jLabel12 = named(new QLabel, "jLabel12");
    jLabel13 = named(new QLabel, "jLabel13");
    for (const drums::Binding* key : keyListOrder())
        keyList(*key) = named(new QComboBox, key->list.name);
    jLabel1 = named(new QLabel, "jLabel1");
    drumFolderbox = named(new ChoiceBox, "drumFolderbox");
    jLabel14 = named(new QLabel, "jLabel14");
}

// Each drum's name, then its two key lists: the first six drums on the left, the rest on the
// right.
void Keys::placeDrumRows()
{
    const std::array<QLabel*, drums::drumCount> nameLabels { jLabel2, jLabel3, jLabel4, jLabel5,
        jLabel6, jLabel7, jLabel8, jLabel9, jLabel10, jLabel11, jLabel12, jLabel13 };
    for (std::size_t at = 0; at < drums::drumCount; ++at) {
        const drums::Drum& drum = drums::drumTable()[at];
        nameLabels[at]->setText(QString::fromLatin1(drum.name));
        nameLabels[at]->setParent(this);
        nameLabels[at]->setGeometry(drum.nameBounds);
    }

    for (const drums::Binding* key : keyListOrder()) {
        QComboBox* list = keyList(*key);
        list->addItems(drums::keyItems()); // a model of its own for every list
        selectItem(list, QString::fromLatin1(key->defaultKey));
        selectItem(list, *key->stored);
        list->setParent(this);
        list->setGeometry(QRect(key->list.at, QSize(50, 20)));
    }
}

void Keys::placeKitChoice()
{
    jLabel1->setFont(toolkit::tahoma(14, false));
    jLabel1->setText(QStringLiteral("Select drum set"));
    jLabel1->setParent(this);
    jLabel1->setGeometry(154, 224, 95, 17);

    drumFolderbox->setFont(toolkit::tahoma(14, false));
    drumFolderbox->setMaxVisibleItems(4);
    drumFolderbox->addItems(kitItems());
    selectItem(drumFolderbox, DrumKeys::drumFolder);
    // Attached only now: the selection above is the stored kit, not a choice.
    connect(drumFolderbox, &ChoiceBox::popupCanceled, this, &Keys::drumFolderboxPopupMenuCanceled);
    connect(drumFolderbox, &ChoiceBox::choiceMade, this, &Keys::drumFolderboxActionPerformed);
    drumFolderbox->setParent(this);
    drumFolderbox->setGeometry(259, 221, 100, 23);

    // The picture goes in last and lies beneath everything else. It is larger than the
    // window, so only the top and left sides of its border show.
    toolkit::showPicture(jLabel14, QStringLiteral(":/tamborel/ZRX-bg.jpg"));
    jLabel14->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    blackBevel(jLabel14);
    jLabel14->setParent(this);
    jLabel14->lower();
    jLabel14->setGeometry(0, 0, 490, 310);
}

QComboBox*& Keys::keyList(const drums::Binding& key)
{
    static constexpr std::array<QComboBox * Keys::*, drums::bindingCount> inStoreOrder {
        &Keys::bassDrumKey1, &Keys::bassDrumKey2, &Keys::snareDrumKey1, &Keys::snareDrumKey2,
        &Keys::highTomKey1, &Keys::highTomKey2, &Keys::mediumTomKey1, &Keys::mediumTomKey2,
        &Keys::floorTomKey1, &Keys::floorTomKey2, &Keys::closedHiHatKey1, &Keys::closedHiHatKey2,
        &Keys::openHiHatKey1, &Keys::openHiHatKey2, &Keys::rideKey1, &Keys::rideKey2,
        &Keys::rideCupKey1, &Keys::rideCupKey2, &Keys::crashKey1, &Keys::crashKey2,
        &Keys::chinaKey1, &Keys::chinaKey2, &Keys::splashKey1, &Keys::splashKey2
    };
    const auto& all = drums::bindings();
    const auto at = std::find(all.begin(), all.end(), &key) - all.begin();
    return this->*inStoreOrder.at(static_cast<std::size_t>(at));
}

void Keys::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void Keys::saveAndCloseActionPerformed(bool)
{
    DrumKeys::drumFolder = drumFolderbox->currentText();
    for (const drums::Binding* key : drums::bindings())
        *key->stored = keyList(*key)->currentText();
    // Never shown again: the next Configure Drums builds a new window from the store.
    hide();
    deleteLater();
    if (openMainWindow)
        openMainWindow();
}

void Keys::resetActionPerformed(bool)
{
    for (const drums::Binding* key : drums::bindings())
        selectItem(keyList(*key), QString::fromLatin1(key->defaultKey));
    drumFolderbox->choose(drumFolderbox->findText(defaultKit));
}

void Keys::drumFolderboxActionPerformed()
{
    if (drumFolderbox->currentText() != customKit)
        return;
    toolkit::DialogRequest reminder;
    reminder.owner = this;
    reminder.icon = toolkit::DialogIcon::Warning;
    reminder.title = QStringLiteral("Tamborel");
    reminder.message
        = QStringLiteral("Make sure you place all the .WAV files in the /kits/custom folder!");
    reminder.standardButtons = toolkit::StandardButtons::Ok;
    toolkit::showDialog(reminder);
}

// Closing the drop-down without a choice leaves everything as it was.
void Keys::drumFolderboxPopupMenuCanceled()
{
}
