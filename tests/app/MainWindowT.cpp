#include "TestSupport.h"

#include "app/Main.h"
#include "bindings/DrumKeys.h"
#include "toolkit/Looks.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

using namespace testing_support;

namespace {

struct KeyLabel {
    const char* field;
    QString* binding;
    QRect bounds;
    QColor colour; // invalid: the look's own label colour
};

// The 24 key labels in the order they are made and added.
const std::vector<KeyLabel>& keyLabels()
{
    const QColor yellow(255, 255, 0), white(255, 255, 255);
    static const std::vector<KeyLabel> labels {
        { "jLabel3", &DrumKeys::highTomKey2v, { 260, 140, 22, 22 }, {} },
        { "jLabel4", &DrumKeys::highTomKey1v, { 230, 140, 30, 22 }, {} },
        { "jLabel5", &DrumKeys::crashKey1v, { 90, 110, 30, 22 }, {} },
        { "jLabel6", &DrumKeys::crashKey2v, { 170, 110, 22, 22 }, {} },
        { "jLabel7", &DrumKeys::openHiHatKey1v, { 90, 220, 30, 22 }, {} },
        { "jLabel8", &DrumKeys::openHiHatKey2v, { 90, 260, 22, 22 }, {} },
        { "jLabel9", &DrumKeys::mediumTomKey1v, { 320, 140, 20, 22 }, {} },
        { "jLabel10", &DrumKeys::mediumTomKey2v, { 360, 140, 22, 22 }, {} },
        { "jLabel11", &DrumKeys::floorTomKey1v, { 360, 240, 30, 22 }, {} },
        { "jLabel12", &DrumKeys::floorTomKey2v, { 410, 240, 22, 22 }, {} },
        { "jLabel13", &DrumKeys::rideCupKey1v, { 480, 100, 20, 22 }, {} },
        { "jLabel14", &DrumKeys::rideCupKey2v, { 480, 140, 22, 22 }, {} },
        { "jLabel15", &DrumKeys::splashKey1v, { 270, 50, 20, 22 }, yellow },
        { "jLabel16", &DrumKeys::splashKey2v, { 310, 50, 22, 22 }, yellow },
        { "jLabel17", &DrumKeys::chinaKey1v, { 460, 330, 20, 22 }, {} },
        { "jLabel18", &DrumKeys::chinaKey2v, { 510, 330, 22, 22 }, {} },
        { "jLabel19", &DrumKeys::bassDrumKey1v, { 230, 60, 30, 22 }, white },
        { "jLabel21", &DrumKeys::rideKey1v, { 440, 120, 30, 22 }, {} },
        { "jLabel20", &DrumKeys::bassDrumKey2v, { 350, 60, 22, 22 }, white },
        { "jLabel22", &DrumKeys::rideKey2v, { 520, 120, 22, 22 }, {} },
        { "jLabel23", &DrumKeys::snareDrumKey1v, { 200, 240, 20, 22 }, {} },
        { "jLabel24", &DrumKeys::snareDrumKey2v, { 240, 240, 22, 22 }, {} },
        { "jLabel25", &DrumKeys::closedHiHatKey1v, { 60, 240, 20, 22 }, {} },
        { "jLabel26", &DrumKeys::closedHiHatKey2v, { 120, 240, 22, 22 }, {} },
    };
    return labels;
}

QLabel* label(const QWidget& window, const char* field)
{
    auto* found = window.findChild<QLabel*>(QLatin1String(field));
    EXPECT_NE(found, nullptr) << field;
    return found;
}

QAction* action(const QWidget& window, const char* field)
{
    auto* found = window.findChild<QAction*>(QLatin1String(field));
    EXPECT_NE(found, nullptr) << field;
    return found;
}

QStringList menuTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* item : menu->actions())
        texts << item->text();
    return texts;
}

std::unique_ptr<Main> visibleWindow()
{
    auto window = std::make_unique<Main>();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}

} // namespace

TEST(MainWindow, KeyLabelsShowTheStoreInTheirColoursFontAndBounds)
{
    Main window;
    const QWidget* content = window.centralWidget();
    ASSERT_NE(content, nullptr);
    for (const KeyLabel& expected : keyLabels()) {
        SCOPED_TRACE(expected.field);
        QLabel* shown = label(window, expected.field);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->parentWidget(), content);
        EXPECT_EQ(shown->text(), *expected.binding);
        EXPECT_EQ(shown->geometry(), expected.bounds);
        EXPECT_EQ(shown->font().pixelSize(), 18);
        EXPECT_TRUE(shown->font().bold());
        EXPECT_EQ(shown->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        EXPECT_TRUE(shown->pixmap().isNull());
        const QColor colour = shown->palette().color(QPalette::WindowText);
        EXPECT_EQ(colour,
            expected.colour.isValid() ? expected.colour
                                      : content->palette().color(QPalette::WindowText));
    }
}

TEST(MainWindow, DefaultLabelsReadAsTheKitIsLaidOut)
{
    Main window;
    auto text = [&](const char* field) { return label(window, field)->text(); };
    EXPECT_EQ(QStringList({ text("jLabel15"), text("jLabel16") }), QStringList({ ",", "A" }));
    EXPECT_EQ(QStringList({ text("jLabel19"), text("jLabel20") }), QStringList({ "Q", "W" }));
    EXPECT_EQ(QStringList({ text("jLabel13"), text("jLabel14") }), QStringList({ "K", "J" }));
    EXPECT_EQ(QStringList({ text("jLabel17"), text("jLabel18") }), QStringList({ ".", "Z" }));
}

