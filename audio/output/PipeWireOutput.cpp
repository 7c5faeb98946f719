#include "audio/output/PipeWireOutput.h"

#include "audio/output/AudioLog.h"
#include "audio/output/LatencyChooser.h"
#include "audio/output/OutputConfig.h"
#include "audio/output/PipeWireClient.h"
#include "audio/output/Realtime.h"
#include "audio/output/StreamWatch.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

namespace audio {

namespace {

constexpr std::uint32_t stride = sizeof(float) * config::deviceChannels;

std::string latencyProperty(int frames, int rate)
{
    return std::to_string(frames) + "/" + std::to_string(rate);
}

} // namespace

CycleWatch::Seen CycleWatch::observe(std::int64_t cycleStartNs, std::int64_t graphNs,
    std::int64_t periodNs, std::int64_t doneNs) noexcept
{
    Seen seen;
    const std::int64_t late = doneNs - cycleStartNs;
    seen.stallNs = std::max<std::int64_t>(0, late);
    if (started_ && lastPeriodNs_ > 0) {
        const std::int64_t byClock = cycleStartNs - lastStartNs_;
        const std::int64_t byGraph = graphNs - lastGraphNs_;
        // A graph that stopped for longer was suspended or changed its driver: not our stall.
        // Nor is a graph clock that ran ahead of the monotonic one: a new driver whose clock
        // started elsewhere, met after the gap of a move to another sink.
        constexpr std::int64_t graphStopped = 1'000'000'000;
        const bool sameClock = byGraph > 0 && byGraph <= byClock + lastPeriodNs_ / 2;
        if (byClock > 0 && sameClock && byClock < graphStopped) {
            const std::int64_t cycles
                = (std::min(byClock, byGraph) + lastPeriodNs_ / 2) / lastPeriodNs_;
            if (cycles > 1) {
                seen.underruns += static_cast<unsigned>(cycles - 1);
                seen.stallNs += (cycles - 1) * lastPeriodNs_;
            }
        }
    }
    if (periodNs > 0 && late > periodNs) {
        ++seen.underruns;
        seen.late = true;
    }
    started_ = true;
    lastStartNs_ = cycleStartNs;
    lastGraphNs_ = graphNs;
    lastPeriodNs_ = periodNs;
    return seen;
}

std::uint32_t fillPipeWireBuffer(RenderSource* source, float* data, std::uint32_t capacityFrames,
    std::uint64_t requested, bool& sounded) noexcept
{
    const auto frames = static_cast<std::uint32_t>(
        requested > 0 ? std::min<std::uint64_t>(requested, capacityFrames) : capacityFrames);
    sounded = renderOrSilence(source, data, frames);
    return frames;
}

// A pw_stream on a thread loop of its own. Its process callback runs on PipeWire's real-time
// data thread and renders straight into the buffer it is given; the thread loop, which is not
// real-time, chooses the quantum the stream asks the graph for.
class PipeWireOutput final : public OutputStream {
public:
    explicit PipeWireOutput(int rate)
        : rate_(rate)
        , chooser_("PipeWire",
              LatencyLadder::Rules::fromConfig(config::pipeWireQuantumSteps,
                  config::pipeWireFirstStep, rate_, config::pipeWireCloseCall,
                  config::pipeWireHolds, config::pipeWireStallsPastUnderruns),
              watch_, monotonicNs())
    {
    }
    ~PipeWireOutput() override;

    bool open(std::string& failure);
    int sampleRate() const noexcept override { return rate_; }
    // [player] The rate the graph runs at, once a cycle has come: 0 when none came in time.
    int graphRate() const;
    void start(RenderSource& source) override { source_.store(&source, std::memory_order_release); }
    bool lost() const noexcept override { return lost_.load(std::memory_order_acquire); }
    OutputInfo info() const override;

private:
    static void onProcess(void* data) noexcept;
    static void onStateChanged(
        void* data, pw_stream_state old, pw_stream_state state, const char* error);
    static void onCoreError(void* data, std::uint32_t id, int seq, int res, const char* message);
    static void onTick(void* data, std::uint64_t expirations);

    void process() noexcept;
    void choose();
    void reportForeignQuantum();
    bool connect(std::string& failure);
    bool makeStream(std::string& failure);
    bool waitUntilStreaming(std::string& failure);
    void startChoosing();

    int rate_;
    PipeWireClient client_;
    pw_stream* stream_ = nullptr;
    spa_hook coreListener_ {};
    spa_hook streamListener_ {};
    spa_source* timer_ = nullptr;
    pw_core_events coreEvents_ {};
    pw_stream_events streamEvents_ {};

    std::atomic<RenderSource*> source_ { nullptr };
    std::atomic<bool> lost_ { false };
    pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED; // thread loop only
    std::string error_; // thread loop only

    CycleWatch cycles_; // the data thread's own
    StreamWatch watch_;
    std::atomic<std::uint32_t> quantum_ { 0 };
    std::atomic<std::uint32_t> graphRate_ { 0 };

