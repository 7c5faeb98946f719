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

QString drumName(std::size_t drum)
{
    return QString::fromLatin1(drums::drumTable()[drum].name);
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
    bassDrumKey1 = named(new QComboBox, "bassDrumKey1");
    snareDrumKey1 = named(new QComboBox, "snareDrumKey1");
    highTomKey1 = named(new QComboBox, "highTomKey1");
    mediumTomKey1 = named(new QComboBox, "mediumTomKey1");
    floorTomKey1 = named(new QComboBox, "floorTomKey1");
    closedHiHatKey1 = named(new QComboBox, "closedHiHatKey1");
    openHiHatKey1 = named(new QComboBox, "openHiHatKey1");
    rideKey1 = named(new QComboBox, "rideKey1");
    crashKey1 = named(new QComboBox, "crashKey1");
    rideCupKey1 = named(new QComboBox, "rideCupKey1");
    chinaKey1 = named(new QComboBox, "chinaKey1");
    splashKey1 = named(new QComboBox, "splashKey1");
    bassDrumKey2 = named(new QComboBox, "bassDrumKey2");
    snareDrumKey2 = named(new QComboBox, "snareDrumKey2");
    highTomKey2 = named(new QComboBox, "highTomKey2");
    mediumTomKey2 = named(new QComboBox, "mediumTomKey2");
    floorTomKey2 = named(new QComboBox, "floorTomKey2");
    closedHiHatKey2 = named(new QComboBox, "closedHiHatKey2");
    openHiHatKey2 = named(new QComboBox, "openHiHatKey2");
    rideKey2 = named(new QComboBox, "rideKey2");
    rideCupKey2 = named(new QComboBox, "rideCupKey2");
    crashKey2 = named(new QComboBox, "crashKey2");
    chinaKey2 = named(new QComboBox, "chinaKey2");
    splashKey2 = named(new QComboBox, "splashKey2");
    jLabel1 = named(new QLabel, "jLabel1");
    drumFolderbox = named(new ChoiceBox, "drumFolderbox");
    jLabel14 = named(new QLabel, "jLabel14");
}

