#include "TestSupport.h"

#include "bindings/DrumKeys.h"
#include "config/ChoiceBox.h"
#include "config/Keys.h"
#include "toolkit/Looks.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

using namespace testing_support;

namespace {

const QStringList keyItems { "Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P", "[", "]", "\\", "A",
    "S", "D", "F", "G", "H", "J", "K", "L", ";", "'", "Z", "X", "C", "V", "B", "N", "M", ",", ".",
    "/" };

const QStringList kitItems { "acoustic", "rock", "metal", "custom" };

// The key lists in the store's order, and the values every run starts with, kit first.
const QStringList keyListsInStoreOrder { "bassDrumKey1", "bassDrumKey2", "snareDrumKey1",
    "snareDrumKey2", "highTomKey1", "highTomKey2", "mediumTomKey1", "mediumTomKey2", "floorTomKey1",
    "floorTomKey2", "closedHiHatKey1", "closedHiHatKey2", "openHiHatKey1", "openHiHatKey2",
    "rideKey1", "rideKey2", "rideCupKey1", "rideCupKey2", "crashKey1", "crashKey2", "chinaKey1",
    "chinaKey2", "splashKey1", "splashKey2" };
const QStringList startUpValues { "acoustic", "Q", "W", "E", "R", "T", "Y", "G", "H", "B", "N", "P",
    "X", "I", "C", "L", "M", "K", "J", "O", "U", ".", "Z", ",", "A" };

const QString reminderText = "Make sure you place all the .WAV files in the /kits/custom folder!";

QStringList storeValues()
{
    QStringList values;
    for (QString* field : storeFields())
        values << *field;
    return values;
}

template <typename T = QWidget> T* part(const QWidget* window, const QString& name)
{
    auto* found = window->findChild<T*>(name, Qt::FindDirectChildrenOnly);
    if (!found)
        throw std::runtime_error("no component " + name.toStdString());
    return found;
}

// A configuration window as Configure Drums opens it; gone at the end of the test, also when
// Save and Close has already let it go.
class OpenKeys {
public:
    explicit OpenKeys(bool show = true)
        : window_(new Keys)
    {
        if (show) {
            window_->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window_));
        }
    }
    ~OpenKeys() { delete window_; }
    OpenKeys(const OpenKeys&) = delete;
    OpenKeys& operator=(const OpenKeys&) = delete;

    Keys* window() const { return window_; }
    QComboBox* list(const QString& name) const { return part<QComboBox>(window_, name); }
    ChoiceBox* kits() const { return part<ChoiceBox>(window_, "drumFolderbox"); }
    QPushButton* button(const QString& name) const { return part<QPushButton>(window_, name); }

    // What the 25 lists show, in the store's order, kit first.
    QStringList selections() const
    {
        QStringList shown { kits()->currentText() };
        for (const QString& name : keyListsInStoreOrder)
            shown << list(name)->currentText();
        return shown;
    }

    void pickKey(const QString& listName, const QString& key) const
    {
        QComboBox* keys = list(listName);
        const int index = keys->findText(key);
        ASSERT_GE(index, 0) << key.toStdString();
        keys->setCurrentIndex(index);
    }

    // Opens the kit list's drop-down, moves to the kit and presses Return, as a user does.
    void pickKit(const QString& kit) const
    {
        ChoiceBox* box = kits();
        box->showPopup();
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(view->isVisible());
        view->setCurrentIndex(box->model()->index(box->findText(kit), 0));
        QTest::keyClick(view, Qt::Key_Return);
        QCoreApplication::processEvents();
        ASSERT_FALSE(view->isVisible());
    }

    void press(const QString& buttonName) const
    {
        QTest::mouseClick(button(buttonName), Qt::LeftButton);
    }

private:
    QPointer<Keys> window_;
};

// Stands in for the program's hook and counts the main windows asked for.
class MainWindowHook {
public:
    explicit MainWindowHook(std::function<void()> onOpen = {})
        : previous_(std::exchange(Keys::openMainWindow, [this, onOpen] {
            ++opened;
            if (onOpen)
                onOpen();
        }))
    {
    }
    ~MainWindowHook() { Keys::openMainWindow = previous_; }
    MainWindowHook(const MainWindowHook&) = delete;
    MainWindowHook& operator=(const MainWindowHook&) = delete;

