#include "TestSupport.h"

#include "bindings/DrumKeys.h"
#include "drums/DrumTable.h"
#include "drums/KeyCodes.h"
#include "drums/KeyDispatch.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

QStringList storeValues()
{
    QStringList values;
    for (QString* field : storeFields())
        values << *field;
    return values;
}

// A key press as Qt delivers it.
const drums::Drum* press(
    int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
{
    QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, QString(), autoRepeat);
    return drums::dispatchKey(drums::keyCodeOf(event));
}

} // namespace

TEST(DrumKeysStore, StartsWithAcousticAndTheDefaultKeysInDeclarationOrder)
{
    EXPECT_EQ(storeValues(),
        QStringList({ "acoustic", "Q", "W", "E", "R", "T", "Y", "G", "H", "B", "N", "P", "X", "I",
            "C", "L", "M", "K", "J", "O", "U", ".", "Z", ",", "A" }));
}

TEST(DrumTable, ListsTheTwelveDrumsInOrderWithTheirExactFileNames)
{
    QStringList names, files;
    for (const drums::Drum& drum : drums::drumTable()) {
        names << drum.name;
        files << drum.sampleFile;
    }
    EXPECT_EQ(names,
        QStringList({ "Bass Drum", "Snare Drum", "High Tom", "Medium Tom", "Floor Tom",
            "Closed Hi Hat", "Open Hi Hat", "Ride", "Ride Cup", "Crash", "China", "Splash" }));
    EXPECT_EQ(files,
        QStringList({ "/Bass.wav", "/Snare.wav", "/Tom1.wav", "/Tom2.wav", "/FloorTom.wav",
            "/HiHat.wav", "/OHiHat.wav", "/Ride.wav", "/RideCup.wav", "/Crash.wav", "/China.wav",
            "/Splash.wav" }));
}

TEST(DrumTable, SamplePathJoinsKitAndFileAsTheyAre)
{
    StoreGuard guard;
    const auto& table = drums::drumTable();
    EXPECT_EQ(drums::samplePath(table[0]), "./kits/acoustic/Bass.wav");
    EXPECT_EQ(drums::samplePath(table[11]), "./kits/acoustic/Splash.wav");
    DrumKeys::drumFolder = "custom";
    EXPECT_EQ(drums::samplePath(table[4]), "./kits/custom/FloorTom.wav");
    // Nothing is trimmed, added or changed in case.
    DrumKeys::drumFolder = " Rock/";
    EXPECT_EQ(drums::samplePath(table[6]), "./kits/ Rock//OHiHat.wav");
}

TEST(KeyCodes, BindingCodeIsThePolynomialHashOfTheText)
{
    EXPECT_EQ(drums::bindingCode("Q"), 81);
    EXPECT_EQ(drums::bindingCode("."), 46);
    EXPECT_EQ(drums::bindingCode(","), 44);
    EXPECT_EQ(drums::bindingCode(""), 0);
    EXPECT_EQ(drums::bindingCode("AB"), 31 * 65 + 66);
    // Long texts wrap modulo 2^32 like a 32-bit signed int.
    EXPECT_EQ(drums::bindingCode("polygenelubricants"), static_cast<std::int32_t>(0x80000000u));
}

TEST(KeyCodes, EveryKeyItemPressedWithOrWithoutShiftGivesItsBindingCode)
{
    const auto& qtKeys = usPunctuationKeys();
    const QStringList& items = drums::keyItems();
    ASSERT_EQ(items.size(), 34);
    int punctuation = 0;
    for (const QString& item : items) {
        const int code = drums::bindingCode(item);
        if (item[0].isLetter()) {
            EXPECT_EQ(drums::keyCodeOf(code, Qt::NoModifier), code) << item.toStdString();
            EXPECT_EQ(drums::keyCodeOf(code, Qt::ShiftModifier), code) << item.toStdString();
            continue;
        }
        const auto& [plain, shifted] = qtKeys[punctuation++];
        EXPECT_EQ(drums::keyCodeOf(plain, Qt::NoModifier), code) << item.toStdString();
        EXPECT_EQ(drums::keyCodeOf(shifted, Qt::ShiftModifier), code) << item.toStdString();
    }
    EXPECT_EQ(std::size_t(punctuation), qtKeys.size());
}

TEST(KeyCodes, ShiftedSymbolsKeepTheirCodeWithoutShift)
{
    // A layout with a key of its own for "<" must not play the comma's drum.
    EXPECT_EQ(drums::keyCodeOf(Qt::Key_Less, Qt::NoModifier), Qt::Key_Less);
    EXPECT_EQ(drums::keyCodeOf(Qt::Key_F, Qt::ShiftModifier), Qt::Key_F);
}