TEST(MainWindow, NoTwoKeyLabelsOverlap)
{
    Main window;
    QList<const QLabel*> shown; // every label over the picture, as the window placed it
    for (const QLabel* child :
        window.centralWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (child->objectName() != "jLabel2")
            shown << child;
    }
    ASSERT_EQ(shown.size(), 24);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << (shown[i]->objectName() + " " + shown[j]->objectName()).toStdString();
    }
}

TEST(MainWindow, PictureFillsTheContentAreaBeneathEveryLabel)
{
    Main window;
    const QWidget* content = window.centralWidget();
    QLabel* picture = label(window, "jLabel2");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(0, 0, 601, 441));
    EXPECT_TRUE(picture->text().isEmpty());
    EXPECT_EQ(picture->pixmap().size(), QSize(601, 441));
    EXPECT_EQ(content->size(), QSize(601, 441));

    // Children are stacked bottom first: the picture, then the 24 labels in the order added.
    QStringList stacking;
    for (const QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        stacking << child->objectName();
    QStringList expected { "jLabel2" };
    for (const KeyLabel& keyLabel : keyLabels())
        expected << keyLabel.field;
    EXPECT_EQ(stacking, expected);
}

TEST(MainWindow, FixedSizeTitleIconAndCentring)
{
    auto window = visibleWindow();
    EXPECT_EQ(window->windowTitle(), "Tamborel");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->windowIcon().availableSizes().value(0), QSize(32, 32));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->centralWidget()->geometry().size(), QSize(601, 441));
    EXPECT_EQ(window->height(), window->menuWidget()->height() + 441);

    window->resize(900, 700);
    EXPECT_EQ(window->size(), window->minimumSize());

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // Within the frame the window manager adds, which is not known before the window shows.
    EXPECT_LE((window->frameGeometry().center() - screen.center()).manhattanLength(), 4);
}

TEST(MainWindow, MenusHoldTheirItemsWithIconsAndNoShortcuts)
{
    Main window;
    const QMenuBar* bar = window.findChild<QMenuBar*>("menuBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(window.menuWidget(), bar);
    QStringList titles;
    for (const QAction* menu : bar->actions())
        titles << menu->text();
    EXPECT_EQ(titles, QStringList({ "Main", "Options" }));

    const auto* fileMenu = window.findChild<QMenu*>("fileMenu");
    const auto* helpMenu = window.findChild<QMenu*>("helpMenu");
    ASSERT_TRUE(fileMenu && helpMenu);
    EXPECT_EQ(menuTexts(fileMenu), QStringList({ "About", "Exit" }));
    EXPECT_EQ(menuTexts(helpMenu), QStringList({ "Always on Top", "Configure Drums" }));

    for (const char* field :
        { "aboutMenuItem", "exitMenuItem", "jCheckBoxMenuItem1", "jMenuItem1" }) {
        SCOPED_TRACE(field);
        const QAction* item = action(window, field);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->icon().availableSizes().value(0), QSize(16, 16));
        EXPECT_TRUE(item->shortcut().isEmpty());
    }
    const QAction* onTop = action(window, "jCheckBoxMenuItem1");
    EXPECT_TRUE(onTop->isCheckable());
    EXPECT_FALSE(onTop->isChecked());
    EXPECT_FALSE(action(window, "jMenuItem1")->isCheckable());
}

TEST(MainWindow, LabelsAreCopiedOnceWhenTheWindowIsBuilt)
{
    StoreGuard guard;
    Main older;
    DrumKeys::snareDrumKey1v = "V";
    DrumKeys::splashKey1v = "/";
    Main newer;
    EXPECT_EQ(label(older, "jLabel23")->text(), "E");
    EXPECT_EQ(label(older, "jLabel15")->text(), ",");
    EXPECT_EQ(label(newer, "jLabel23")->text(), "V");
    EXPECT_EQ(label(newer, "jLabel15")->text(), "/");
}

TEST(MainWindow, OnlyKeyPressesReachTheDispatcher)
{
    PlayerRecorder players;
    auto window = visibleWindow();
    QTest::keyRelease(window.get(), Qt::Key_Q);
    QKeyEvent typed(QEvent::KeyRelease, Qt::Key_W, Qt::NoModifier, "w");
    QApplication::sendEvent(window.get(), &typed);
    EXPECT_TRUE(players.started.empty());

    QTest::keyPress(window.get(), Qt::Key_Q);
    QTest::keyPress(window.get(), Qt::Key_Comma);
    QTest::keyPress(window.get(), Qt::Key_F);
    EXPECT_EQ(players.started,
        std::vector<QString>({ "./kits/acoustic/Bass.wav", "./kits/acoustic/Splash.wav" }));
}

TEST(MainWindow, TheKeypadsPeriodSlashAndCommaPlayNothing)
{
    StoreGuard guard;
    PlayerRecorder players;
    DrumKeys::snareDrumKey2v = "/";
    auto window = visibleWindow();
    for (Qt::Key key : { Qt::Key_Period, Qt::Key_Slash, Qt::Key_Comma })
        QTest::keyClick(window->windowHandle(), key, Qt::KeypadModifier);
    EXPECT_TRUE(players.started.empty());
    QTest::keyClick(window->windowHandle(), Qt::Key_Period);
    EXPECT_EQ(players.started, std::vector<QString>({ "./kits/acoustic/China.wav" }));
}

TEST(MainWindow, CloseBoxEndsTheProcessAtOnceWithoutAsking)
{
    ExitRecorder exits;
    FakeDialogs dialogs;
    auto window = visibleWindow();
    window->close();
    EXPECT_EQ(exits.statuses, std::vector<int>({ 0 }));
    EXPECT_TRUE(dialogs.shown.empty());
}
