#pragma once

#include <functional>

namespace toolkit {

// Queues a task for the event thread and returns at once.
void postToEventThread(std::function<void()> task);

// Runs a task on the event thread and waits for it to finish. Called from the event thread
// itself it simply runs the task. Returns false, without running it, when there is no
// application object to run it on.
bool runOnEventThreadAndWait(const std::function<void()>& task);

} // namespace toolkit