    int opened = 0;

private:
    std::function<void()> previous_;
};

// The columns in which something darker than the background is drawn inside the area.
std::pair<int, int> inkColumns(const QImage& image, const QRect& area)
{
    int left = -1, right = -1;
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if (qGray(image.pixel(x, y)) < 110) {
                if (left < 0)
                    left = x;
                right = x;
                break;
            }
        }
    }
    return { left, right };
}

QList<Keys*> visibleKeysWindows()
{
    QList<Keys*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* keys = qobject_cast<Keys*>(widget); keys && keys->isVisible())
            found << keys;
    }
    return found;
}

QImage flatPicture(QRgb colour)
{
    QImage picture(502, 314, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

} // namespace

TEST(KeysWindow, IsAFixedFramelessWindowCentredOnTheScreen)
{
    OpenKeys keys;
    Keys* window = keys.window();
    EXPECT_EQ(window->windowTitle(), "Tamborel");
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->size(), QSize(487, 302));
    EXPECT_EQ(window->minimumSize(), QSize(487, 302));
    EXPECT_EQ(window->maximumSize(), QSize(487, 302));
    EXPECT_EQ(window->layout(), nullptr);
    const QPoint offCentre
        = window->geometry().center() - window->screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();
    EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST(KeysWindow, EveryComponentHasItsTextAndBounds)
{
    OpenKeys keys(false);
    const QList<std::tuple<QString, QString, QRect>> labels {
        { "title", "Configure Drums", { 177, 7, 180, 22 } },
        { "jLabel1", "Select drum set", { 154, 224, 95, 17 } },
        { "jLabel2", "Bass Drum", { 10, 50, 80, 14 } },
        { "jLabel3", "Snare Drum", { 10, 76, 80, 14 } },
        { "jLabel4", "High Tom", { 10, 100, 80, 14 } },
        { "jLabel5", "Medium Tom", { 10, 125, 80, 14 } },
        { "jLabel6", "Floor Tom", { 10, 151, 80, 14 } },
        { "jLabel7", "Closed Hi Hat", { 10, 177, 80, 14 } },
        { "jLabel8", "Open Hi Hat", { 281, 50, 70, 14 } },
        { "jLabel9", "Ride", { 281, 76, 60, 14 } },
        { "jLabel10", "Ride Cup", { 281, 102, 70, 14 } },
        { "jLabel11", "Crash", { 281, 128, 60, 14 } },
        { "jLabel12", "China", { 281, 154, 60, 14 } },
        { "jLabel13", "Splash", { 281, 180, 60, 14 } },
        { "jLabel14", "", { 0, 0, 490, 310 } },
    };
    for (const auto& [name, text, bounds] : labels) {
        auto* label = part<QLabel>(keys.window(), name);
        EXPECT_EQ(label->text(), text) << name.toStdString();
        EXPECT_EQ(label->geometry(), bounds) << name.toStdString();
    }
    EXPECT_EQ(keys.button("saveAndClose")->text(), "Save and Close");
    EXPECT_EQ(keys.button("saveAndClose")->geometry(), QRect(228, 268, 140, 23));
    EXPECT_EQ(keys.button("reset")->text(), "Reset");
    EXPECT_EQ(keys.button("reset")->geometry(), QRect(154, 268, 68, 23));
    EXPECT_EQ(keys.kits()->geometry(), QRect(259, 221, 100, 23));

    const QList<std::pair<QString, QPoint>> lists {
        { "bassDrumKey1", { 92, 47 } },
        { "bassDrumKey2", { 148, 47 } },
        { "snareDrumKey1", { 92, 73 } },
        { "snareDrumKey2", { 148, 73 } },
        { "highTomKey1", { 92, 99 } },
        { "highTomKey2", { 148, 99 } },
        { "mediumTomKey1", { 92, 125 } },
        { "mediumTomKey2", { 148, 125 } },
        { "floorTomKey1", { 92, 151 } },
        { "floorTomKey2", { 148, 151 } },
        { "closedHiHatKey1", { 92, 177 } },
        { "closedHiHatKey2", { 148, 177 } },
        { "openHiHatKey1", { 357, 47 } },
        { "openHiHatKey2", { 413, 47 } },
        { "rideKey1", { 357, 73 } },
        { "rideKey2", { 413, 73 } },
        { "rideCupKey1", { 357, 99 } },
        { "rideCupKey2", { 413, 99 } },
        { "crashKey1", { 357, 125 } },
        { "crashKey2", { 413, 125 } },
        { "chinaKey1", { 357, 151 } },
        { "chinaKey2", { 413, 151 } },
        { "splashKey1", { 357, 177 } },
        { "splashKey2", { 413, 177 } },
    };
    for (const auto& [name, at] : lists)
        EXPECT_EQ(keys.list(name)->geometry(), QRect(at, QSize(50, 20))) << name.toStdString();
}

TEST(KeysWindow, TitleAndKitRowUseTahomaAtPixelSizesTheRestTheLooksFont)
{
    OpenKeys keys(false);
    const QFont title = part(keys.window(), "title")->font();
    EXPECT_EQ(title.pixelSize(), 18);
    EXPECT_TRUE(title.bold());
    for (const QString name : { "jLabel1", "drumFolderbox" }) {
        const QFont font = part(keys.window(), name)->font();
        EXPECT_EQ(font.pixelSize(), 14) << name.toStdString();
        EXPECT_FALSE(font.bold()) << name.toStdString();
        EXPECT_EQ(font.family(), title.family()) << name.toStdString();
    }
    QStringList ownFont;
    for (QWidget* child : keys.window()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->testAttribute(Qt::WA_SetFont))
            ownFont << child->objectName();
    }
    ownFont.sort();
    EXPECT_EQ(ownFont, QStringList({ "drumFolderbox", "jLabel1", "title" }));
}

