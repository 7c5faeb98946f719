#pragma once

#include "audio/output/OutputStream.h"

#include <memory>
#include <string>

namespace audio {

// [player] PulseAudio's asynchronous API (also PipeWire's PulseAudio server). Waits for the
// server and the stream: never on the event thread.
std::unique_ptr<OutputStream> openPulseAudioOutput(std::string& failure);

} // namespace audio
