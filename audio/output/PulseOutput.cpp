#include "audio/output/PulseOutput.h"

#include "audio/output/AudioLog.h"
#include "audio/output/LatencyLadder.h"
#include "audio/output/OutputConfig.h"
#include "audio/output/Realtime.h"
#include "audio/output/StreamWatch.h"
#include "audio/output/Ticker.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <optional>
#include <string>

namespace audio {

namespace {

constexpr std::size_t stride = sizeof(float) * config::deviceChannels;

} // namespace

// A playback stream on PulseAudio's threaded main loop, whose thread writes each block the
// server asks for. A thread of its own chooses the target latency from the underflows the
// server reports and from how late its requests come.
class PulseOutput final : public OutputStream {
public:
    PulseOutput() = default;
    ~PulseOutput() override;

    bool open(std::string& failure);
    int sampleRate() const noexcept override { return rate_; }
    void start(RenderSource& source) override { source_.store(&source, std::memory_order_release); }
    bool lost() const noexcept override { return lost_.load(std::memory_order_acquire); }
    OutputInfo info() const override;

private:
    static void onContextState(pa_context* context, void* data);
    static void onStreamState(pa_stream* stream, void* data);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* data) noexcept;
    static void onUnderflow(pa_stream* stream, void* data);
    static void onBufferChanged(pa_stream* stream, void* data);
    static void onAttrSet(pa_stream* stream, int success, void* data);
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* data);
    static void onTimeout(
        pa_mainloop_api* api, pa_time_event* event, const timeval* tv, void* data);

    void write(std::size_t bytes) noexcept;
    void choose();
    pa_buffer_attr bufferFor(int frames) const;
    // Waits on the main loop (locked) until done() holds, the connection fails or time is up.
    template <typename Done> bool waitFor(Done done, std::string& failure, const char* what);

    int rate_ = config::preferredDeviceRate;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool sinkKnown_ = false; // main loop only
    bool timedOut_ = false;

    std::atomic<RenderSource*> source_ { nullptr };
    std::atomic<bool> lost_ { false };
    StreamWatch watch_;
    std::atomic<int> request_ { 0 };
    // The server's pace: the least it asks for at once. Requests beyond it came late.
    std::atomic<int> minimumRequest_ { 0 };
    // Requests not to judge: those that fill a new buffer come in a rush.
    std::atomic<int> settling_ { config::pulseRequestsBeforeWatching };

    std::optional<LatencyLadder> ladder_; // the ticker's own
    std::atomic<int> target_ { 0 };
    std::atomic<std::int64_t> worstStallNs_ { 0 };
    std::optional<Ticker> ticker_;
};

