#include "drums/DrumTable.h"

#include "bindings/DrumKeys.h"

#include <algorithm>

namespace drums {

namespace {

constexpr QColor white(255, 255, 255);
constexpr QColor yellow(255, 255, 0);
constexpr QColor own; // the look's

// Each drum: its name, its sample file and its name's place in the configuration window; then
// each key: the store's field, the key every run starts with, the main window's label (number,
// bounds, colour) and the configuration window's list (name, corner).
constexpr std::array<Drum, drumCount> table { {
    { "Bass Drum", "/Bass.wav", { 10, 50, 80, 14 },
        { {
            { &DrumKeys::bassDrumKey1v, "Q", { 19, { 230, 60, 30, 22 }, white },
                { "bassDrumKey1", { 92, 47 } } },
            { &DrumKeys::bassDrumKey2v, "W", { 20, { 350, 60, 22, 22 }, white },
                { "bassDrumKey2", { 148, 47 } } },
        } } },
    { "Snare Drum", "/Snare.wav", { 10, 76, 80, 14 },
        { {
            { &DrumKeys::snareDrumKey1v, "E", { 23, { 200, 240, 20, 22 }, own },
                { "snareDrumKey1", { 92, 73 } } },
            { &DrumKeys::snareDrumKey2v, "R", { 24, { 240, 240, 22, 22 }, own },
                { "snareDrumKey2", { 148, 73 } } },
        } } },
    { "High Tom", "/Tom1.wav", { 10, 100, 80, 14 },
        { {
            { &DrumKeys::highTomKey1v, "T", { 4, { 230, 140, 30, 22 }, own },
                { "highTomKey1", { 92, 99 } } },
            { &DrumKeys::highTomKey2v, "Y", { 3, { 260, 140, 22, 22 }, own },
                { "highTomKey2", { 148, 99 } } },
        } } },
    { "Medium Tom", "/Tom2.wav", { 10, 125, 80, 14 },
        { {
            { &DrumKeys::mediumTomKey1v, "G", { 9, { 320, 140, 20, 22 }, own },
                { "mediumTomKey1", { 92, 125 } } },
            { &DrumKeys::mediumTomKey2v, "H", { 10, { 360, 140, 22, 22 }, own },
                { "mediumTomKey2", { 148, 125 } } },
        } } },
    { "Floor Tom", "/FloorTom.wav", { 10, 151, 80, 14 },
        { {
            { &DrumKeys::floorTomKey1v, "B", { 11, { 360, 240, 30, 22 }, own },
                { "floorTomKey1", { 92, 151 } } },
            { &DrumKeys::floorTomKey2v, "N", { 12, { 410, 240, 22, 22 }, own },
                { "floorTomKey2", { 148, 151 } } },
        } } },
    { "Closed Hi Hat", "/HiHat.wav", { 10, 177, 80, 14 },
        { {
            { &DrumKeys::closedHiHatKey1v, "P", { 25, { 60, 240, 20, 22 }, own },
                { "closedHiHatKey1", { 92, 177 } } },
            { &DrumKeys::closedHiHatKey2v, "X", { 26, { 120, 240, 22, 22 }, own },
                { "closedHiHatKey2", { 148, 177 } } },
        } } },
    { "Open Hi Hat", "/OHiHat.wav", { 281, 50, 70, 14 },
        { {
            { &DrumKeys::openHiHatKey1v, "I", { 7, { 90, 220, 30, 22 }, own },
                { "openHiHatKey1", { 357, 47 } } },
            { &DrumKeys::openHiHatKey2v, "C", { 8, { 90, 260, 22, 22 }, own },
                { "openHiHatKey2", { 413, 47 } } },
        } } },
    { "Ride", "/Ride.wav", { 281, 76, 60, 14 },
        { {
            { &DrumKeys::rideKey1v, "L", { 21, { 440, 120, 30, 22 }, own },
                { "rideKey1", { 357, 73 } } },
            { &DrumKeys::rideKey2v, "M", { 22, { 520, 120, 22, 22 }, own },
                { "rideKey2", { 413, 73 } } },
        } } },
    { "Ride Cup", "/RideCup.wav", { 281, 102, 70, 14 },
        { {
            { &DrumKeys::rideCupKey1v, "K", { 13, { 480, 100, 20, 22 }, own },
                { "rideCupKey1", { 357, 99 } } },
            { &DrumKeys::rideCupKey2v, "J", { 14, { 480, 140, 22, 22 }, own },
                { "rideCupKey2", { 413, 99 } } },
        } } },
    { "Crash", "/Crash.wav", { 281, 128, 60, 14 },
        { {
            { &DrumKeys::crashKey1v, "O", { 5, { 90, 110, 30, 22 }, own },
                { "crashKey1", { 357, 125 } } },
            { &DrumKeys::crashKey2v, "U", { 6, { 170, 110, 22, 22 }, own },
                { "crashKey2", { 413, 125 } } },
        } } },
    { "China", "/China.wav", { 281, 154, 60, 14 },
        { {
            { &DrumKeys::chinaKey1v, ".", { 17, { 460, 330, 20, 22 }, own },
                { "chinaKey1", { 357, 151 } } },
            { &DrumKeys::chinaKey2v, "Z", { 18, { 510, 330, 22, 22 }, own },
                { "chinaKey2", { 413, 151 } } },
        } } },
    { "Splash", "/Splash.wav", { 281, 180, 60, 14 },
        { {
            { &DrumKeys::splashKey1v, ",", { 15, { 270, 50, 20, 22 }, yellow },
                { "splashKey1", { 357, 177 } } },
            { &DrumKeys::splashKey2v, "A", { 16, { 310, 50, 22, 22 }, yellow },
                { "splashKey2", { 413, 177 } } },
        } } },
} };

} // namespace

const std::array<Drum, drumCount>& drumTable()
{
    return table;
}

const std::array<const Binding*, bindingCount>& bindings()
{
    static const auto inStoreOrder = [] {
        std::array<const Binding*, bindingCount> all {};
        auto next = all.begin();
        for (const Drum& drum : drumTable()) {
            for (const Binding& key : drum.keys)
                *next++ = &key;
        }
        return all;
    }();
    return inStoreOrder;
}

const Binding* bindingWithLabel(int number)
{
    const auto& all = bindings();
    const auto found = std::find_if(all.begin(), all.end(),
        [number](const Binding* key) { return key->label.number == number; });
    return found == all.end() ? nullptr : *found;
}

QString samplePath(const Drum& drum)
{
    return QStringLiteral("./kits/") + DrumKeys::drumFolder + QLatin1String(drum.sampleFile);
}

namespace {
// Every run starts from the table's keys. Set before main, where every reader of the store
// reads the table too.
const bool keysStartAtTheirDefaults = [] {
    for (const Binding* key : bindings())
        *key->stored = QString::fromLatin1(key->defaultKey);
    return true;
}();
} // namespace

} // namespace drums
