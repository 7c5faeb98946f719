#pragma once

#include <cstddef>
#include <functional>

namespace audio {

// [any] Runs each task on a thread of its own at once, with no limit and nothing ever waiting for a
// task. The caller never creates a thread: it hands the task to a waiting thread, and a
// thread of the pool's own makes new ones in the background whenever fewer than
// config::sparePlayerThreads would be left waiting. So a press on the event thread costs a queue
// push and a wake-up, however many hits already ring.
void runOnPlayerThread(std::function<void()> task);

// [any] Starts the pool's threads now rather than at the first task (called at start-up).
void prewarmPlayerThreads();

// [any] Threads now alive in the pool, busy or idle, not counting the one that makes them (for
// tests and benchmarks).
std::size_t playerThreadCount();

} // namespace audio