TEST(KeysWindow, ComponentsAreAddedInOrderAboveTheBackground)
{
    OpenKeys keys;
    QStringList stacking;
    for (QObject* child : keys.window()->children()) {
        if (child->isWidgetType())
            stacking << child->objectName();
    }
    // Bottom first: the background, then everything in the order it was added.
    EXPECT_EQ(stacking,
        QStringList({ "jLabel14", "title", "saveAndClose", "reset", "jLabel2", "jLabel3", "jLabel4",
            "jLabel5", "jLabel6", "jLabel7", "jLabel8", "jLabel9", "jLabel10", "jLabel11",
            "jLabel12", "jLabel13", "bassDrumKey1", "snareDrumKey1", "highTomKey1", "mediumTomKey1",
            "floorTomKey1", "closedHiHatKey1", "openHiHatKey1", "rideKey1", "crashKey1",
            "rideCupKey1", "chinaKey1", "splashKey1", "bassDrumKey2", "snareDrumKey2",
            "highTomKey2", "mediumTomKey2", "floorTomKey2", "closedHiHatKey2", "openHiHatKey2",
            "rideKey2", "rideCupKey2", "crashKey2", "chinaKey2", "splashKey2", "jLabel1",
            "drumFolderbox" }));
    EXPECT_EQ(keys.window()->childAt(5, 250), part(keys.window(), "jLabel14"));
    EXPECT_EQ(keys.window()->childAt(100, 57), keys.list("bassDrumKey1"));
    EXPECT_EQ(keys.window()->childAt(300, 230), keys.kits());
}

TEST(KeysWindow, EveryKeyListOffersItsOwnCopyOfTheThirtyFourKeys)
{
    OpenKeys keys(false);
    std::set<const QAbstractItemModel*> models;
    for (const QString& name : keyListsInStoreOrder) {
        QComboBox* list = keys.list(name);
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        EXPECT_EQ(items, keyItems) << name.toStdString();
        EXPECT_FALSE(list->isEditable()) << name.toStdString();
        EXPECT_EQ(list->maxVisibleItems(), QComboBox().maxVisibleItems()) << name.toStdString();
        models.insert(list->model());
    }
    EXPECT_EQ(models.size(), 24u);

    // Picking in one list leaves the others alone.
    keys.pickKey("bassDrumKey1", "/");
    EXPECT_EQ(keys.list("bassDrumKey1")->currentText(), "/");
    EXPECT_EQ(keys.list("bassDrumKey2")->currentText(), "W");
}

