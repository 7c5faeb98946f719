#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace audio {

// Calls a function on a thread of its own every interval until destroyed. For the work a
// stream may not do on its real-time thread: changing the server's buffer, logging.
class Ticker {
public:
    Ticker(std::chrono::milliseconds interval, std::function<void()> tick)
        : thread_([this, interval, tick = std::move(tick)] {
            std::unique_lock lock(mutex_);
            while (!stopping_) {
                if (changed_.wait_for(lock, interval, [this] { return stopping_; }))
                    break;
                lock.unlock();
                tick();
                lock.lock();
            }
        })
    {
    }
    // [player] Stops the ticks and waits for the one under way: never from within tick.
    ~Ticker()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace audio