// Each drum's name, then its two key lists: the first six drums on the left, the rest on the
// right.
void Keys::placeDrumRows()
{
    const std::array<std::pair<QLabel*, QRect>, drums::drumCount> nameLabels { {
        { jLabel2, { 10, 50, 80, 14 } },
        { jLabel3, { 10, 76, 80, 14 } },
        { jLabel4, { 10, 100, 80, 14 } },
        { jLabel5, { 10, 125, 80, 14 } },
        { jLabel6, { 10, 151, 80, 14 } },
        { jLabel7, { 10, 177, 80, 14 } },
        { jLabel8, { 281, 50, 70, 14 } },
        { jLabel9, { 281, 76, 60, 14 } },
        { jLabel10, { 281, 102, 70, 14 } },
        { jLabel11, { 281, 128, 60, 14 } },
        { jLabel12, { 281, 154, 60, 14 } },
        { jLabel13, { 281, 180, 60, 14 } },
    } };
    for (std::size_t drum = 0; drum < drums::drumCount; ++drum) {
        auto [label, bounds] = nameLabels[drum];
        label->setText(drumName(drum));
        label->setParent(this);
        label->setGeometry(bounds);
    }

    placeKeyList(bassDrumKey1, { 92, 47 });
    placeKeyList(snareDrumKey1, { 92, 73 });
    placeKeyList(highTomKey1, { 92, 99 });
    placeKeyList(mediumTomKey1, { 92, 125 });
    placeKeyList(floorTomKey1, { 92, 151 });
    placeKeyList(closedHiHatKey1, { 92, 177 });
    placeKeyList(openHiHatKey1, { 357, 47 });
    placeKeyList(rideKey1, { 357, 73 });
    placeKeyList(crashKey1, { 357, 125 });
    placeKeyList(rideCupKey1, { 357, 99 });
    placeKeyList(chinaKey1, { 357, 151 });
    placeKeyList(splashKey1, { 357, 177 });
    placeKeyList(bassDrumKey2, { 148, 47 });
    placeKeyList(snareDrumKey2, { 148, 73 });
    placeKeyList(highTomKey2, { 148, 99 });
    placeKeyList(mediumTomKey2, { 148, 125 });
    placeKeyList(floorTomKey2, { 148, 151 });
    placeKeyList(closedHiHatKey2, { 148, 177 });
    placeKeyList(openHiHatKey2, { 413, 47 });
    placeKeyList(rideKey2, { 413, 73 });
    placeKeyList(rideCupKey2, { 413, 99 });
    placeKeyList(crashKey2, { 413, 125 });
    placeKeyList(chinaKey2, { 413, 151 });
    placeKeyList(splashKey2, { 413, 177 });
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

std::array<Keys::KeyRow, 24> Keys::keyRows() const
{
    return { {
        { bassDrumKey1, &DrumKeys::bassDrumKey1v, DrumKeys::defaultKeys[0] },
        { bassDrumKey2, &DrumKeys::bassDrumKey2v, DrumKeys::defaultKeys[1] },
        { snareDrumKey1, &DrumKeys::snareDrumKey1v, DrumKeys::defaultKeys[2] },
        { snareDrumKey2, &DrumKeys::snareDrumKey2v, DrumKeys::defaultKeys[3] },
        { highTomKey1, &DrumKeys::highTomKey1v, DrumKeys::defaultKeys[4] },
        { highTomKey2, &DrumKeys::highTomKey2v, DrumKeys::defaultKeys[5] },
        { mediumTomKey1, &DrumKeys::mediumTomKey1v, DrumKeys::defaultKeys[6] },
        { mediumTomKey2, &DrumKeys::mediumTomKey2v, DrumKeys::defaultKeys[7] },
        { floorTomKey1, &DrumKeys::floorTomKey1v, DrumKeys::defaultKeys[8] },
        { floorTomKey2, &DrumKeys::floorTomKey2v, DrumKeys::defaultKeys[9] },
        { closedHiHatKey1, &DrumKeys::closedHiHatKey1v, DrumKeys::defaultKeys[10] },
        { closedHiHatKey2, &DrumKeys::closedHiHatKey2v, DrumKeys::defaultKeys[11] },
        { openHiHatKey1, &DrumKeys::openHiHatKey1v, DrumKeys::defaultKeys[12] },
        { openHiHatKey2, &DrumKeys::openHiHatKey2v, DrumKeys::defaultKeys[13] },
        { rideKey1, &DrumKeys::rideKey1v, DrumKeys::defaultKeys[14] },
        { rideKey2, &DrumKeys::rideKey2v, DrumKeys::defaultKeys[15] },
        { rideCupKey1, &DrumKeys::rideCupKey1v, DrumKeys::defaultKeys[16] },
        { rideCupKey2, &DrumKeys::rideCupKey2v, DrumKeys::defaultKeys[17] },
        { crashKey1, &DrumKeys::crashKey1v, DrumKeys::defaultKeys[18] },
        { crashKey2, &DrumKeys::crashKey2v, DrumKeys::defaultKeys[19] },
        { chinaKey1, &DrumKeys::chinaKey1v, DrumKeys::defaultKeys[20] },
        { chinaKey2, &DrumKeys::chinaKey2v, DrumKeys::defaultKeys[21] },
        { splashKey1, &DrumKeys::splashKey1v, DrumKeys::defaultKeys[22] },
        { splashKey2, &DrumKeys::splashKey2v, DrumKeys::defaultKeys[23] },
    } };
}

void Keys::placeKeyList(QComboBox* list, QPoint at)
{
    const auto rows = keyRows();
    const auto row = std::find_if(
        rows.begin(), rows.end(), [list](const KeyRow& r) { return r.list == list; });
    list->addItems(drums::keyItems()); // a model of its own for every list
    selectItem(list, QString::fromLatin1(row->factoryKey));
    selectItem(list, *row->stored);
    list->setParent(this);
    list->setGeometry(QRect(at, QSize(50, 20)));
}

void Keys::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void Keys::saveAndCloseActionPerformed(bool)
{
    DrumKeys::drumFolder = drumFolderbox->currentText();
    for (const KeyRow& row : keyRows())
        *row.stored = row.list->currentText();
    // Never shown again: the next Configure Drums builds a new window from the store.
    hide();
    deleteLater();
    if (openMainWindow)
        openMainWindow();
}

void Keys::resetActionPerformed(bool)
{
    for (const KeyRow& row : keyRows())
        selectItem(row.list, QString::fromLatin1(row.factoryKey));
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