TEST(KeysWindow, KitListOffersFourKitsAllVisibleAtOnce)
{
    OpenKeys keys(false);
    ChoiceBox* box = keys.kits();
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    EXPECT_EQ(items, kitItems);
    EXPECT_FALSE(box->isEditable());
    EXPECT_EQ(box->maxVisibleItems(), 4);
    EXPECT_NE(box->model(), keys.list("bassDrumKey1")->model());
}

TEST(KeysWindow, ShowsTheDefaultsOfAFreshStore)
{
    OpenKeys keys(false);
    EXPECT_EQ(keys.selections(), startUpValues);
}

TEST(KeysWindow, PreselectsTheStoreAndWritesNothingToIt)
{
    StoreGuard guard;
    DrumKeys::drumFolder = "metal";
    DrumKeys::bassDrumKey1v = "\\";
    DrumKeys::snareDrumKey2v = "'";
    DrumKeys::rideKey1v = "Q"; // one key for two drums
    DrumKeys::crashKey2v = "q"; // none of the items: the row's default stays
    DrumKeys::chinaKey1v = "F1";
    DrumKeys::splashKey2v = "";
    DrumKeys::splashKey1v = "/";
    const QStringList before = storeValues();

    OpenKeys keys;
    QStringList expected = startUpValues;
    expected[0] = "metal";
    expected[1] = "\\";
    expected[4] = "'";
    expected[15] = "Q";
    expected[23] = "/";
    EXPECT_EQ(keys.selections(), expected);
    EXPECT_EQ(storeValues(), before);

    // A later change of the store does not reach a window already built.
    DrumKeys::bassDrumKey1v = "M";
    EXPECT_EQ(keys.list("bassDrumKey1")->currentText(), "\\");
}

TEST(KeysWindow, UnknownStoredKitLeavesAcousticSelected)
{
    StoreGuard guard;
    for (const QString kit : { "Rock", "jazz", "", "custom " }) {
        DrumKeys::drumFolder = kit;
        OpenKeys keys(false);
        EXPECT_EQ(keys.kits()->currentText(), "acoustic") << kit.toStdString();
        EXPECT_EQ(DrumKeys::drumFolder, kit);
    }
}

TEST(KeysWindow, StoredCustomKitIsSelectedWithoutAReminder)
{
    StoreGuard guard;
    FakeDialogs dialogs;
    DrumKeys::drumFolder = "custom";
    OpenKeys keys;
    QCoreApplication::processEvents();
    EXPECT_EQ(keys.kits()->currentText(), "custom");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(KeysWindow, CloseRequestLeavesItOpenAndUnchanged)
{
    FakeDialogs dialogs;
    OpenKeys keys;
    keys.pickKey("floorTomKey2", "[");
    keys.pickKit("rock");
    const QStringList before = keys.selections();

    keys.window()->windowHandle()->close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(keys.window()->isVisible());
    EXPECT_FALSE(keys.window()->close());
    QCoreApplication::processEvents();
    EXPECT_TRUE(keys.window()->isVisible());
    EXPECT_EQ(keys.selections(), before);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(KeysWindow, BackgroundPictureSitsInsideABlackBevel)
{
    OpenKeys keys;
    auto* background = part<QLabel>(keys.window(), "jLabel14");
    EXPECT_EQ(background->pixmap().size(), QSize(502, 314));

    // A picture whose every pixel tells where it came from, and never black.
    QImage picture(502, 314, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, 20 + (x / 256) * 100 + (y / 256) * 50));
    }
    background->setPixmap(QPixmap::fromImage(picture));
    const QImage shot = background->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(490, 310));

    const QRgb black = qRgb(0, 0, 0);
    for (int y = 0; y < 310; ++y) {
        for (int x : { 0, 1, 488, 489 })
            ASSERT_EQ(shot.pixel(x, y), black) << x << "," << y;
    }
    for (int x = 0; x < 490; ++x) {
        for (int y : { 0, 1, 308, 309 })
            ASSERT_EQ(shot.pixel(x, y), black) << x << "," << y;
    }
    // The picture starts at the inner left edge and is centred in the 306 inner rows, so its
    // rows 4..309 show; the rest is cut off at the border.
    EXPECT_EQ(shot.pixel(2, 2), picture.pixel(0, 4));
    EXPECT_EQ(shot.pixel(2, 307), picture.pixel(0, 309));
    EXPECT_EQ(shot.pixel(487, 2), picture.pixel(485, 4));
    EXPECT_EQ(shot.pixel(300, 270), picture.pixel(298, 272));
}

