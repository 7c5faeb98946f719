#include "audio/PlayerThreads.h"

#include "audio/Config.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <system_error>
#include <thread>

namespace audio {

namespace {

struct Pool {
    std::mutex mutex;
    std::condition_variable wake; // a task is queued
    std::condition_variable lacking; // the maker should look at the numbers again
    std::deque<std::function<void()>> tasks;
    std::size_t threads = 0; // alive or being started
    std::size_t starting = 0; // made, not yet waiting
    std::size_t idle = 0;
    std::once_flag makerStarted;
};

Pool& pool()
{
    // Never destroyed: detached threads may still use it while the process ends.
    static auto* instance = new Pool;
    return *instance;
}

// Threads to add so that every queued task has a thread and the spare ones are left over.
std::size_t missingThreads(const Pool& p)
{
    const std::size_t ready = p.idle + p.starting;
    const std::size_t wanted = p.tasks.size() + config::sparePlayerThreads;
    std::size_t missing = wanted > ready ? wanted - ready : 0;
    if (p.threads < config::warmPlayerThreads)
        missing = std::max(missing, config::warmPlayerThreads - p.threads);
    return missing;
}

void serve(Pool& p)
{
    std::unique_lock lock(p.mutex);
    --p.starting;
    for (;;) {
        ++p.idle;
        const bool woken = p.wake.wait_for(
            lock, config::playerThreadIdleLifetime, [&] { return !p.tasks.empty(); });
        --p.idle;
        // A quiet thread beyond the warm ones ends, unless the spare would run short.
        if (!woken && p.threads > config::warmPlayerThreads && p.idle >= config::sparePlayerThreads)
            break;
        if (p.tasks.empty())
            continue;
        auto task = std::move(p.tasks.front());
        p.tasks.pop_front();
        const bool lacking = missingThreads(p) > 0;
        lock.unlock();
        if (lacking)
            p.lacking.notify_one();
        task();
        task = nullptr; // release what the task holds before waiting again
        lock.lock();
    }
    --p.threads;
}

void makeThreads(Pool& p)
{
    std::unique_lock lock(p.mutex);
    for (;;) {
        p.lacking.wait(lock, [&] { return missingThreads(p) > 0; });
        ++p.threads;
        ++p.starting;
        lock.unlock();
        try {
            std::thread([&p] { serve(p); }).detach();
        } catch (const std::system_error& failure) {
            // Out of threads: queued tasks wait for one to come free; try again shortly.
            std::cerr << "audio: cannot start a player thread: " << failure.what() << std::endl;
            {
                std::lock_guard relock(p.mutex);
                --p.threads;
                --p.starting;
            }
            std::this_thread::sleep_for(config::playerThreadRetry);
        }
        lock.lock();
    }
}

void startMaker(Pool& p)
{
    try {
        std::call_once(p.makerStarted, [&p] { std::thread([&p] { makeThreads(p); }).detach(); });
    } catch (const std::system_error& failure) {
        // call_once tries again on the next call.
        std::cerr << "audio: cannot start the player pool: " << failure.what() << std::endl;
    }
}

} // namespace

void runOnPlayerThread(std::function<void()> task)
{
    Pool& p = pool();
    std::unique_lock lock(p.mutex);
    p.tasks.push_back(std::move(task));
    // Each wake-up is a system call that costs the caller: wake only a waiting thread, and
    // the maker only when no thread is there to take the task (the thread that takes it sees
    // to the spare ones).
    const bool taken = p.idle + p.starting >= p.tasks.size();
    lock.unlock();
    if (taken)
        p.wake.notify_one();
    else
        p.lacking.notify_one();
    startMaker(p);
}

void prewarmPlayerThreads()
{
    startMaker(pool());
}

std::size_t playerThreadCount()
{
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.threads;
}

} // namespace audio
