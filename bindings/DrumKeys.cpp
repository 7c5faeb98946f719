#include "bindings/DrumKeys.h"

QString DrumKeys::drumFolder = QStringLiteral("acoustic");

QString DrumKeys::bassDrumKey1v = QStringLiteral("Q");
QString DrumKeys::bassDrumKey2v = QStringLiteral("W");
QString DrumKeys::snareDrumKey1v = QStringLiteral("E");
QString DrumKeys::snareDrumKey2v = QStringLiteral("R");
QString DrumKeys::highTomKey1v = QStringLiteral("T");
QString DrumKeys::highTomKey2v = QStringLiteral("Y");
QString DrumKeys::mediumTomKey1v = QStringLiteral("G");
QString DrumKeys::mediumTomKey2v = QStringLiteral("H");
QString DrumKeys::floorTomKey1v = QStringLiteral("B");
QString DrumKeys::floorTomKey2v = QStringLiteral("N");
QString DrumKeys::closedHiHatKey1v = QStringLiteral("P");
QString DrumKeys::closedHiHatKey2v = QStringLiteral("X");
QString DrumKeys::openHiHatKey1v = QStringLiteral("I");
QString DrumKeys::openHiHatKey2v = QStringLiteral("C");
QString DrumKeys::rideKey1v = QStringLiteral("L");
QString DrumKeys::rideKey2v = QStringLiteral("M");
QString DrumKeys::rideCupKey1v = QStringLiteral("K");
QString DrumKeys::rideCupKey2v = QStringLiteral("J");
QString DrumKeys::crashKey1v = QStringLiteral("O");
QString DrumKeys::crashKey2v = QStringLiteral("U");
QString DrumKeys::chinaKey1v = QStringLiteral(".");
QString DrumKeys::chinaKey2v = QStringLiteral("Z");
QString DrumKeys::splashKey1v = QStringLiteral(",");
QString DrumKeys::splashKey2v = QStringLiteral("A");