PulseOutput::~PulseOutput()
{
    ticker_.reset();
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    if (stream_) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseOutput::onContextState(pa_context* context, void* data)
{
    auto* self = static_cast<PulseOutput*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        self->lost_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseOutput::onStreamState(pa_stream* stream, void* data)
{
    auto* self = static_cast<PulseOutput*>(data);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        self->lost_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseOutput::onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data)
{
    auto* self = static_cast<PulseOutput*>(data);
    if (info && eol == 0) {
        const auto rate = static_cast<int>(info->sample_spec.rate);
        // The sink's own rate spares the server a conversion.
        if (rate >= config::minDeviceRate && rate <= config::maxDeviceRate)
            self->rate_ = rate;
        self->sinkKnown_ = true;
    }
    if (eol != 0)
        pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseOutput::onTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* data)
{
    auto* self = static_cast<PulseOutput*>(data);
    self->timedOut_ = true;
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseOutput::onWrite(pa_stream*, std::size_t bytes, void* data) noexcept
{
    static_cast<PulseOutput*>(data)->write(bytes);
}

void PulseOutput::write(std::size_t bytes) noexcept
{
    RenderSource* source = source_.load(std::memory_order_acquire);
    // A request for more than the server's pace came late: the server waited, or we did.
    const auto frames = static_cast<int>(bytes / stride);
    if (settling_.load(std::memory_order_relaxed) > 0)
        settling_.fetch_sub(1, std::memory_order_relaxed);
    else
        watch_.stalled(static_cast<std::int64_t>(
            1e9 * std::max(0, frames - minimumRequest_.load(std::memory_order_relaxed)) / rate_));
    request_.store(frames, std::memory_order_relaxed);
    while (bytes >= stride) {
        void* buffer = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream_, &buffer, &size) < 0 || !buffer)
            return;
        size = std::min(size, bytes);
        size -= size % stride;
        if (size == 0) {
            pa_stream_cancel_write(stream_);
            return;
        }
        if (renderOrSilence(
                source, static_cast<float*>(buffer), static_cast<std::uint32_t>(size / stride)))
            watch_.sounded(monotonicNs());
        pa_stream_write(stream_, buffer, size, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= size;
    }
}

void PulseOutput::onUnderflow(pa_stream*, void* data)
{
    static_cast<PulseOutput*>(data)->watch_.underran();
}

void PulseOutput::onBufferChanged(pa_stream* stream, void* data)
{
    auto* self = static_cast<PulseOutput*>(data);
    if (const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream))
        self->minimumRequest_.store(
            static_cast<int>(attr->minreq / stride), std::memory_order_relaxed);
}

pa_buffer_attr PulseOutput::bufferFor(int frames) const
{
    pa_buffer_attr attr {};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(frames * stride);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

void PulseOutput::onAttrSet(pa_stream* stream, int, void* data)
{
    onBufferChanged(stream, data);
}

void PulseOutput::choose()
{
    const int before = ladder_->current();
    const std::uint64_t underflows = watch_.underruns();
    const LatencyLadder::Change change
        = ladder_->tick(underflows, watch_.takeWorstStall(), watch_.lastSoundNs(), monotonicNs());
    worstStallNs_.store(ladder_->worstStallNs(), std::memory_order_relaxed);
    if (change == LatencyLadder::Change::None)
        return;
    const int target = ladder_->current();
    pa_threaded_mainloop_lock(loop_);
    if (!lost()) {
        settling_.store(config::pulseRequestsBeforeWatching, std::memory_order_relaxed);
        const pa_buffer_attr attr = bufferFor(target);
        if (pa_operation* op = pa_stream_set_buffer_attr(stream_, &attr, onAttrSet, this))
            pa_operation_unref(op);
    }
    pa_threaded_mainloop_unlock(loop_);
    qCInfo(lcAudio,
        "PulseAudio: target latency %.1f ms -> %.1f ms (%d frames): %s; worst stall lately "
        "%.2f ms, %llu underflows so far",
        framesToMs(before, rate_), framesToMs(target, rate_), target,
        change == LatencyLadder::Change::Up ? "it did not hold" : "a smaller one will",
        static_cast<double>(ladder_->worstStallNs()) / 1e6,
        static_cast<unsigned long long>(underflows));
    // Told first: whoever sees the new target in info() finds why in the log.
    target_.store(target, std::memory_order_release);
}

OutputInfo PulseOutput::info() const
{
    OutputInfo info;
    info.driver = "pulseaudio";
    info.sampleRate = rate_;
    info.bufferFrames = request_.load(std::memory_order_relaxed);
    info.targetLatencyFrames = target_.load(std::memory_order_acquire);
    info.serverUnderruns = watch_.underruns();
    info.worstStallMs = static_cast<double>(worstStallNs_.load(std::memory_order_relaxed)) / 1e6;
    return info;
}

template <typename Done>
bool PulseOutput::waitFor(Done done, std::string& failure, const char* what)
{
    timedOut_ = false;
    const auto timeout
        = std::chrono::duration_cast<std::chrono::microseconds>(config::outputOpenTimeout).count();
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(timeout), onTimeout, this);
    while (!done() && !lost() && !timedOut_)
        pa_threaded_mainloop_wait(loop_);
    if (timer)
        pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    if (done())
        return true;
    failure = std::string(what) + ": "
        + (timedOut_ ? std::string("no answer") : pa_strerror(pa_context_errno(context_)));
    return false;
}

bool PulseOutput::open(std::string& failure)
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        failure = "no main loop";
        return false;
    }
    pa_threaded_mainloop_set_name(loop_, "tamborel-pulse");
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tamborel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "org.example.Tamborel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "org.example.Tamborel");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Tamborel", props);
    pa_proplist_free(props);
    if (!context_) {
        failure = "no context";
        return false;
    }
    pa_context_set_state_callback(context_, onContextState, this);
    // Never start a server of our own: a desktop that has one runs it already.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failure = std::string("no PulseAudio server: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    struct Unlock {
        pa_threaded_mainloop* loop;
        ~Unlock() { pa_threaded_mainloop_unlock(loop); }
    } unlock { loop_ };
    if (pa_threaded_mainloop_start(loop_) < 0) {
        failure = "cannot start the main loop";
        return false;
    }
    // Below the server's own priority, above everything else.
    pa_threaded_mainloop_once_unlocked(
        loop_,
        [](pa_threaded_mainloop*, void*) {
            makeThisThreadRealtime(config::clientRealtimePriority);
        },
        nullptr);

    if (!waitFor([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, failure,
            "no PulseAudio server"))
        return false;

    if (pa_operation* op
        = pa_context_get_sink_info_by_name(context_, "@DEFAULT_SINK@", onSinkInfo, this)) {
        const bool answered
            = waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, failure,
                "no sink");
        pa_operation_unref(op);
        if (!answered)
            return false;
    }
    if (!sinkKnown_) {
        failure = "the PulseAudio server has no sound output";
        return false;
    }

    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate_),
        static_cast<std::uint8_t>(config::deviceChannels) };
    pa_channel_map map {};
    pa_channel_map_init_stereo(&map);
    pa_proplist* streamProps = pa_proplist_new();
    pa_proplist_sets(streamProps, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(context_, "Drums", &spec, &map, streamProps);
    pa_proplist_free(streamProps);
    if (!stream_) {
        failure = std::string("no stream: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    pa_stream_set_state_callback(stream_, onStreamState, this);
    pa_stream_set_write_callback(stream_, onWrite, this);
    pa_stream_set_underflow_callback(stream_, onUnderflow, this);
    pa_stream_set_buffer_attr_callback(stream_, onBufferChanged, this);
    ladder_.emplace(
        LatencyLadder::Rules::fromConfig(config::pulseLatencySteps, config::pulseFirstStep, rate_,
            config::pulseCloseCall, config::pulseHolds, config::pulseDownAsFarAsFits),
        monotonicNs());
    target_.store(ladder_->current(), std::memory_order_relaxed);
    const pa_buffer_attr attr = bufferFor(ladder_->current());
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        failure
            = std::string("cannot connect the stream: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    if (!waitFor([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }, failure,
            "the stream was refused"))
        return false;

    onBufferChanged(stream_, this);
    qCInfo(lcAudio, "PulseAudio output at %d Hz, target latency %.1f ms (%d frames)", rate_,
        framesToMs(ladder_->current(), rate_), ladder_->current());
    // Last: from here on the ladder is the ticker's own.
    ticker_.emplace(config::latencyCheckInterval, [this] { choose(); });
    return true;
}

std::unique_ptr<OutputStream> openPulseAudioOutput(std::string& failure)
{
    return openedOrNull<PulseOutput>(failure);
}

} // namespace audio
