#pragma once

#include "drums/DrumTable.h"

#include <QString>
#include <functional>

namespace drums {

// Starts one player for a sample path and returns at once.
using PlayerStarter = std::function<void(const QString& samplePath)>;

// Installs how players are started (tests count them instead of playing); an empty starter
// restores the real one. Returns the one before.
PlayerStarter setPlayerStarter(PlayerStarter starter);

// Finds the first binding, drum by drum and first key before second, whose code is the
// key's, and starts one player for that drum's sample in the current kit. Returns the drum
// that sounds, or nullptr when the key is bound to none.
const Drum* dispatchKey(int keyCode);

} // namespace drums
