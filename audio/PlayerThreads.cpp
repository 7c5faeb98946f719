#include "audio/PlayerThreads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <system_error>
#include <thread>

namespace audio {

namespace {

// Threads kept waiting however long it is quiet, and how long a thread beyond those
// waits for work before it ends.
constexpr std::size_t warmThreads = 4;
constexpr auto idleLifetime = std::chrono::seconds(3);

struct Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    std::size_t threads = 0;
    std::size_t idle = 0;
};

Pool& pool()
{
    // Never destroyed: detached threads may still use it while the process ends.
    static auto* instance = new Pool;
    return *instance;
}

void serve(Pool& p)
{
    std::unique_lock lock(p.mutex);
    for (;;) {
        ++p.idle;
        const bool woken = p.wake.wait_for(lock, idleLifetime, [&] { return !p.tasks.empty(); });
        --p.idle;
        if (!woken && p.threads > warmThreads)
            break;
        if (p.tasks.empty())
            continue;
        auto task = std::move(p.tasks.front());
        p.tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr; // release what the task holds before waiting again
        lock.lock();
    }
    --p.threads;
}

} // namespace

void runOnPlayerThread(std::function<void()> task)
{
    Pool& p = pool();
    std::unique_lock lock(p.mutex);
    p.tasks.push_back(std::move(task));
    if (p.idle >= p.tasks.size()) {
        lock.unlock();
        p.wake.notify_one();
        return;
    }
    ++p.threads;
    lock.unlock();
    try {
        std::thread([&p] { serve(p); }).detach();
    } catch (const std::system_error& failure) {
        // Out of threads: the task stays queued for the next thread that comes free.
        std::cerr << "audio: cannot start a player thread: " << failure.what() << std::endl;
        std::lock_guard relock(p.mutex);
        --p.threads;
    }
}

std::size_t playerThreadCount()
{
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.threads;
}

} // namespace audio
