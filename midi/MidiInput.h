#pragma once

#include "midi/NoteQueue.h"

#include <memory>
#include <string>

namespace midi {

// One MIDI input named "Tamborel" on the PipeWire server, linked by the program itself to every
// MIDI source there is and to each that appears while it runs (hardware through PipeWire's
// MIDI bridge, and programs). The notes struck arrive in PipeWire's real-time thread, which
// parses them and hands them to a NoteQueue; each hand-off also counts up an eventfd, so that
// the reader can wait for notes with poll.
class MidiInput {
public:
    // [any but the event thread: waits on the server] nullptr, with the reason in failure,
    // when there is no PipeWire server or it refuses the input.
    static std::unique_ptr<MidiInput> open(std::string& failure);
    virtual ~MidiInput() = default;

    // [event] The notes, and the descriptor that becomes readable when notes were queued (read
    // its count to rearm it).
    virtual NoteQueue& notes() noexcept = 0;
    virtual int wakeDescriptor() const noexcept = 0;
};

} // namespace midi
