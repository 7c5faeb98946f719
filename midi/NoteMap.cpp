#include "midi/NoteMap.h"

#include <array>
#include <cmath>

namespace midi {

namespace {

using enum drums::DrumIndex;
constexpr auto none = static_cast<drums::DrumIndex>(-1);

// General MIDI's percussion key map, from note 35 on, as the kit's twelve drums stand for it:
// the kicks, the snares with the side stick and the hand clap, three pairs of toms, the hi-hat
// closed and by pedal, the rides, the crashes.
constexpr int firstNote = 35;
constexpr std::array<drums::DrumIndex, 25> fromNote35 { bass, bass, snare, snare, snare, snare,
    floorTom, closedHiHat, floorTom, closedHiHat, mediumTom, openHiHat, mediumTom, highTom, crash,
    highTom, ride, china, rideCup, none, splash, none, crash, none, ride };

} // namespace

const drums::Drum* drumForNote(int note) noexcept
{
    const int at = note - firstNote;
    if (at < 0 || at >= static_cast<int>(fromNote35.size()) || fromNote35[at] == none)
        return nullptr;
    return &drums::drumTable()[static_cast<std::size_t>(fromNote35[at])];
}

float velocityGainDb(int velocity) noexcept
{
    if (velocity >= 127)
        return 0.0f;
    constexpr double floor = 0.01; // -40 dB
    const double v = velocity <= 0 ? 0.0 : velocity / 127.0;
    return static_cast<float>(20.0 * std::log10(floor + (1.0 - floor) * v * v));
}

} // namespace midi
