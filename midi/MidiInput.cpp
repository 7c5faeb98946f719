#include "midi/MidiInput.h"

#include "audio/output/PipeWireClient.h"
#include "midi/MidiParser.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/control/control.h>
#include <spa/pod/iter.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <sys/eventfd.h>
#include <unistd.h>

namespace midi {

namespace {

constexpr const char* midiFormat = "8 bit raw midi";
constexpr auto connectPatience = std::chrono::seconds(2);

bool isMidiPort(const spa_dict* props, const char* direction)
{
    const char* format = spa_dict_lookup(props, PW_KEY_FORMAT_DSP);
    const char* dir = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
    return format && dir && std::strcmp(format, midiFormat) == 0
        && std::strcmp(dir, direction) == 0;
}

class PipeWireMidiInput final : public MidiInput {
public:
    ~PipeWireMidiInput() override;
    bool open(std::string& failure);

    NoteQueue& notes() noexcept override { return queue_; }
    int wakeDescriptor() const noexcept override { return wake_; }

private:
    static void onProcess(void* data, spa_io_position* position) noexcept;
    static void onState(void* data, pw_filter_state, pw_filter_state state, const char* error);
    static void onGlobal(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
        std::uint32_t version, const spa_dict* props);
    static void onGlobalRemove(void* data, std::uint32_t id);
    void process() noexcept;
    void link(std::uint32_t sourcePort);
    void findOwnPort();
    bool waitUntilReady(std::string& failure);

    audio::PipeWireClient client_;
    pw_registry* registry_ = nullptr;
    pw_filter* filter_ = nullptr;
    void* port_ = nullptr;
    spa_hook filterListener_ {};
    spa_hook registryListener_ {};
    pw_filter_events filterEvents_ {};
    pw_registry_events registryEvents_ {};

    // The thread loop's own.
    pw_filter_state state_ = PW_FILTER_STATE_UNCONNECTED;
    std::string error_;
    std::uint32_t ownPort_ = SPA_ID_INVALID;
    // MIDI input ports by the node they belong to: ours is among them, perhaps before our node
    // knows its number.
    std::map<std::uint32_t, std::uint32_t> inputs_;
    std::map<std::uint32_t, pw_proxy*> sources_; // MIDI output ports, with our link to each

