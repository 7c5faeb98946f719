#pragma once

#include <pipewire/pipewire.h>

#include <string>

namespace audio {

// A client of the PipeWire server on a thread loop of its own: the loop, its context (with the
// module that makes the data thread real-time) and the connection, made in two steps and torn
// down in the right order. What its owner makes on top (streams, filters, proxies) the owner
// destroys after stop() and before the client goes.
class PipeWireClient {
public:
    PipeWireClient() = default;
    ~PipeWireClient();
    PipeWireClient(const PipeWireClient&) = delete;
    PipeWireClient& operator=(const PipeWireClient&) = delete;

    // [any] Makes the loop, named name, and its context, and starts the loop's thread.
    bool start(const char* name, std::string& failure);
    // [thread loop, locked] Connects to the server.
    bool connect(std::string& failure);
    // [any but the thread loop] start, then connect under the loop's lock: for an owner that
    // listens to nothing of the connection itself.
    bool open(const char* name, std::string& failure);
    // [any but the thread loop] Stops the loop's thread: nothing of the client runs after it.
    void stop();

    pw_thread_loop* loop() const noexcept { return loop_; }
    pw_core* core() const noexcept { return core_; }

    // Holds the thread loop's lock while alive.
    class Locked {
    public:
        explicit Locked(PipeWireClient& client)
            : loop_(client.loop_)
        {
            pw_thread_loop_lock(loop_);
        }
        ~Locked() { pw_thread_loop_unlock(loop_); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        pw_thread_loop* loop_;
    };

private:
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
};

} // namespace audio
