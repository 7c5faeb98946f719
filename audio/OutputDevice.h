#pragma once

#include "audio/output/OutputStream.h"

#include <string>

namespace audio {

class Mixer;

// [any] Starts opening the process's one output device on a background thread and returns at
// once. Called early at start-up, so the first hit finds the device ready. Calling it again
// does nothing while the device is open or opening.
void openOutputEarly();

// [player] The mixer that plays on the output device, opening the device first if needed. A
// call that finds an opening under way waits for it and takes its outcome. A device lost since
// it opened is closed and opened anew. When no device can be opened, throws
// LineUnavailableException with each back-end's reason, and the next call tries again; so it
// does when the device took longer than config::outputWaitLimit to come, since the call began.
Mixer& outputMixer();

// [player] Closes the device, so the next outputMixer opens it anew (tests). Every line on it
// must be closed first. Waits for an opening under way.
void closeOutput();

// [any] What the open stream is and how it fares, or empty when no device is open.
OutputInfo outputInfo();

} // namespace audio