    MidiParser parser_; // the data thread's own
    NoteQueue queue_;
    int wake_ = -1;
};

PipeWireMidiInput::~PipeWireMidiInput()
{
    client_.stop();
    for (auto& [port, proxy] : sources_)
        if (proxy)
            pw_proxy_destroy(proxy);
    if (registry_)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
    if (filter_)
        pw_filter_destroy(filter_);
    if (wake_ >= 0)
        ::close(wake_);
}

void PipeWireMidiInput::onProcess(void* data, spa_io_position*) noexcept
{
    static_cast<PipeWireMidiInput*>(data)->process();
}

void PipeWireMidiInput::process() noexcept
{
    pw_buffer* buffer = pw_filter_dequeue_buffer(port_);
    if (!buffer)
        return;
    const spa_data& plane = buffer->buffer->datas[0];
    bool queued = false;
    if (plane.data && plane.chunk) {
        auto* pod = static_cast<spa_pod*>(
            spa_pod_from_data(plane.data, plane.maxsize, plane.chunk->offset, plane.chunk->size));
        if (pod && spa_pod_is_sequence(pod)) {
            spa_pod_control* control;
            SPA_POD_SEQUENCE_FOREACH(reinterpret_cast<spa_pod_sequence*>(pod), control)
            {
                if (control->type != SPA_CONTROL_Midi)
                    continue;
                parser_.feed(static_cast<const std::uint8_t*>(SPA_POD_BODY(&control->value)),
                    SPA_POD_BODY_SIZE(&control->value),
                    [&](const NoteOn& note) { queued |= queue_.push(note); });
            }
        }
    }
    pw_filter_queue_buffer(port_, buffer);
    // A write to an eventfd neither blocks (it is non-blocking) nor allocates.
    if (queued)
        (void)::eventfd_write(wake_, 1);
}

void PipeWireMidiInput::onState(
    void* data, pw_filter_state, pw_filter_state state, const char* error)
{
    auto* self = static_cast<PipeWireMidiInput*>(data);
    self->state_ = state;
    if (state == PW_FILTER_STATE_ERROR)
        self->error_ = error ? error : "filter error";
    self->findOwnPort();
    pw_thread_loop_signal(self->client_.loop(), false);
}

void PipeWireMidiInput::onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type,
    std::uint32_t, const spa_dict* props)
{
    auto* self = static_cast<PipeWireMidiInput*>(data);
    if (!props || std::strcmp(type, PW_TYPE_INTERFACE_Port) != 0)
        return;
    const char* node = spa_dict_lookup(props, PW_KEY_NODE_ID);
    if (!node)
        return;
    if (isMidiPort(props, "in")) {
        self->inputs_[id] = static_cast<std::uint32_t>(std::strtoul(node, nullptr, 10));
        self->findOwnPort();
    } else if (isMidiPort(props, "out")) {
        self->sources_.emplace(id, nullptr);
        if (self->ownPort_ != SPA_ID_INVALID)
            self->link(id);
    }
}

// [thread loop] Once our node has its number and its port is seen: links every source so far.
void PipeWireMidiInput::findOwnPort()
{
    if (ownPort_ != SPA_ID_INVALID || !filter_)
        return;
    const std::uint32_t node = pw_filter_get_node_id(filter_);
    for (const auto& [port, owner] : inputs_) {
        if (node == SPA_ID_INVALID || owner != node)
            continue;
        ownPort_ = port;
        for (auto& [source, proxy] : sources_)
            if (!proxy)
                link(source);
        pw_thread_loop_signal(client_.loop(), false);
        return;
    }
}

void PipeWireMidiInput::onGlobalRemove(void* data, std::uint32_t id)
{
    auto* self = static_cast<PipeWireMidiInput*>(data);
    self->inputs_.erase(id);
    const auto source = self->sources_.find(id);
    if (source == self->sources_.end())
        return;
    if (source->second)
        pw_proxy_destroy(source->second);
    self->sources_.erase(source);
}

// [thread loop] A link from a source's port to ours, gone with either port.
void PipeWireMidiInput::link(std::uint32_t sourcePort)
{
    const std::string output = std::to_string(sourcePort), input = std::to_string(ownPort_);
    pw_properties* props = pw_properties_new(PW_KEY_LINK_OUTPUT_PORT, output.c_str(),
        PW_KEY_LINK_INPUT_PORT, input.c_str(), PW_KEY_OBJECT_LINGER, "false", nullptr);
    auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(
        client_.core(), "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
    pw_properties_free(props);
    sources_[sourcePort] = proxy;
}

bool PipeWireMidiInput::waitUntilReady(std::string& failure)
{
    timespec deadline {};
    pw_thread_loop_get_time(client_.loop(), &deadline,
        std::chrono::duration_cast<std::chrono::nanoseconds>(connectPatience).count());
    while (ownPort_ == SPA_ID_INVALID && state_ != PW_FILTER_STATE_ERROR) {
        if (pw_thread_loop_timed_wait_full(client_.loop(), &deadline) == -ETIMEDOUT) {
            failure = "the MIDI input did not appear on the server";
            return false;
        }
    }
    if (state_ == PW_FILTER_STATE_ERROR) {
        failure = error_;
        return false;
    }
    return true;
}

bool PipeWireMidiInput::open(std::string& failure)
{
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        failure = std::string("no eventfd: ") + std::strerror(errno);
        return false;
    }
    if (!client_.open("tamborel-midi", failure))
        return false;
    const audio::PipeWireClient::Locked locked(client_);
    filterEvents_.version = PW_VERSION_FILTER_EVENTS;
    filterEvents_.state_changed = onState;
    filterEvents_.process = onProcess;
    filter_ = pw_filter_new(client_.core(), "Tamborel",
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY, "Playback",
            PW_KEY_MEDIA_ROLE, "DSP", PW_KEY_MEDIA_CLASS, "Midi/Sink", PW_KEY_NODE_NAME, "Tamborel",
            PW_KEY_APP_NAME, "Tamborel", nullptr));
    if (!filter_) {
        failure = std::string("no filter: ") + std::strerror(errno);
        return false;
    }
    pw_filter_add_listener(filter_, &filterListener_, &filterEvents_, this);
    port_ = pw_filter_add_port(filter_, PW_DIRECTION_INPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
        pw_properties_new(PW_KEY_FORMAT_DSP, midiFormat, PW_KEY_PORT_NAME, "input", nullptr),
        nullptr, 0);
    if (!port_ || pw_filter_connect(filter_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0) {
        failure = std::string("cannot connect the MIDI input: ") + std::strerror(errno);
        return false;
    }
    registry_ = pw_core_get_registry(client_.core(), PW_VERSION_REGISTRY, 0);
    registryEvents_.version = PW_VERSION_REGISTRY_EVENTS;
    registryEvents_.global = onGlobal;
    registryEvents_.global_remove = onGlobalRemove;
    pw_registry_add_listener(registry_, &registryListener_, &registryEvents_, this);
    return waitUntilReady(failure);
}

} // namespace

std::unique_ptr<MidiInput> MidiInput::open(std::string& failure)
{
    auto input = std::make_unique<PipeWireMidiInput>();
    if (!input->open(failure))
        return nullptr;
    return input;
}

} // namespace midi