    LatencyChooser chooser_; // chooses on the thread loop
    // The thread loop's own: the graph's quantum at the last look, and the last one reported.
    std::uint32_t seenQuantum_ = 0;
    std::uint32_t reportedQuantum_ = 0;
};

PipeWireOutput::~PipeWireOutput()
{
    client_.stop();
    if (timer_)
        pw_loop_destroy_source(pw_thread_loop_get_loop(client_.loop()), timer_);
    if (stream_)
        pw_stream_destroy(stream_);
}

void PipeWireOutput::onProcess(void* data) noexcept
{
    static_cast<PipeWireOutput*>(data)->process();
}

void PipeWireOutput::process() noexcept
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (!buffer)
        return;
    // The graph's clock at this cycle's start, read before anything can make us late, and the
    // way that is safe here: it follows a change of driver without our having to.
    pw_time time {};
    const bool timed
        = pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom > 0;
    spa_data& plane = buffer->buffer->datas[0];
    bool sounded = false;
    std::uint32_t frames = 0;
    if (plane.data) {
        frames = fillPipeWireBuffer(source_.load(std::memory_order_acquire),
            static_cast<float*>(plane.data), plane.maxsize / stride, buffer->requested, sounded);
        plane.chunk->offset = 0;
        plane.chunk->stride = stride;
        plane.chunk->size = frames * stride;
    }
    pw_stream_queue_buffer(stream_, buffer);

    const std::int64_t done = monotonicNs();
    if (timed && time.rate.num == 1)
        graphRate_.store(time.rate.denom, std::memory_order_relaxed);
    if (timed) {
        const auto graphNs = static_cast<std::int64_t>(
            1e9 * static_cast<double>(time.ticks) * time.rate.num / time.rate.denom);
        const std::int64_t periodNs = 1'000'000'000LL * frames / rate_;
        const CycleWatch::Seen seen = cycles_.observe(time.now, graphNs, periodNs, done);
        if (seen.underruns > 0)
            watch_.underran(seen.underruns, done, seen.stallNs, seen.late && sounded);
        watch_.stalled(seen.stallNs);
    }
    // After the underruns: a gap is heard by the sound before it, a late block by its own.
    if (sounded)
        watch_.sounded(done);
    quantum_.store(frames, std::memory_order_relaxed);
}

void PipeWireOutput::onStateChanged(
    void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* self = static_cast<PipeWireOutput*>(data);
    self->state_ = state;
    if (state == PW_STREAM_STATE_ERROR) {
        self->error_ = error ? error : "stream error";
        self->lost_.store(true, std::memory_order_release);
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
        self->lost_.store(true, std::memory_order_release);
    }
    pw_thread_loop_signal(self->client_.loop(), false);
}

void PipeWireOutput::onCoreError(void* data, std::uint32_t id, int, int res, const char* message)
{
    auto* self = static_cast<PipeWireOutput*>(data);
    // An error on the core itself is the connection: the server is gone or refused us.
    if (id == PW_ID_CORE) {
        self->error_ = std::string(message ? message : "") + " (" + std::strerror(-res) + ")";
        self->lost_.store(true, std::memory_order_release);
        pw_thread_loop_signal(self->client_.loop(), false);
    }
}

void PipeWireOutput::onTick(void* data, std::uint64_t)
{
    static_cast<PipeWireOutput*>(data)->choose();
}

void PipeWireOutput::choose()
{
    if (const std::optional<int> quantum = chooser_.choose(monotonicNs())) {
        const std::string latency = latencyProperty(*quantum, rate_);
        const spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_NODE_LATENCY, latency.c_str());
        const spa_dict dict = SPA_DICT_INIT(&item, 1);
        pw_stream_update_properties(stream_, &dict);
    }
    reportForeignQuantum();
}

void PipeWireOutput::reportForeignQuantum()
{
    // The graph runs at the smallest quantum any of its clients asks for: ours cannot be larger
    // than another's, and a smaller one is not ours to refuse. Said once for each quantum that
    // stays a whole tick, so that the moment before the graph follows a climb is not taken
    // for it.
    const std::uint32_t quantum = quantum_.load(std::memory_order_relaxed);
    const bool steady = quantum == seenQuantum_;
    seenQuantum_ = quantum;
    const int target = chooser_.target();
    if (!steady || quantum == 0)
        return;
    if (quantum >= static_cast<std::uint32_t>(target)) {
        reportedQuantum_ = 0;
        return;
    }
    if (quantum == reportedQuantum_)
        return;
    reportedQuantum_ = quantum;
    qCInfo(lcAudio,
        "PipeWire: the graph runs at %u frames (%.1f ms), less than the %d asked for: another "
        "client sets its pace",
        quantum, framesToMs(static_cast<int>(quantum), rate_), target);
}

