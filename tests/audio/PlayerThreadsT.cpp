// The player pool: every hit gets a thread of its own at once, spare threads stay ready for
// the next hit, and a quiet pool shrinks back to its warm threads.
#include "audio/Config.h"
#include "audio/PlayerThreads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Tasks that hold their thread until released.
struct Holds {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t running = 0;
    bool released = false;

    void hold()
    {
        std::unique_lock lock(mutex);
        ++running;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        --running;
        changed.notify_all();
    }
    bool waitForRunning(std::size_t n, std::chrono::seconds limit)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return running >= n; });
    }
    void releaseAll()
    {
        std::unique_lock lock(mutex);
        released = true;
        changed.notify_all();
        changed.wait(lock, [&] { return running == 0; });
    }
};

template <typename Condition> bool within(std::chrono::milliseconds limit, Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(PlayerThreads, RunsEveryTaskAtOnceGrowsSpareThreadsAndShrinksWhenQuiet)
{
    audio::prewarmPlayerThreads();
    ASSERT_TRUE(
        within(5s, [] { return audio::playerThreadCount() == audio::config::warmPlayerThreads; }))
        << audio::playerThreadCount() << " threads after warming";

    // Far more tasks than warm threads, each waiting for all the others: only a pool that
    // starts every task at once lets them all run.
    constexpr std::size_t tasks = 40;
    // Shared, so a task that starts late cannot outlive what it uses.
    auto holds = std::make_shared<Holds>();
    for (std::size_t i = 0; i < tasks; ++i)
        audio::runOnPlayerThread([holds] { holds->hold(); });
    EXPECT_TRUE(holds->waitForRunning(tasks, 20s)) << holds->running << " of " << tasks << " ran";

    // With every thread taken, spare ones are made for the next hits.
    EXPECT_TRUE(within(
        5s, [] { return audio::playerThreadCount() >= tasks + audio::config::sparePlayerThreads; }))
        << audio::playerThreadCount() << " threads for " << tasks << " busy";

    holds->releaseAll();
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
        audio::config::playerThreadIdleLifetime + 5s);
    EXPECT_TRUE(within(
        quiet, [] { return audio::playerThreadCount() == audio::config::warmPlayerThreads; }))
        << audio::playerThreadCount() << " threads when quiet";
}

TEST(PlayerThreads, TasksQueuedFromManyThreadsAllRun)
{
    constexpr int senders = 8, perSender = 50;
    struct Count {
        std::mutex mutex;
        std::condition_variable done;
        int ran = 0;
    };
    auto count = std::make_shared<Count>();
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s)
        threads.emplace_back([count] {
            for (int i = 0; i < perSender; ++i)
                audio::runOnPlayerThread([count] {
                    std::lock_guard lock(count->mutex);
                    ++count->ran;
                    count->done.notify_all();
                });
        });
    for (auto& thread : threads)
        thread.join();
    std::unique_lock lock(count->mutex);
    EXPECT_TRUE(count->done.wait_for(lock, 20s, [&] { return count->ran == senders * perSender; }))
        << count->ran << " of " << senders * perSender << " tasks ran";
}

} // namespace
