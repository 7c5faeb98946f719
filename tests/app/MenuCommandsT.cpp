#include "TestSupport.h"

#include "app/Main.h"
#include "config/Keys.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

using namespace testing_support;
using toolkit::DialogIcon;

namespace {

class MenuCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = new Main;
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }

    void TearDown() override
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void choose(const char* item)
    {
        auto* action = window->findChild<QAction*>(QLatin1String(item));
        ASSERT_NE(action, nullptr) << item;
        action->trigger();
    }

    static QList<QWidget*> visibleWindows()
    {
        QList<QWidget*> visible;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible())
                visible << widget;
        }
        return visible;
    }

    Main* window = nullptr;
    FakeDialogs dialogs;
    ExitRecorder exits;
    PlayerRecorder players;
};

} // namespace

TEST_F(MenuCommands, AboutShowsTwoLinesOwnedByTheWindow)
{
    choose("aboutMenuItem");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const auto& about = dialogs.shown[0];
    EXPECT_EQ(about.owner, window);
    EXPECT_EQ(about.icon, DialogIcon::Information);
    EXPECT_EQ(about.title, "Tamborel");
    EXPECT_TRUE(about.buttons.isEmpty());
    EXPECT_EQ(about.standardButtons, toolkit::StandardButtons::Ok);
    const QStringList lines = about.message.split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Tamborel by Kestrin.");
    EXPECT_TRUE(lines[1].startsWith("Write comments to "));
    EXPECT_TRUE(lines[1].endsWith("@example.org")) << lines[1].toStdString();
    EXPECT_TRUE(exits.statuses.empty());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MenuCommands, ExitAsksWithItsOwnButtonsAndTheFirstHoldingTheFocus)
{
    dialogs.answers = { 1 };
    choose("exitMenuItem");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const auto& question = dialogs.shown[0];
    EXPECT_EQ(question.owner, window);
    EXPECT_EQ(question.icon, DialogIcon::Question);
    EXPECT_EQ(question.title, "Tamborel");
    EXPECT_EQ(question.message, "Are you sure you wanna exit?");
    EXPECT_EQ(question.buttons, QStringList({ "Sorry, gotta run!", "No way! I wanna rock!" }));
    EXPECT_EQ(question.initialButton, 0);
}

TEST_F(MenuCommands, ExitEndsTheProcessOnlyOnSorryGottaRun)
{
    dialogs.answers = { 1, -1 };
    choose("exitMenuItem"); // "No way! I wanna rock!"
    choose("exitMenuItem"); // closed without a choice
    EXPECT_TRUE(exits.statuses.empty());
    EXPECT_TRUE(window->isVisible());
    QTest::keyPress(window, Qt::Key_Q);
    EXPECT_EQ(players.started.size(), 1u);

    dialogs.answers = { 0 };
    choose("exitMenuItem");
    EXPECT_EQ(exits.statuses, std::vector<int>({ 0 }));
}

TEST_F(MenuCommands, AlwaysOnTopFollowsTheCheckBoxAndKeepsTheWindowInPlace)
{
    const QPoint where = window->pos();
    auto* onTop = window->findChild<QAction*>("jCheckBoxMenuItem1");
    choose("jCheckBoxMenuItem1");
    EXPECT_TRUE(onTop->isChecked());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), where);

    choose("jCheckBoxMenuItem1");
    EXPECT_FALSE(onTop->isChecked());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), where);

    QTest::keyPress(window, Qt::Key_E);
    EXPECT_EQ(players.started, std::vector<QString>({ "./kits/acoustic/Snare.wav" }));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MenuCommands, ConfigureDrumsLeavesOnlyAConfigurationWindow)
{
    QPointer<Main> old(window);
    choose("jMenuItem1");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto visible = visibleWindows();
    ASSERT_EQ(visible.size(), 1);
    EXPECT_NE(qobject_cast<Keys*>(visible[0]), nullptr);
    EXPECT_TRUE(old.isNull()); // released: it is never shown again
    window = nullptr;
}
