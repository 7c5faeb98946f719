#pragma once

#include <QLoggingCategory>

// [any] What the output streams tell about themselves: the latency they settle on, what they
// changed and why. Failures go to stderr as reports instead. Not on the real-time thread:
// logging locks and allocates.
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
