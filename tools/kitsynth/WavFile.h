// Writes a finished sample as a WAV file in the sample's own format.
#pragma once

#include "Kits.h"

#include <filesystem>
#include <string>

namespace kitsynth {

// Returns an empty string on success, otherwise what went wrong.
std::string writeWav(const std::filesystem::path& path, const Sample& sample);

} // namespace kitsynth
