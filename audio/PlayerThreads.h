#pragma once

#include <cstddef>
#include <functional>

namespace audio {

// Runs each task on a thread of its own at once. Threads that finished a task wait a while
// for the next one instead of ending, so a hit does not pay for creating a thread; when none
// is free a new one is made. Nothing ever waits for a task, and there is no limit.
void runOnPlayerThread(std::function<void()> task);

// Threads now alive in the pool, busy or idle (for tests and benchmarks).
std::size_t playerThreadCount();

} // namespace audio