TEST(KeysWindow, OnlyTheTopAndLeftBlackEdgesShowAndLabelsLetThePictureThrough)
{
    OpenKeys keys;
    const QRgb grey = qRgb(120, 150, 180);
    part<QLabel>(keys.window(), "jLabel14")->setPixmap(QPixmap::fromImage(flatPicture(grey)));
    const QImage shot = keys.window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(487, 302));
    const QRgb black = qRgb(0, 0, 0);
    for (int y = 0; y < 302; ++y) {
        EXPECT_EQ(shot.pixel(0, y), black) << y;
        EXPECT_EQ(shot.pixel(1, y), black) << y;
        EXPECT_EQ(shot.pixel(486, y), y < 2 ? black : grey) << y;
    }
    for (int x = 2; x < 487; ++x) {
        EXPECT_EQ(shot.pixel(x, 0), black) << x;
        EXPECT_EQ(shot.pixel(x, 1), black) << x;
        EXPECT_EQ(shot.pixel(x, 301), grey) << x;
    }
    // Beside the text of a label, the picture shows, not a background of the label's own.
    EXPECT_EQ(shot.pixel(355, 8), grey);
    EXPECT_EQ(shot.pixel(85, 52), grey);
    EXPECT_EQ(shot.pixel(338, 181), grey);
}

