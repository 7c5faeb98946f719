#pragma once

#include "audio/output/OutputStream.h"

#include <memory>
#include <string>

namespace audio {

// PulseAudio's asynchronous API (also PipeWire's PulseAudio server).
std::unique_ptr<OutputStream> openPulseAudioOutput(std::string& failure);

} // namespace audio
