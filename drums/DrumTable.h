#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>

namespace drums {

// The main window's label that shows a key over the picture: jLabel<number>, its bounds, and
// its own colour (none when invalid: the look's).
struct KeyLabel {
    int number;
    QRect bounds;
    QColor colour;
};

// The configuration window's list for a key: its name, and its corner (every list is 50 × 20).
struct KeyList {
    const char* name;
    QPoint at;
};

// One of a drum's two keys: the store's field that holds it, the key every run starts with,
// and where the two windows show it.
struct Binding {
    QString* stored;
    const char* defaultKey;
    KeyLabel label;
    KeyList list;
};

// One drum or cymbal of the kit: its shown name, the file of its sample inside a kit folder,
// where the configuration window writes its name, and its first and second key. Every drum
// plays unpanned.
struct Drum {
    const char* name;
    const char* sampleFile;
    QRect nameBounds;
    std::array<Binding, 2> keys;
};

inline constexpr std::size_t drumCount = 12;
inline constexpr std::size_t bindingCount = 2 * drumCount;

// A drum's place in the table.
enum class DrumIndex : signed char {
    bass,
    snare,
    highTom,
    mediumTom,
    floorTom,
    closedHiHat,
    openHiHat,
    ride,
    rideCup,
    crash,
    china,
    splash,
};

// The twelve drums in the order the whole program shares: the store declares the bindings in
// it, dispatch tests them in it and the configuration window lists the drums in it.
const std::array<Drum, drumCount>& drumTable();

// The 24 bindings in the store's order: drum by drum, each drum's first key before its second.
const std::array<const Binding*, bindingCount>& bindings();

// The binding the main window shows in jLabel<number>; nullptr for no key label.
const Binding* bindingWithLabel(int number);

// "./kits/" + the current kit + the drum's sample file, joined as they are.
QString samplePath(const Drum& drum);

} // namespace drums
