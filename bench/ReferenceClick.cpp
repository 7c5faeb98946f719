#include "bench/ReferenceClick.h"

#include "audio/output/PipeWireClient.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <pulse/pulseaudio.h>
#include <spa/control/control.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <array>
#include <atomic>
#include <cstring>
#include <sched.h>

namespace bench {

namespace {

constexpr int rate = 48000;
constexpr int clickFrames = 96; // 2 ms
constexpr float clickLevel = 0.5f;

// Real-time part shared by both clients: silence, or the click from where it has got to.
class Clicker {
public:
    void trigger() { pending_.store(true, std::memory_order_release); }
    void fill(float* out, std::size_t frames)
    {
        if (pending_.exchange(false, std::memory_order_acq_rel))
            at_ = 0;
        for (std::size_t i = 0; i < frames; ++i) {
            out[2 * i] = at_ < clickFrames ? clickLevel : 0.0f;
            out[2 * i + 1] = 0.0f;
            if (at_ < clickFrames)
                ++at_;
        }
    }

private:
    std::atomic<bool> pending_ { false };
    int at_ = clickFrames;
};

class PipeWireReference final : public ReferenceClick {
public:
    ~PipeWireReference() override
    {
        client_.stop();
        if (stream_)
            pw_stream_destroy(stream_);
    }
    void trigger() override { clicker_.trigger(); }

    bool open(std::string& failure, int quantum)
    {
        if (!client_.open("reference", failure))
            return false;
        const audio::PipeWireClient::Locked locked(client_);
        events_.version = PW_VERSION_STREAM_EVENTS;
        events_.process = [](void* data) {
            auto* self = static_cast<PipeWireReference*>(data);
            pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
            if (!b)
                return;
            spa_data& d = b->buffer->datas[0];
            const std::uint32_t capacity = d.maxsize / 8;
            const auto frames = static_cast<std::uint32_t>(
                b->requested ? std::min<std::uint64_t>(b->requested, capacity) : capacity);
            self->clicker_.fill(static_cast<float*>(d.data), frames);
            d.chunk->offset = 0;
            d.chunk->stride = 8;
            d.chunk->size = frames * 8;
            pw_stream_queue_buffer(self->stream_, b);
        };
        // With no latency of its own asked for, it runs at the quantum the compared stream set.
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", nullptr);
        if (quantum > 0)
            pw_properties_setf(props, PW_KEY_NODE_LATENCY, "%d/%d", quantum, rate);
        stream_ = pw_stream_new(client_.core(), "reference", props);
        pw_stream_add_listener(stream_, &listener_, &events_, this);
        std::uint8_t pod[1024];
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, pod, sizeof(pod));
        spa_audio_info_raw format {};
        format.format = SPA_AUDIO_FORMAT_F32;
        format.rate = rate;
        format.channels = 2;
        format.position[0] = SPA_AUDIO_CHANNEL_FL;
        format.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[]
            = { spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format) };
        pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                | PW_STREAM_FLAG_RT_PROCESS),
            params, 1);
        return true;
    }

private:
    audio::PipeWireClient client_;
    pw_stream* stream_ = nullptr;
    spa_hook listener_ {};
    pw_stream_events events_ {};
    Clicker clicker_;
};

class PipeWireMidi final : public MidiSource {
public:
    ~PipeWireMidi() override
    {
        client_.stop();
        if (filter_)
            pw_filter_destroy(filter_);
    }
    void strike(int note, int velocity) override
    {
        // One writer: the bench's own thread.
        const unsigned at = written_.load(std::memory_order_relaxed);
        if (at - sent_.load(std::memory_order_acquire) >= notes_.size())
            return;
        notes_[at % notes_.size()] = static_cast<std::uint16_t>(note << 8 | velocity);
        written_.store(at + 1, std::memory_order_release);
    }

    bool open(std::string& failure)
    {
        if (!client_.open("midi-source", failure))
            return false;
        const audio::PipeWireClient::Locked locked(client_);
        events_.version = PW_VERSION_FILTER_EVENTS;
        events_.process
            = [](void* data, spa_io_position*) { static_cast<PipeWireMidi*>(data)->process(); };
        filter_ = pw_filter_new(client_.core(), "bench-midi",
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY, "Playback",
                PW_KEY_NODE_WANT_DRIVER, "true", nullptr));
        pw_filter_add_listener(filter_, &listener_, &events_, this);
        port_ = pw_filter_add_port(filter_, PW_DIRECTION_OUTPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
            pw_properties_new(
                PW_KEY_FORMAT_DSP, "8 bit raw midi", PW_KEY_PORT_NAME, "output", nullptr),
            nullptr, 0);
        pw_filter_connect(filter_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0);
        return true;
    }

