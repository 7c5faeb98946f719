#include "bindings/DrumKeys.h"

QString DrumKeys::drumFolder = QString::fromLatin1(defaultKit);

QString DrumKeys::bassDrumKey1v = QString::fromLatin1(defaultKeys[0]);
QString DrumKeys::bassDrumKey2v = QString::fromLatin1(defaultKeys[1]);
QString DrumKeys::snareDrumKey1v = QString::fromLatin1(defaultKeys[2]);
QString DrumKeys::snareDrumKey2v = QString::fromLatin1(defaultKeys[3]);
QString DrumKeys::highTomKey1v = QString::fromLatin1(defaultKeys[4]);
QString DrumKeys::highTomKey2v = QString::fromLatin1(defaultKeys[5]);
QString DrumKeys::mediumTomKey1v = QString::fromLatin1(defaultKeys[6]);
QString DrumKeys::mediumTomKey2v = QString::fromLatin1(defaultKeys[7]);
QString DrumKeys::floorTomKey1v = QString::fromLatin1(defaultKeys[8]);
QString DrumKeys::floorTomKey2v = QString::fromLatin1(defaultKeys[9]);
QString DrumKeys::closedHiHatKey1v = QString::fromLatin1(defaultKeys[10]);
QString DrumKeys::closedHiHatKey2v = QString::fromLatin1(defaultKeys[11]);
QString DrumKeys::openHiHatKey1v = QString::fromLatin1(defaultKeys[12]);
QString DrumKeys::openHiHatKey2v = QString::fromLatin1(defaultKeys[13]);
QString DrumKeys::rideKey1v = QString::fromLatin1(defaultKeys[14]);
QString DrumKeys::rideKey2v = QString::fromLatin1(defaultKeys[15]);
QString DrumKeys::rideCupKey1v = QString::fromLatin1(defaultKeys[16]);
QString DrumKeys::rideCupKey2v = QString::fromLatin1(defaultKeys[17]);
QString DrumKeys::crashKey1v = QString::fromLatin1(defaultKeys[18]);
QString DrumKeys::crashKey2v = QString::fromLatin1(defaultKeys[19]);
QString DrumKeys::chinaKey1v = QString::fromLatin1(defaultKeys[20]);
QString DrumKeys::chinaKey2v = QString::fromLatin1(defaultKeys[21]);
QString DrumKeys::splashKey1v = QString::fromLatin1(defaultKeys[22]);
QString DrumKeys::splashKey2v = QString::fromLatin1(defaultKeys[23]);
