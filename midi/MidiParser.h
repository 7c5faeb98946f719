#pragma once

#include <cstddef>
#include <cstdint>

namespace midi {

// A note struck: its channel (0 to 15), note number and velocity (1 to 127).
struct NoteOn {
    std::uint8_t channel = 0;
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
};

// Reads a raw MIDI byte stream and finds the notes struck in it. Messages may come whole or in
// pieces, and channel messages may leave out a status byte they repeat (running status). A
// note-on of velocity 0 is a note-off. Note-offs, controllers, programs, pressure, pitch bends,
// system exclusive, system common and real-time bytes (clock among them) are read and passed
// over, as are data bytes with no status before them.
class MidiParser {
public:
    // [real-time] Calls onNote(NoteOn) for each note struck in bytes; allocates nothing.
    template <typename OnNote>
    void feed(const std::uint8_t* bytes, std::size_t count, OnNote&& onNote) noexcept
    {
        for (std::size_t i = 0; i < count; ++i) {
            NoteOn note;
            if (take(bytes[i], note))
                onNote(note);
        }
    }

private:
    // Whether the byte completed a note-on, then in note.
    bool take(std::uint8_t byte, NoteOn& note) noexcept;

    std::uint8_t status_ = 0; // the message being read, 0 when none
    std::uint8_t data_[2] {};
    int have_ = 0;
    bool inSysex_ = false;
};

} // namespace midi