private:
    void process()
    {
        pw_buffer* b = pw_filter_dequeue_buffer(port_);
        if (!b)
            return;
        spa_data& d = b->buffer->datas[0];
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, d.data, d.maxsize);
        spa_pod_frame frame {};
        spa_pod_builder_push_sequence(&builder, &frame, 0);
        unsigned at = sent_.load(std::memory_order_relaxed);
        const unsigned until = written_.load(std::memory_order_acquire);
        for (; at != until; ++at) {
            const std::uint16_t hit = notes_[at % notes_.size()];
            const std::uint8_t message[3] { 0x99, static_cast<std::uint8_t>(hit >> 8),
                static_cast<std::uint8_t>(hit & 0x7F) };
            spa_pod_builder_control(&builder, 0, SPA_CONTROL_Midi);
            spa_pod_builder_bytes(&builder, message, sizeof message);
        }
        sent_.store(at, std::memory_order_release);
        spa_pod_builder_pop(&builder, &frame);
        d.chunk->offset = 0;
        d.chunk->stride = 1;
        d.chunk->size = builder.state.offset;
        pw_filter_queue_buffer(port_, b);
    }

    audio::PipeWireClient client_;
    pw_filter* filter_ = nullptr;
    void* port_ = nullptr;
    spa_hook listener_ {};
    pw_filter_events events_ {};
    std::array<std::uint16_t, 256> notes_ {};
    std::atomic<unsigned> written_ { 0 };
    std::atomic<unsigned> sent_ { 0 };
};

class PulseAudioReference final : public ReferenceClick {
public:
    ~PulseAudioReference() override
    {
        if (!loop_)
            return;
        pa_threaded_mainloop_stop(loop_);
        if (stream_)
            pa_stream_unref(stream_);
        if (context_)
            pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
    }
    void trigger() override { clicker_.trigger(); }

    bool open(int targetFrames, std::string& failure)
    {
        loop_ = pa_threaded_mainloop_new();
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "reference");
        pa_context_set_state_callback(
            context_,
            [](pa_context*, void* data) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(data), 0);
            },
            loop_);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            failure = "no PulseAudio server";
            return false;
        }
        pa_threaded_mainloop_lock(loop_);
        pa_threaded_mainloop_start(loop_);
        while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
                pa_threaded_mainloop_unlock(loop_);
                failure = "no PulseAudio server";
                return false;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, rate, 2 };
        stream_ = pa_stream_new(context_, "reference", &spec, nullptr);
        pa_stream_set_write_callback(
            stream_,
            [](pa_stream* s, std::size_t bytes, void* data) {
                auto* self = static_cast<PulseAudioReference*>(data);
                // As real-time as the stream it is compared with.
                if (!self->realtime_) {
                    sched_param param {};
                    param.sched_priority = 4;
                    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param);
                    self->realtime_ = true;
                }
                void* buffer = nullptr;
                if (pa_stream_begin_write(s, &buffer, &bytes) < 0 || !buffer)
                    return;
                bytes -= bytes % 8;
                self->clicker_.fill(static_cast<float*>(buffer), bytes / 8);
                pa_stream_write(s, buffer, bytes, nullptr, 0, PA_SEEK_RELATIVE);
            },
            this);
        pa_buffer_attr attr {};
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(targetFrames * 8);
        pa_stream_connect_playback(stream_, nullptr, &attr,
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY), nullptr, nullptr);
        pa_threaded_mainloop_unlock(loop_);
        return true;
    }

private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool realtime_ = false;
    Clicker clicker_;
};

} // namespace

std::unique_ptr<ReferenceClick> openPipeWireReference(std::string& failure, int quantum)
{
    auto reference = std::make_unique<PipeWireReference>();
    if (!reference->open(failure, quantum))
        return nullptr;
    return reference;
}

std::unique_ptr<MidiSource> openPipeWireMidiSource(std::string& failure)
{
    auto source = std::make_unique<PipeWireMidi>();
    if (!source->open(failure))
        return nullptr;
    return source;
}

std::unique_ptr<ReferenceClick> openPulseAudioReference(int targetFrames, std::string& failure)
{
    auto reference = std::make_unique<PulseAudioReference>();
    if (!reference->open(targetFrames, failure))
        return nullptr;
    return reference;
}

} // namespace bench
