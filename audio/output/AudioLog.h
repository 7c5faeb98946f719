#pragma once

#include <QLoggingCategory>

// What the output streams tell about themselves: the latency they settle on, what they
// changed and why. Failures go to stderr as reports instead.
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
