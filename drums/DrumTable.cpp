#include "drums/DrumTable.h"

#include "bindings/DrumKeys.h"

namespace drums {

const std::array<Drum, drumCount>& drumTable()
{
    static const std::array<Drum, drumCount> table { {
        { "Bass Drum", &DrumKeys::bassDrumKey1v, &DrumKeys::bassDrumKey2v, "/Bass.wav" },
        { "Snare Drum", &DrumKeys::snareDrumKey1v, &DrumKeys::snareDrumKey2v, "/Snare.wav" },
        { "High Tom", &DrumKeys::highTomKey1v, &DrumKeys::highTomKey2v, "/Tom1.wav" },
        { "Medium Tom", &DrumKeys::mediumTomKey1v, &DrumKeys::mediumTomKey2v, "/Tom2.wav" },
        { "Floor Tom", &DrumKeys::floorTomKey1v, &DrumKeys::floorTomKey2v, "/FloorTom.wav" },
        { "Closed Hi Hat", &DrumKeys::closedHiHatKey1v, &DrumKeys::closedHiHatKey2v, "/HiHat.wav" },
        { "Open Hi Hat", &DrumKeys::openHiHatKey1v, &DrumKeys::openHiHatKey2v, "/OHiHat.wav" },
        { "Ride", &DrumKeys::rideKey1v, &DrumKeys::rideKey2v, "/Ride.wav" },
        { "Ride Cup", &DrumKeys::rideCupKey1v, &DrumKeys::rideCupKey2v, "/RideCup.wav" },
        { "Crash", &DrumKeys::crashKey1v, &DrumKeys::crashKey2v, "/Crash.wav" },
        { "China", &DrumKeys::chinaKey1v, &DrumKeys::chinaKey2v, "/China.wav" },
        { "Splash", &DrumKeys::splashKey1v, &DrumKeys::splashKey2v, "/Splash.wav" },
    } };
    return table;
}

QString samplePath(const Drum& drum)
{
    return QStringLiteral("./kits/") + DrumKeys::drumFolder + QLatin1String(drum.sampleFile);
}

} // namespace drums
