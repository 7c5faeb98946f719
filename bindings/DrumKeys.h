#pragma once

#include <QString>
#include <array>

// The one process-wide set of key bindings and the current kit. Plain fields, read and
// assigned in place by both windows on the event thread; every run starts from these values.
struct DrumKeys {
    DrumKeys() = delete;

    // What every run starts with: the kit, and the 24 keys in drum order, each drum's first key
    // before its second. The configuration window's Reset puts its lists back to these keys.
    static constexpr const char* defaultKit = "acoustic";
    static constexpr std::array<const char*, 24> defaultKeys { "Q", "W", "E", "R", "T", "Y", "G",
        "H", "B", "N", "P", "X", "I", "C", "L", "M", "K", "J", "O", "U", ".", "Z", ",", "A" };

    static QString drumFolder;

    static QString bassDrumKey1v;
    static QString bassDrumKey2v;
    static QString snareDrumKey1v;
    static QString snareDrumKey2v;
    static QString highTomKey1v;
    static QString highTomKey2v;
    static QString mediumTomKey1v;
    static QString mediumTomKey2v;
    static QString floorTomKey1v;
    static QString floorTomKey2v;
    static QString closedHiHatKey1v;
    static QString closedHiHatKey2v;
    static QString openHiHatKey1v;
    static QString openHiHatKey2v;
    static QString rideKey1v;
    static QString rideKey2v;
    static QString rideCupKey1v;
    static QString rideCupKey2v;
    static QString crashKey1v;
    static QString crashKey2v;
    static QString chinaKey1v;
    static QString chinaKey2v;
    static QString splashKey1v;
    static QString splashKey2v;
};
