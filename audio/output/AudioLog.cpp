#include "audio/output/AudioLog.h"

Q_LOGGING_CATEGORY(lcAudio, "tamborel.audio")
