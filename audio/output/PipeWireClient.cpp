#include "audio/output/PipeWireClient.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace audio {

PipeWireClient::~PipeWireClient()
{
    stop();
    if (core_)
        pw_core_disconnect(core_);
    if (context_)
        pw_context_destroy(context_);
    if (loop_)
        pw_thread_loop_destroy(loop_);
}

bool PipeWireClient::start(const char* name, std::string& failure)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    loop_ = pw_thread_loop_new(name, nullptr);
    if (!loop_) {
        failure = std::string("no thread loop: ") + std::strerror(errno);
        return false;
    }
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
        pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (!context_) {
        failure = std::string("no context: ") + std::strerror(errno);
        return false;
    }
    if (pw_thread_loop_start(loop_) != 0) {
        failure = "cannot start the thread loop";
        return false;
    }
    return true;
}

bool PipeWireClient::connect(std::string& failure)
{
    core_ = pw_context_connect(context_, nullptr, 0);
    if (!core_) {
        failure = std::string("no PipeWire server: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool PipeWireClient::open(const char* name, std::string& failure)
{
    if (!start(name, failure))
        return false;
    const Locked locked(*this);
    return connect(failure);
}

void PipeWireClient::stop()
{
    if (loop_)
        pw_thread_loop_stop(loop_);
}

} // namespace audio
