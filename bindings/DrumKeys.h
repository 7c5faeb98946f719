#pragma once

#include <QString>

// The one process-wide set of key bindings and the current kit. Plain fields, read and
// assigned in place by both windows on the event thread.
struct DrumKeys {
    DrumKeys() = delete;

    // The kit every run starts with; the configuration window's Reset chooses it again.
    static constexpr const char* defaultKit = "acoustic";

    static inline QString drumFolder = QString::fromLatin1(defaultKit);

    // The 24 bindings, drum by drum, each drum's first key before its second. Every run starts
    // with the keys the drum table gives them, before main.
    static inline QString bassDrumKey1v;
    static inline QString bassDrumKey2v;
    static inline QString snareDrumKey1v;
    static inline QString snareDrumKey2v;
    static inline QString highTomKey1v;
    static inline QString highTomKey2v;
    static inline QString mediumTomKey1v;
    static inline QString mediumTomKey2v;
    static inline QString floorTomKey1v;
    static inline QString floorTomKey2v;
    static inline QString closedHiHatKey1v;
    static inline QString closedHiHatKey2v;
    static inline QString openHiHatKey1v;
    static inline QString openHiHatKey2v;
    static inline QString rideKey1v;
    static inline QString rideKey2v;
    static inline QString rideCupKey1v;
    static inline QString rideCupKey2v;
    static inline QString crashKey1v;
    static inline QString crashKey2v;
    static inline QString chinaKey1v;
    static inline QString chinaKey2v;
    static inline QString splashKey1v;
    static inline QString splashKey2v;
};
