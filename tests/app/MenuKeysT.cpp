// The keyboard in the main window, as the platform delivers it: every key press reaches the
// kit whatever modifiers are held, and the menus open only with keys that play nothing.
#include "TestSupport.h"

#include "app/Main.h"
#include "bindings/DrumKeys.h"
#include "drums/KeyCodes.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

using namespace testing_support;

namespace {

// The key the platform reports for a key item pressed with Shift held.
int shifted(int plain)
{
    for (const auto& [key, withShift] : usPunctuationKeys()) {
        if (key == plain)
            return withShift;
    }
    return plain; // a letter
}

class MenuKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<Main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        bar = window->findChild<QMenuBar*>("menuBar");
        fileMenu = window->findChild<QMenu*>("fileMenu");
        helpMenu = window->findChild<QMenu*>("helpMenu");
        ASSERT_TRUE(bar && fileMenu && helpMenu);
    }

    void TearDown() override
    {
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }

    // Pressed and released through the window's platform window, as a real keyboard is: the
    // shortcut map, open menus and the keyboard focus all have their say.
    void click(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window->windowHandle(), Qt::Key(key), modifiers);
    }

    bool kitHasTheKeyboard() const
    {
        return !QApplication::activePopupWidget() && QApplication::focusWidget() == window.get();
    }

    StoreGuard guard;
    PlayerRecorder players;
    FakeDialogs dialogs; // a wrong item chosen answers at once instead of waiting for a user
    ExitRecorder exits;
    std::unique_ptr<Main> window;
    QMenuBar* bar = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* helpMenu = nullptr;
};

} // namespace

TEST_F(MenuKeys, EveryKeyPlaysWithAnyModifiersHeldAndOpensNoMenu)
{
    const Qt::KeyboardModifier single[]
        = { Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier };
    for (const QString& item : drums::keyItems()) {
        DrumKeys::bassDrumKey1v = item; // the first binding tested: it wins over any other
        const int plain = drums::bindingCode(item);
        for (int set = 0; set < 16; ++set) {
            Qt::KeyboardModifiers modifiers;
            for (int bit = 0; bit < 4; ++bit) {
                if (set & (1 << bit))
                    modifiers |= single[bit];
            }
            const int key = modifiers.testFlag(Qt::ShiftModifier) ? shifted(plain) : plain;
            SCOPED_TRACE(
                QKeySequence(QKeyCombination(modifiers, Qt::Key(key))).toString().toStdString());
            players.started.clear();
            click(key, modifiers);
            ASSERT_EQ(players.started, std::vector<QString>({ "./kits/acoustic/Bass.wav" }));
            ASSERT_TRUE(kitHasTheKeyboard());
        }
    }
}

TEST_F(MenuKeys, ALoneAltGivesTheMenusTheKeyboardAndHThenOpensOptions)
{
    click(Qt::Key_Alt);
    EXPECT_EQ(QApplication::focusWidget(), bar);
    EXPECT_EQ(bar->activeAction(), fileMenu->menuAction());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    click(Qt::Key_H);
    EXPECT_EQ(QApplication::activePopupWidget(), helpMenu);
    click(Qt::Key_Down);
    click(Qt::Key_Return);
    EXPECT_TRUE(window->findChild<QAction*>("jCheckBoxMenuItem1")->isChecked());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(players.started.empty()); // neither Alt nor the mnemonic played the H drum

    // The kit has the keyboard back.
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(kitHasTheKeyboard());
    click(Qt::Key_H);
    EXPECT_EQ(players.started, std::vector<QString>({ "./kits/acoustic/Tom2.wav" }));
}

TEST_F(MenuKeys, F10OpensMainAndHOrRightMovesToOptions)
{
    click(Qt::Key_F10);
    EXPECT_EQ(QApplication::activePopupWidget(), fileMenu);
    click(Qt::Key_H);
    EXPECT_EQ(QApplication::activePopupWidget(), helpMenu);
    click(Qt::Key_Left);
    EXPECT_EQ(QApplication::activePopupWidget(), fileMenu);
    click(Qt::Key_Right);
    EXPECT_EQ(QApplication::activePopupWidget(), helpMenu);
    EXPECT_TRUE(players.started.empty());

    click(Qt::Key_Escape);
    click(Qt::Key_Escape);
    EXPECT_TRUE(kitHasTheKeyboard());
    click(Qt::Key_Q);
    EXPECT_EQ(players.started, std::vector<QString>({ "./kits/acoustic/Bass.wav" }));
}
