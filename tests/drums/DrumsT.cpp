#include "CountingNew.h"
#include "TestSupport.h"

#include "bindings/DrumKeys.h"
#include "drums/DrumTable.h"
#include "drums/KeyCodes.h"
#include "drums/KeyDispatch.h"
#include "midi/MidiDispatch.h"
#include "midi/MidiParser.h"
#include "midi/NoteMap.h"
#include "midi/NoteQueue.h"

#include <QKeyEvent>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

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
        for (const drums::Binding& key : drum.keys) {
            const drums::Drum* played = drums::dispatchKey(drums::bindingCode(*key.stored));
            ASSERT_NE(played, nullptr) << key.stored->toStdString();
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

namespace {

// The notes a byte stream holds, as (channel, note, velocity).
std::vector<std::tuple<int, int, int>> notesIn(
    std::vector<std::uint8_t> bytes, midi::MidiParser& parser)
{
    std::vector<std::tuple<int, int, int>> notes;
    parser.feed(bytes.data(), bytes.size(),
        [&](const midi::NoteOn& n) { notes.emplace_back(n.channel, n.note, n.velocity); });
    return notes;
}

} // namespace

TEST(MidiNotes, TheGeneralMidiDrumNotesPlayTheirDrumsAndNoOtherNotePlays)
{
    const std::vector<std::pair<std::vector<int>, const char*>> map { { { 35, 36 }, "Bass Drum" },
        { { 37, 38, 39, 40 }, "Snare Drum" }, { { 48, 50 }, "High Tom" },
        { { 45, 47 }, "Medium Tom" }, { { 41, 43 }, "Floor Tom" }, { { 42, 44 }, "Closed Hi Hat" },
        { { 46 }, "Open Hi Hat" }, { { 51, 59 }, "Ride" }, { { 53 }, "Ride Cup" },
        { { 49, 57 }, "Crash" }, { { 52 }, "China" }, { { 55 }, "Splash" } };
    int mapped = 0;
    for (const auto& [notes, name] : map) {
        for (const int note : notes) {
            const drums::Drum* drum = midi::drumForNote(note);
            ASSERT_NE(drum, nullptr) << note;
            EXPECT_STREQ(drum->name, name) << note;
            ++mapped;
        }
    }
    int playing = 0;
    for (int note = -1; note <= 128; ++note)
        playing += midi::drumForNote(note) != nullptr;
    EXPECT_EQ(playing, mapped) << "every other note plays nothing";
}

TEST(MidiNotes, VelocityIsAGainThatRisesWithItAndLeaves127AsItIs)
{
    EXPECT_EQ(midi::velocityGainDb(127), 0.0f) << "as a key press plays it";
    float before = -1000.0f;
    for (int velocity = 1; velocity <= 127; ++velocity) {
        const float db = midi::velocityGainDb(velocity);
        EXPECT_GT(db, before) << velocity;
        EXPECT_LE(db, 0.0f) << velocity;
        before = db;
    }
    EXPECT_GE(midi::velocityGainDb(1), -40.5f) << "a ghost note is still heard";
    EXPECT_NEAR(midi::velocityGainDb(64), -11.7f, 0.2f) << "half the velocity, a quarter the level";
}

TEST(MidiNotes, TheParserFindsNoteOnsThroughRunningStatusExclusivesAndRealTimeBytes)
{
    midi::MidiParser parser;
    using Notes = std::vector<std::tuple<int, int, int>>;
    // Running status: one status byte for three notes, the second of velocity 0 (a note-off).
    EXPECT_EQ(notesIn({ 0x99, 36, 100, 38, 0, 42, 64 }, parser),
        (Notes { { 9, 36, 100 }, { 9, 42, 64 } }));
    // A message split between two reads, with a clock byte in the middle of it.
    EXPECT_EQ(notesIn({ 0x90, 38 }, parser), Notes {});
    EXPECT_EQ(notesIn({ 0xF8, 90 }, parser), (Notes { { 0, 38, 90 } }));
    // Note-offs, controllers, programs, pitch bends and pressure play nothing, and the running
    // status is theirs afterwards.
    EXPECT_EQ(
        notesIn({ 0x89, 36, 64, 0xB9, 7, 100, 4, 5, 0xC9, 3, 0xE0, 0, 64, 0xD0, 20, 21 }, parser),
        Notes {});
    // Data bytes with no status before them; a system exclusive, which ends running status,
    // whose bytes would be a note under it, and data bytes after it; a status byte that cuts a
    // message short.
    midi::MidiParser fresh;
    EXPECT_EQ(
        notesIn(
            { 40, 50, 0x99, 36, 80, 0xF0, 36, 100, 0xF7, 38, 100, 0x92, 40, 0x93, 41, 70 }, fresh),
        (Notes { { 9, 36, 80 }, { 3, 41, 70 } }));
    // System common ends running status; song position's two data bytes are not a note.
    EXPECT_EQ(notesIn({ 0x99, 36, 80, 0xF2, 36, 80, 38, 80 }, fresh), (Notes { { 9, 36, 80 } }));
}

TEST(MidiNotes, TheQueueHandsNotesOverInOrderAndCountsWhatItDrops)
{
    static_assert(std::atomic<std::size_t>::is_always_lock_free, "no lock on the real-time side");
    midi::NoteQueue queue;
    const std::size_t burst = 1000; // a broken source: a thousand notes in one cycle
    std::size_t taken = 0;
    for (std::size_t i = 0; i < burst; ++i)
        taken += queue.push({ 9, static_cast<std::uint8_t>(i % 128), 100 });
    EXPECT_EQ(taken, midi::NoteQueue::capacity);
    EXPECT_EQ(queue.dropped(), burst - midi::NoteQueue::capacity);
    midi::NoteOn note;
    for (std::size_t i = 0; i < midi::NoteQueue::capacity; ++i) {
        ASSERT_TRUE(queue.pop(note));
        EXPECT_EQ(note.note, i % 128) << "oldest first";
    }
    EXPECT_FALSE(queue.pop(note));

    // What the real-time thread does with a cycle's bytes allocates nothing.
    midi::MidiParser parser;
    midi::NoteQueue handed;
    const std::uint8_t cycle[] { 0x99, 36, 100, 38, 90, 0xF8, 0xF0, 1, 2, 0xF7, 0x89, 36, 0 };
    testing_support::countAllocationsHere(true);
    for (int i = 0; i < 200; ++i)
        parser.feed(cycle, sizeof cycle, [&](const midi::NoteOn& n) { handed.push(n); });
    testing_support::countAllocationsHere(false);
    EXPECT_EQ(testing_support::takeCountedAllocations(), 0u);
    EXPECT_EQ(handed.dropped(), 400u - midi::NoteQueue::capacity);

    // One thread writes while another reads: every note arrives once, in order.
    midi::NoteQueue shared;
    constexpr int notes = 100000;
    std::thread writer([&] {
        for (int i = 0; i < notes;)
            if (shared.push({ 0, static_cast<std::uint8_t>(i % 128),
                    static_cast<std::uint8_t>(1 + i % 127) }))
                ++i;
    });
    int read = 0;
    while (read < notes) {
        if (!shared.pop(note))
            continue;
        ASSERT_EQ(note.note, read % 128) << read;
        ASSERT_EQ(note.velocity, 1 + read % 127) << read;
        ++read;
    }
    writer.join();
}

TEST(MidiNotes, ANoteStartsItsDrumFromTheCurrentKitAtItsVelocitysGain)
{
    StoreGuard guard;
    std::vector<std::pair<QString, float>> hits;
    midi::HitStarter before = midi::setHitStarter(
        [&](const QString& path, float gainDb) { hits.emplace_back(path, gainDb); });
    DrumKeys::drumFolder = "brushes";
    EXPECT_STREQ(midi::dispatchNote({ 9, 38, 127 })->name, "Snare Drum");
    EXPECT_STREQ(midi::dispatchNote({ 0, 49, 30 })->name, "Crash") << "on any channel";
    EXPECT_EQ(midi::dispatchNote({ 9, 60, 127 }), nullptr);
    midi::setHitStarter(std::move(before));
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].first, "./kits/brushes/Snare.wav");
    EXPECT_EQ(hits[0].second, 0.0f);
    EXPECT_EQ(hits[1].first, "./kits/brushes/Crash.wav");
    EXPECT_EQ(hits[1].second, midi::velocityGainDb(30));
}
