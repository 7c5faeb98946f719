#pragma once

#include <memory>
#include <string>

namespace bench {

// The fastest sound a program can make on a server: a minimal client of its own that writes a
// preloaded click into the left channel of the very next block it is asked for after trigger.
// Nothing else between a trigger and the server, so its onset in a recording is where a
// perfect drum program's would be.
class ReferenceClick {
public:
    virtual ~ReferenceClick() = default;
    virtual void trigger() = 0;
};

// A MIDI source on PipeWire, as a drum kit plugged in would be: each strike goes out as a
// note-on in the very next cycle it is asked for (many strikes between two cycles, at once).
class MidiSource {
public:
    virtual ~MidiSource() = default;
    virtual void strike(int note, int velocity) = 0;
};
std::unique_ptr<MidiSource> openPipeWireMidiSource(std::string& failure);

// On PipeWire, following whatever quantum the graph runs at; or, given a quantum, asking for it,
// which sets the pace of the whole graph when it is the smallest asked for.
std::unique_ptr<ReferenceClick> openPipeWireReference(std::string& failure, int quantum = 0);
// On PulseAudio, with the same target latency as the stream it is compared with.
std::unique_ptr<ReferenceClick> openPulseAudioReference(int targetFrames, std::string& failure);

} // namespace bench
