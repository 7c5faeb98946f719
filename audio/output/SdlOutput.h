#pragma once

#include "audio/output/OutputStream.h"

#include <memory>
#include <string>

namespace audio {

// [player] SDL2, with its own choice of driver (which honours SDL_AUDIODRIVER). Opens the
// device and waits for it: never on the event thread.
std::unique_ptr<OutputStream> openSdlOutput(std::string& failure);

} // namespace audio