TEST(KeyDispatch, DefaultKeysPlayTheirDrumsFromTheCurrentKit)
{
    StoreGuard guard;
    PlayerRecorder players;
    press(Qt::Key_Q);
    press(Qt::Key_W);
    press(Qt::Key_Period);
    press(Qt::Key_Comma);
    press(Qt::Key_Q, Qt::ShiftModifier);
    press(Qt::Key_Less, Qt::ShiftModifier);
    EXPECT_EQ(players.started,
        std::vector<QString>({ "./kits/acoustic/Bass.wav", "./kits/acoustic/Bass.wav",
            "./kits/acoustic/China.wav", "./kits/acoustic/Splash.wav", "./kits/acoustic/Bass.wav",
            "./kits/acoustic/Splash.wav" }));
}

TEST(KeyDispatch, TheKeypadsKeysPlayNothingEvenWhenTheMainKeyboardsDo)
{
    StoreGuard guard;
    PlayerRecorder players;
    DrumKeys::snareDrumKey2v = "/"; // "." and "," are bound already
    const int keypad[] = { Qt::Key_Period, Qt::Key_Slash, Qt::Key_Comma, Qt::Key_Asterisk,
        Qt::Key_Minus, Qt::Key_Plus, Qt::Key_Enter, Qt::Key_0, Qt::Key_5, Qt::Key_9 };
    for (int key : keypad) {
        for (Qt::KeyboardModifiers modifiers :
            { Qt::KeyboardModifiers(Qt::KeypadModifier), Qt::KeypadModifier | Qt::ShiftModifier }) {
            EXPECT_EQ(press(key, modifiers), nullptr) << key << " " << modifiers.toInt();
            for (const QString& item : drums::keyItems())
                EXPECT_NE(drums::keyCodeOf(key, modifiers), drums::bindingCode(item));
        }
    }
    EXPECT_TRUE(players.started.empty());

    press(Qt::Key_Period);
    press(Qt::Key_Slash);
    press(Qt::Key_Comma);
    EXPECT_EQ(players.started,
        std::vector<QString>({ "./kits/acoustic/China.wav", "./kits/acoustic/Snare.wav",
            "./kits/acoustic/Splash.wav" }));
}

TEST(KeyDispatch, UnboundKeysAndModifiersAlonePlayNothing)
{
    PlayerRecorder players;
    EXPECT_EQ(press(Qt::Key_F), nullptr);
    EXPECT_EQ(press(Qt::Key_Shift, Qt::ShiftModifier), nullptr);
    EXPECT_EQ(press(Qt::Key_Space), nullptr);
    EXPECT_TRUE(players.started.empty());
}

TEST(KeyDispatch, EveryDefaultBindingPlaysItsOwnDrum)
{
    PlayerRecorder players;
    for (const drums::Drum& drum : drums::drumTable()) {
        for (const QString* binding : { drum.key1, drum.key2 }) {
            const drums::Drum* played = drums::dispatchKey(drums::bindingCode(*binding));
            ASSERT_NE(played, nullptr) << binding->toStdString();
            EXPECT_STREQ(played->name, drum.name);
            EXPECT_EQ(players.started.back(), QString("./kits/acoustic") + drum.sampleFile);
        }
    }
    EXPECT_EQ(players.started.size(), 24u);
}

TEST(KeyDispatch, AKeyBoundToTwoDrumsPlaysOnlyTheFirstInDrumOrder)
{
    StoreGuard guard;
    PlayerRecorder players;
    DrumKeys::snareDrumKey1v = "Z"; // Z also stays the China's second key
    press(Qt::Key_Z);
    EXPECT_EQ(players.started, std::vector<QString>({ "./kits/acoustic/Snare.wav" }));
    DrumKeys::splashKey1v = "A"; // both splash bindings on A: still one player
    players.started.clear();
    press(Qt::Key_A);
    EXPECT_EQ(players.started.size(), 1u);
}

TEST(KeyDispatch, AKitChangeAppliesToTheNextPress)
{
    StoreGuard guard;
    PlayerRecorder players;
    press(Qt::Key_E);
    DrumKeys::drumFolder = "metal";
    press(Qt::Key_E);
    DrumKeys::drumFolder = "rock";
    press(Qt::Key_I);
    press(Qt::Key_C);
    EXPECT_EQ(players.started,
        std::vector<QString>({ "./kits/acoustic/Snare.wav", "./kits/metal/Snare.wav",
            "./kits/rock/OHiHat.wav", "./kits/rock/OHiHat.wav" }));
}

TEST(KeyDispatch, EveryAutoRepeatedPressStartsOnePlayer)
{
    PlayerRecorder players;
    press(Qt::Key_P);
    for (int i = 0; i < 9; ++i)
        press(Qt::Key_P, Qt::NoModifier, true);
    EXPECT_EQ(players.started.size(), 10u);
}