OutputInfo PipeWireOutput::info() const
{
    OutputInfo info;
    info.driver = "pipewire";
    info.sampleRate = rate_;
    info.bufferFrames = static_cast<int>(quantum_.load(std::memory_order_relaxed));
    info.targetLatencyFrames = chooser_.target();
    info.serverUnderruns = watch_.underruns();
    info.worstStallMs = chooser_.worstStallMs();
    return info;
}

bool PipeWireOutput::waitUntilStreaming(std::string& failure)
{
    timespec deadline {};
    pw_thread_loop_get_time(client_.loop(), &deadline,
        std::chrono::duration_cast<std::chrono::nanoseconds>(config::outputOpenTimeout).count());
    while (state_ != PW_STREAM_STATE_STREAMING && !lost()) {
        if (pw_thread_loop_timed_wait_full(client_.loop(), &deadline) == -ETIMEDOUT) {
            failure = "the stream was not linked to any output";
            return false;
        }
    }
    if (lost()) {
        failure = error_.empty() ? "the stream was refused" : error_;
        return false;
    }
    return true;
}

// [thread loop, locked]
bool PipeWireOutput::connect(std::string& failure)
{
    if (!client_.connect(failure))
        return false;
    coreEvents_.version = PW_VERSION_CORE_EVENTS;
    coreEvents_.error = onCoreError;
    pw_core_add_listener(client_.core(), &coreListener_, &coreEvents_, this);
    return true;
}

// [thread loop, locked] A stream of float stereo at our rate, linked to the default sink and
// following it when it changes.
bool PipeWireOutput::makeStream(std::string& failure)
{
    const std::string latency = latencyProperty(chooser_.target(), rate_);
    stream_ = pw_stream_new(client_.core(), "Drums",
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
            PW_KEY_MEDIA_ROLE, "Music", PW_KEY_APP_NAME, "Tamborel", PW_KEY_NODE_NAME, "tamborel",
            PW_KEY_NODE_LATENCY, latency.c_str(), nullptr));
    if (!stream_) {
        failure = std::string("no stream: ") + std::strerror(errno);
        return false;
    }
    streamEvents_.version = PW_VERSION_STREAM_EVENTS;
    streamEvents_.state_changed = onStateChanged;
    streamEvents_.process = onProcess;
    pw_stream_add_listener(stream_, &streamListener_, &streamEvents_, this);

    std::uint8_t podBuffer[1024];
    spa_pod_builder builder {};
    spa_pod_builder_init(&builder, podBuffer, sizeof(podBuffer));
    spa_audio_info_raw format {};
    format.format = SPA_AUDIO_FORMAT_F32;
    format.rate = static_cast<std::uint32_t>(rate_);
    format.channels = config::deviceChannels;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[]
        = { spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format) };
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        failure = std::string("cannot connect the stream: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// [thread loop, locked] The ticks that let the chooser move the quantum.
void PipeWireOutput::startChoosing()
{
    timer_ = pw_loop_add_timer(pw_thread_loop_get_loop(client_.loop()), onTick, this);
    const auto interval
        = std::chrono::duration_cast<std::chrono::nanoseconds>(config::latencyCheckInterval);
    timespec every { static_cast<time_t>(interval.count() / 1'000'000'000),
        static_cast<long>(interval.count() % 1'000'000'000) };
    pw_loop_update_timer(pw_thread_loop_get_loop(client_.loop()), timer_, &every, &every, false);
}

bool PipeWireOutput::open(std::string& failure)
{
    if (!client_.start("tamborel-pw", failure))
        return false;
    const PipeWireClient::Locked locked(client_);
    if (!connect(failure) || !makeStream(failure) || !waitUntilStreaming(failure))
        return false;
    startChoosing();
    qCInfo(lcAudio, "PipeWire output at %d Hz, asking for a quantum of %d frames (%.1f ms)", rate_,
        chooser_.target(), framesToMs(chooser_.target(), rate_));
    return true;
}

int PipeWireOutput::graphRate() const
{
    const auto deadline = std::chrono::steady_clock::now() + config::graphRatePatience;
    while (graphRate_.load(std::memory_order_relaxed) == 0
        && std::chrono::steady_clock::now() < deadline && !lost())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return static_cast<int>(graphRate_.load(std::memory_order_relaxed));
}

std::unique_ptr<OutputStream> openPipeWireOutput(std::string& failure)
{
    auto output = std::make_unique<PipeWireOutput>(config::preferredDeviceRate);
    if (!output->open(failure))
        return nullptr;
    // A graph at another rate, as a sink that runs at 44.1 kHz sets it, would resample every
    // frame of ours: ask again at its own rate.
    const int rate = output->graphRate();
    if (rate == output->sampleRate() || rate < config::minDeviceRate
        || rate > config::maxDeviceRate)
        return output;
    qCInfo(lcAudio, "PipeWire: the graph runs at %d Hz: opening again at its rate", rate);
    output.reset();
    output = std::make_unique<PipeWireOutput>(rate);
    if (!output->open(failure))
        return nullptr;
    return output;
}

} // namespace audio
