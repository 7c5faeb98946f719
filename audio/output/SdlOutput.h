#pragma once

#include "audio/output/OutputStream.h"

#include <memory>
#include <string>

namespace audio {

// SDL2, with its own choice of driver (which honours SDL_AUDIODRIVER).
std::unique_ptr<OutputStream> openSdlOutput(std::string& failure);

} // namespace audio