TEST(KeysWindow, KitNamesAreDrawnCentredInTheBoxAndTheDropDown)
{
    FakeDialogs dialogs;
    OpenKeys keys;
    ChoiceBox* box = keys.kits();

    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = false;
    option.subControls = QStyle::SC_All;
    const QRect field = box->style()->subControlRect(
        QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
    for (const QString kit : { "rock", "custom" }) {
        box->setCurrentIndex(box->findText(kit));
        const QImage closed = box->grab().toImage();
        const auto [left, right] = inkColumns(closed, field);
        ASSERT_GE(left, 0) << kit.toStdString();
        EXPECT_NEAR((left + right) / 2.0, field.center().x(), 2.5) << kit.toStdString();
        EXPECT_GT(left - field.left(), 10) << kit.toStdString();
    }

    box->showPopup();
    QAbstractItemView* view = box->view();
    ASSERT_TRUE(view->isVisible());
    view->setCurrentIndex(box->model()->index(0, 0));
    const QImage dropped = view->viewport()->grab().toImage();
    for (int row = 1; row < 4; ++row) {
        const QRect item = view->visualRect(box->model()->index(row, 0));
        const auto [left, right] = inkColumns(dropped, item);
        ASSERT_GE(left, 0) << row;
        EXPECT_NEAR((left + right) / 2.0, item.center().x(), 2.5) << row;
    }
    box->hidePopup();
}

TEST(KeysSaveAndClose, StoresEveryChoiceEvenDuplicatesHidesTheWindowAndOpensOneMainWindow)
{
    StoreGuard guard;
    FakeDialogs dialogs;
    auto keys = std::make_unique<OpenKeys>();
    QStringList atOpening;
    bool hiddenAtOpening = false;
    MainWindowHook hook([&] {
        atOpening = storeValues();
        hiddenAtOpening = !keys->window()->isVisible();
    });
    keys->pickKey("bassDrumKey2", "Q"); // both keys of one drum
    keys->pickKey("snareDrumKey1", "Z"); // China's second key too
    keys->pickKey("splashKey2", ";");
    keys->pickKey("rideCupKey1", "\\");
    keys->pickKit("metal");
    EXPECT_EQ(storeValues(), startUpValues);

    keys->press("saveAndClose");
    QStringList expected = startUpValues;
    expected[0] = "metal";
    expected[2] = "Q";
    expected[3] = "Z";
    expected[24] = ";";
    expected[17] = "\\";
    EXPECT_EQ(storeValues(), expected);
    EXPECT_EQ(hook.opened, 1);
    EXPECT_EQ(atOpening, expected);
    EXPECT_TRUE(hiddenAtOpening);
    EXPECT_FALSE(keys->window()->isVisible());
    EXPECT_TRUE(dialogs.shown.empty());

    // The window lets itself go; the next one shows what was saved.
    QPointer<Keys> saved = keys->window();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(saved.isNull());
    keys.reset();
    OpenKeys next;
    EXPECT_EQ(next.selections(), expected);
    EXPECT_EQ(hook.opened, 1);
}

TEST(KeysSaveAndClose, AfterResetStoresExactlyTheStartUpValues)
{
    StoreGuard guard;
    FakeDialogs dialogs;
    MainWindowHook hook;
    DrumKeys::drumFolder = "custom";
    for (std::size_t i = 1; i < storeFields().size(); ++i)
        *storeFields()[i] = i % 2 ? "/" : "M";
    const QStringList changed = storeValues();
    OpenKeys keys;
    EXPECT_EQ(keys.kits()->currentText(), "custom");

    QSignalSpy kitChoices(keys.kits(), &ChoiceBox::choiceMade);
    keys.press("reset");
    EXPECT_EQ(keys.selections(), startUpValues);
    EXPECT_EQ(kitChoices.count(), 1); // Reset's "acoustic" counts as a choice
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(storeValues(), changed);
    EXPECT_TRUE(keys.window()->isVisible());
    EXPECT_EQ(hook.opened, 0);

    keys.press("saveAndClose");
    EXPECT_EQ(storeValues(), startUpValues);
    EXPECT_EQ(hook.opened, 1);
}

TEST(KeysReset, LeavesTheStoreAloneAndTheWindowOpen)
{
    StoreGuard guard;
    FakeDialogs dialogs;
    MainWindowHook hook;
    OpenKeys keys;
    keys.pickKey("highTomKey1", "M");
    keys.pickKey("chinaKey1", "'");
    keys.pickKit("rock");
    keys.press("reset");
    keys.press("reset");
    EXPECT_EQ(keys.selections(), startUpValues);
    EXPECT_EQ(storeValues(), startUpValues);
    EXPECT_TRUE(keys.window()->isVisible());
    EXPECT_EQ(hook.opened, 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(KeysKitChoice, CustomPickedTwiceRemindsTwiceOtherKitsNever)
{
    StoreGuard guard;
    FakeDialogs dialogs;
    OpenKeys keys;
    QString selectedWhileOpen;
    dialogs.whileOpen
        = [&](const toolkit::DialogRequest&) { selectedWhileOpen = keys.kits()->currentText(); };

    keys.pickKit("custom");
    keys.pickKit("custom"); // already selected: still a choice
    ASSERT_EQ(dialogs.shown.size(), 2u);
    for (const toolkit::DialogRequest& reminder : dialogs.shown) {
        EXPECT_EQ(reminder.owner, keys.window());
        EXPECT_EQ(reminder.icon, toolkit::DialogIcon::Warning);
        EXPECT_EQ(reminder.title, "Tamborel");
        EXPECT_EQ(reminder.message, reminderText);
        EXPECT_EQ(reminder.standardButtons, toolkit::StandardButtons::Ok);
        EXPECT_TRUE(reminder.buttons.isEmpty());
    }
    EXPECT_EQ(selectedWhileOpen, "custom");

    for (const QString kit : { "rock", "metal", "acoustic", "acoustic" })
        keys.pickKit(kit);
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(keys.kits()->currentText(), "acoustic");
    EXPECT_EQ(storeValues(), startUpValues); // a kit choice is not saved
}

TEST(KeysKitChoice, MouseClickInTheDropDownRemindsOfCustom)
{
    FakeDialogs dialogs;
    OpenKeys keys;
    ChoiceBox* box = keys.kits();
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView* view = box->view();
    ASSERT_TRUE(view->isVisible());
    // The release of a click that came too soon after opening is not taken as a choice.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QRect custom = view->visualRect(box->model()->index(3, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, custom.center());
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(box->currentText(), "custom");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message, reminderText);
}

TEST(KeysKitChoice, ResetWhileCustomIsSelectedShowsNothing)
{
    FakeDialogs dialogs;
    OpenKeys keys;
    keys.pickKit("custom");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    keys.press("reset");
    EXPECT_EQ(keys.kits()->currentText(), "acoustic");
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST(KeysKitChoice, CancelledDropDownChangesNothingAndRemindsOfNothing)
{
    StoreGuard guard;
    FakeDialogs dialogs;
    DrumKeys::drumFolder = "custom";
    OpenKeys keys;
    ChoiceBox* box = keys.kits();
    QSignalSpy choices(box, &ChoiceBox::choiceMade);
    QSignalSpy cancels(box, &ChoiceBox::popupCanceled);

    box->showPopup();
    box->view()->setCurrentIndex(box->model()->index(1, 0));
    QTest::keyClick(box->view(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_FALSE(box->view()->isVisible());
    EXPECT_EQ(cancels.count(), 1);
    EXPECT_EQ(choices.count(), 0);
    EXPECT_EQ(box->currentText(), "custom");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(ChoiceBox, ReportsUserAndProgramChoicesButNotPlainSelections)
{
    ChoiceBox box;
    box.addItems(kitItems);
    QSignalSpy choices(&box, &ChoiceBox::choiceMade);
    box.setCurrentIndex(2);
    EXPECT_EQ(choices.count(), 0);
    box.choose(2); // the item already selected
    box.choose(0);
    EXPECT_EQ(choices.count(), 2);
    EXPECT_EQ(box.currentIndex(), 0);

    // Arrow keys on the closed box choose, as in the drop-down.
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.currentText(), "rock");
    EXPECT_EQ(choices.count(), 3);
}

TEST(ChoiceBox, TellsWhenItsDropDownOpensClosesAndIsCancelled)
{
    ChoiceBox box;
    box.addItems(kitItems);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QStringList heard;
    QObject::connect(&box, &ChoiceBox::popupWillBecomeVisible, [&] { heard << "visible"; });
    QObject::connect(&box, &ChoiceBox::popupWillBecomeInvisible, [&] { heard << "invisible"; });
    QObject::connect(&box, &ChoiceBox::popupCanceled, [&] { heard << "cancelled"; });
    QObject::connect(&box, &ChoiceBox::choiceMade, [&] { heard << "choice"; });

    box.showPopup();
    QTest::keyClick(box.view(), Qt::Key_Return); // the selected item again
    QCoreApplication::processEvents();
    EXPECT_EQ(heard, QStringList({ "visible", "invisible", "choice" }));

    heard.clear();
    box.showPopup();
    QTest::keyClick(box.view(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(heard, QStringList({ "visible", "invisible", "cancelled" }));

    // Closed from outside, without hidePopup.
    heard.clear();
    box.showPopup();
    box.view()->window()->hide();
    QCoreApplication::processEvents();
    EXPECT_EQ(heard, QStringList({ "visible", "invisible", "cancelled" }));
    EXPECT_EQ(box.currentText(), "acoustic");
}

TEST(KeysMain, ChoosesTheLookThenPostsOneConfigurationWindow)
{
    // "Nimbus" is there but will not install.
    class BrokenNimbus final : public toolkit::LookProvider {
    public:
        QList<toolkit::LookInfo> installedLooks() const override
        {
            return { { "Fusion", "Fusion" }, { "Nimbus", "broken.Nimbus" } };
        }
        void install(const QString& className) override
        {
            tried << className;
            throw toolkit::LookInstallError("cannot install " + className.toStdString());
        }
        QStringList tried;
    } looks;

    ASSERT_TRUE(visibleKeysWindows().isEmpty());
    LogCapture log;
    MainWindowHook hook;
    Keys::main({ "tamborel-keys", "--ignored" }, looks);
    EXPECT_EQ(looks.tried, QStringList({ "broken.Nimbus" }));
    EXPECT_TRUE(visibleKeysWindows().isEmpty()); // built on the event loop, not here

    QCoreApplication::processEvents();
    const QList<Keys*> windows = visibleKeysWindows();
    EXPECT_EQ(windows.size(), 1);
    QStringList otherWindows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && !qobject_cast<Keys*>(widget))
            otherWindows << widget->metaObject()->className();
    }
    EXPECT_TRUE(otherWindows.isEmpty()) << otherWindows.join(",").toStdString();
    EXPECT_EQ(hook.opened, 0);

    const auto entries = log.entriesIn("tamborel.Keys");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, QtWarningMsg);
    EXPECT_EQ(entries[0].message, "cannot install broken.Nimbus");
    qDeleteAll(windows);
}
