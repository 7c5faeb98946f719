#pragma once

#include "drums/DrumTable.h"

namespace midi {

// [any] The drum a General MIDI percussion note plays, on whatever channel it comes: nullptr
// for a note no drum of the kit stands for.
const drums::Drum* drumForNote(int note) noexcept;

// [any] Velocity 1 to 127 as a gain in decibels: 127 plays the sample as it is (0 dB), as a
// key press does. Loudness follows the square of the velocity, as on a struck drum, over a floor
// of -40 dB, so that velocity 1, a ghost note, is still heard. Monotonic.
float velocityGainDb(int velocity) noexcept;

} // namespace midi
