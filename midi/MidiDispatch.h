#pragma once

#include "drums/DrumTable.h"
#include "midi/MidiParser.h"

#include <QString>
#include <functional>

namespace midi {

// Starts one player for a sample path at a gain in decibels and returns at once.
using HitStarter = std::function<void(const QString& samplePath, float gainDb)>;

// Installs how hits are started (tests count them instead of playing); an empty starter
// restores the real one. Returns the one before.
HitStarter setHitStarter(HitStarter starter);

// [event] Plays the note's drum from the current kit, as its key would, at its velocity's gain:
// its file read at the hit by a player of its own. Returns the drum, or nullptr for a note no
// drum stands for.
const drums::Drum* dispatchNote(const NoteOn& note);

// [event] Opens the MIDI input off the event thread and, once it is there, plays the notes it
// hands over on the event thread. Without a PipeWire server there is no input, and nothing
// else changes.
void startMidiInput();

} // namespace midi
