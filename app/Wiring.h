#pragma once

namespace app {

// Connects the parts that must not know one another, before any window exists: the players'
// missing-file question goes to a dialog on the event thread, and the configuration window
// opens its main windows through this folder's class.
void wireProgram();

} // namespace app
