#include "audio/output/PulseOutput.h"

#include "audio/output/AudioLog.h"
#include "audio/output/LatencyChooser.h"
#include "audio/output/OutputConfig.h"
#include "audio/output/Realtime.h"
#include "audio/output/StreamWatch.h"
#include "audio/output/Ticker.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>
#include <string>

namespace audio {

namespace {

constexpr std::size_t stride = sizeof(float) * config::deviceChannels;

} // namespace

// How close each of the server's requests came to running dry: what was still queued when it
// asked, against the most that was queued at any of the last requests, which came on time.
class RequestWatch {
public:
    // [main loop] The lateness of this request, which found queuedNs still to be heard.
    std::int64_t lateness(std::int64_t queuedNs) noexcept;

private:
    std::array<std::int64_t, 64> queued_ {}; // about a third of a second at the least requests
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

// A playback stream on PulseAudio's threaded main loop, whose thread writes each block the
// server asks for. A thread of its own chooses the target latency from the underflows the
// server reports and from how close to running dry each request came.
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
    static void onMovedOrSuspended(pa_stream* stream, void* data);
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* data);
    static void onTimeout(
        pa_mainloop_api* api, pa_time_event* event, const timeval* tv, void* data);

    // The opening's steps, in order.
    bool connect(std::string& failure);
    bool startLoop(std::string& failure);
    bool learnSink(std::string& failure);
    bool makeStream(std::string& failure);
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
    RequestWatch requests_; // the main loop's own
    // Requests not to judge: those that fill a new buffer come in a rush.
    std::atomic<int> settling_ { config::pulseRequestsBeforeWatching };

    std::optional<LatencyChooser> chooser_; // chooses on the ticker
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
    const auto frames = static_cast<int>(bytes / stride);
    // What was still queued for the server when it asked: everything not yet heard.
    pa_usec_t latency = 0;
    int negative = 0;
    const bool timed = pa_stream_get_latency(stream_, &latency, &negative) == 0 && !negative;
    if (settling_.load(std::memory_order_relaxed) > 0) {
        settling_.fetch_sub(1, std::memory_order_relaxed);
        requests_ = RequestWatch();
    } else if (timed) {
        const std::int64_t late = requests_.lateness(static_cast<std::int64_t>(latency) * 1000);
        watch_.stalled(std::max<std::int64_t>(0, late));
    }
    const std::int64_t begun = monotonicNs();
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
    // Our own writing: a stall there empties the buffer before the queue can show it.
    watch_.stalled(monotonicNs() - begun);
}

std::int64_t RequestWatch::lateness(std::int64_t queuedNs) noexcept
{
    queued_[next_] = queuedNs;
    next_ = (next_ + 1) % queued_.size();
    count_ = std::min(count_ + 1, queued_.size());
    const std::int64_t onTime = *std::max_element(queued_.begin(), queued_.begin() + count_);
    return onTime - queuedNs;
}

void PulseOutput::onMovedOrSuspended(pa_stream*, void* data)
{
    // A new sink, or the same one waking up, fills the buffer afresh: its first requests and
    // the underflow that may come with them say nothing about how the machine keeps up.
    static_cast<PulseOutput*>(data)->settling_.store(
        config::pulseRequestsBeforeWatching, std::memory_order_relaxed);
}

void PulseOutput::onUnderflow(pa_stream*, void* data)
{
    auto* self = static_cast<PulseOutput*>(data);
    if (self->settling_.load(std::memory_order_relaxed) > 0)
        return;
    // The server ran dry about a target's length after the sound last reached it.
    const int target = self->chooser_ ? self->chooser_->target() : 0;
    self->watch_.underran(1, monotonicNs(), static_cast<std::int64_t>(1e9 * target / self->rate_));
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

void PulseOutput::choose()
{
    const std::optional<int> target = chooser_->choose(monotonicNs());
    if (!target)
        return;
    pa_threaded_mainloop_lock(loop_);
    if (!lost()) {
        settling_.store(config::pulseRequestsBeforeWatching, std::memory_order_relaxed);
        const pa_buffer_attr attr = bufferFor(*target);
        if (pa_operation* op = pa_stream_set_buffer_attr(stream_, &attr, nullptr, nullptr))
            pa_operation_unref(op);
    }
    pa_threaded_mainloop_unlock(loop_);
}

OutputInfo PulseOutput::info() const
{
    OutputInfo info;
    info.driver = "pulseaudio";
    info.sampleRate = rate_;
    info.bufferFrames = request_.load(std::memory_order_relaxed);
    info.targetLatencyFrames = chooser_->target();
    info.serverUnderruns = watch_.underruns();
    info.worstStallMs = chooser_->worstStallMs();
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

// [unlocked] The main loop, and a context on its way to the server.
bool PulseOutput::connect(std::string& failure)
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
    return true;
}

// [locked] Runs the main loop's thread, real-time, until the server has answered.
bool PulseOutput::startLoop(std::string& failure)
{
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
    return waitFor([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, failure,
        "no PulseAudio server");
}

// [locked] The default sink, whose rate the stream takes.
bool PulseOutput::learnSink(std::string& failure)
{
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
    return true;
}

// [locked] A float stereo stream at the sink's rate, asking for the chooser's first target,
// until the server has made it ready.
bool PulseOutput::makeStream(std::string& failure)
{
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
    pa_stream_set_moved_callback(stream_, onMovedOrSuspended, this);
    pa_stream_set_suspended_callback(stream_, onMovedOrSuspended, this);
    chooser_.emplace("PulseAudio",
        LatencyLadder::Rules::fromConfig(config::pulseLatencySteps, config::pulseFirstStep, rate_,
            config::pulseCloseCall, config::pulseHolds, config::pulseStallsPastUnderruns),
        watch_, monotonicNs());
    const pa_buffer_attr attr = bufferFor(chooser_->target());
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        failure
            = std::string("cannot connect the stream: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    return waitFor([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }, failure,
        "the stream was refused");
}

bool PulseOutput::open(std::string& failure)
{
    if (!connect(failure))
        return false;
    pa_threaded_mainloop_lock(loop_);
    struct Unlock {
        pa_threaded_mainloop* loop;
        ~Unlock() { pa_threaded_mainloop_unlock(loop); }
    } unlock { loop_ };
    if (!startLoop(failure) || !learnSink(failure) || !makeStream(failure))
        return false;
    qCInfo(lcAudio, "PulseAudio output at %d Hz, target latency %.1f ms (%d frames)", rate_,
        framesToMs(chooser_->target(), rate_), chooser_->target());
    // Last: from here on the chooser is the ticker's own.
    ticker_.emplace(config::latencyCheckInterval, [this] { choose(); });
    return true;
}

std::unique_ptr<OutputStream> openPulseAudioOutput(std::string& failure)
{
    return openedOrNull<PulseOutput>(failure);
}

} // namespace audio
