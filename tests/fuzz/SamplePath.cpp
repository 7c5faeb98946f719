#include "SamplePath.h"

#include "audio/AePlayWave.h"
#include "audio/AudioException.h"
#include "audio/SndfileInputStream.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"
#include "audio/mix/MixerLine.h"
#include "audio/mix/SampleDecoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <typeinfo>

namespace sample_path {

using namespace audio;

namespace {

constexpr int block = config::deviceBufferFrames;
constexpr std::int32_t request = AePlayWave::EXTERNAL_BUFFER_SIZE;

std::string text(float x)
{
    std::ostringstream out;
    out << x;
    return out.str();
}

// Renders the mixer without pause, as a device that never waits would, and checks every
// sample that comes out.
class Renderer {
public:
    explicit Renderer(Mixer& mixer)
        : mixer_(mixer)
        , thread_([this] { run(); })
    {
    }
    ~Renderer() { stop(); }
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    void stop()
    {
        if (!thread_.joinable())
            return;
        stopping_.store(true, std::memory_order_relaxed);
        thread_.join();
    }
    // Only after stop.
    float peak() const { return peak_; }
    const std::string& fault() const { return fault_; }

private:
    void run()
    {
        std::vector<float> out(2 * block);
        for (unsigned blocks = 1; !stopping_.load(std::memory_order_relaxed); ++blocks) {
            mixer_.render(out.data(), block);
            for (const float x : out) {
                if (std::isfinite(x) && x >= -1.0f && x <= 1.0f)
                    peak_ = std::max(peak_, std::abs(x));
                else if (fault_.empty())
                    fault_ = "render put out " + text(x);
            }
            // Now and then only: on a busy machine each yield can cost a whole time slice.
            if (blocks % 16 == 0)
                std::this_thread::yield();
        }
    }

    Mixer& mixer_;
    std::atomic<bool> stopping_ { false };
    float peak_ = 0;
    std::string fault_;
    std::thread thread_; // last: starts once everything above is ready
};

void checkFormat(const AudioFormat& f, std::vector<std::string>& faults)
{
    const bool sizeOk = f.encoding == Encoding::PCM_FLOAT
        ? (f.sampleSizeInBits == 32 || f.sampleSizeInBits == 64)
        : (f.sampleSizeInBits == 8 || f.sampleSizeInBits == 16 || f.sampleSizeInBits == 24
            || f.sampleSizeInBits == 32);
    if (f.channels < 1 || !(f.sampleRate > 0) || !std::isfinite(f.sampleRate) || !sizeOk
        || f.frameSize != f.channels * f.sampleSizeInBits / 8)
        faults.push_back("stream reported a format no frame fits: " + f.toString());
    // A frame wider than the worker's buffer could never be read: the worker would spin.
    else if (f.frameSize > request)
        faults.push_back("frames wider than the worker's buffer: " + f.toString());
}

// What the line's own decoder makes of a chunk must be finite, and within full scale or, for a
// fold-down of more than two channels, within what its speakers add up to; more would swamp
// every other sound in the mix, and a NaN would silence it.
void checkDecoded(SampleDecoder& decoder, const std::byte* in, std::int32_t frames, int frameSize,
    std::vector<std::string>& faults)
{
    float bound = 1.0f;
    if (decoder.channelGains().size() > 2) {
        float left = 0, right = 0;
        for (const auto& g : decoder.channelGains()) {
            left += g[0];
            right += g[1];
        }
        bound = std::max(left, right) * (1.0f + 1e-6f);
    }
    const int channels = decoder.outputChannels();
    std::vector<float> out(static_cast<std::size_t>(channels * block));
    for (std::int32_t at = 0; at < frames; at += block) {
        const int n = std::min(block, frames - at);
        decoder.decode(in + static_cast<std::ptrdiff_t>(at) * frameSize, n, out.data());
        for (int i = 0; i < channels * n; ++i) {
            const float x = out[static_cast<std::size_t>(i)];
            if (!std::isfinite(x) || x < -bound || x > bound) {
                faults.push_back("decoder put out " + text(x) + " at frame "
                    + std::to_string(at + i / channels) + " of a chunk");
                return;
            }
        }
    }
}

std::string describe(const std::exception& failure)
{
    if (const auto* audio = dynamic_cast<const AudioException*>(&failure))
        return audio->typeName() + ": " + audio->what();
    return std::string(typeid(failure).name()) + ": " + failure.what();
}

// Writes a chunk in pieces that fit the ring's free room, so write never has to wait for the
// mixer; a resampler never puts out more than ratio frames per input frame, plus one.
bool writeChunk(MixerLine& line, const std::byte* data, std::int32_t frames, int frameSize,
    double ratio, Outcome& outcome)
{
    std::int32_t done = 0;
    while (done < frames) {
        const std::uint64_t pending = line.framesPending();
        const double room = static_cast<double>(config::ringFrames - pending)
            + static_cast<double>(line.framesQueued()) - 16;
        const auto allowed = static_cast<std::int64_t>(std::floor(room / ratio))
            - static_cast<std::int64_t>(outcome.framesWritten);
        if (allowed < 1 && pending >= config::startFrames) {
            std::this_thread::yield(); // the mixer is playing the line: room will come
            continue;
        }
        const auto count
            = static_cast<std::int32_t>(std::clamp<std::int64_t>(allowed, 1, frames - done));
        const std::int32_t bytes = count * frameSize;
        const std::int32_t took = line.write(data, done * frameSize, bytes);
        if (took != bytes) {
            outcome.faults.push_back(
                "write took " + std::to_string(took) + " of " + std::to_string(bytes) + " bytes");
            return false;
        }
        done += count;
        outcome.framesWritten += static_cast<std::uint64_t>(count);
    }
    return true;
}

} // namespace

const char* endName(End end)
{
    switch (end) {
    case End::Played:
        return "played";
    case End::UnsupportedFile:
        return "unsupported file";
    case End::OpenFailed:
        return "open failed";
    case End::LineRefused:
        return "line refused";
    case End::ReadFailed:
        return "read failed";
    }
    return "?";
}

Outcome play(const std::string& path, const Options& options)
{
    Outcome outcome;
    auto& faults = outcome.faults;

    std::unique_ptr<AudioInputStream> stream;
    try {
        stream = std::make_unique<SndfileInputStream>(path);
    } catch (const UnsupportedAudioFileException& failure) {
        outcome.end = End::UnsupportedFile;
        outcome.message = failure.what();
        return outcome;
    } catch (const IOException& failure) {
        outcome.end = End::OpenFailed;
        outcome.message = failure.what();
        return outcome;
    }
    const AudioFormat format = stream->getFormat();
    outcome.format = format;
    checkFormat(format, faults);
    if (!faults.empty())
        return outcome;

    Mixer mixer(options.mixerRate);
    MixerLine line(mixer);
    try {
        line.open(format);
    } catch (const LineUnavailableException& failure) {
        outcome.end = End::LineRefused;
        outcome.message = failure.what();
        return outcome;
    }
    if (options.position != 0 && line.isControlSupported(FloatControl::Type::PAN))
        line.getControl(FloatControl::Type::PAN).setValue(options.position < 0 ? -1.0f : 1.0f);
    line.start();
    Renderer renderer(mixer);

    const double ratio = mixer.sampleRate() / static_cast<double>(format.sampleRate);
    const double writable = std::floor(static_cast<double>(options.maxPlayedFrames) / ratio);
    SampleDecoder decoder(format, block);
    std::vector<std::byte> buffer(static_cast<std::size_t>(request));
    try {
        for (;;) {
            const std::int32_t n = stream->read(buffer.data(), 0, request);
            if (n == -1)
                break;
            if (n <= 0 || n > request || n % format.frameSize != 0) {
                faults.push_back("read of " + std::to_string(request) + " bytes returned "
                    + std::to_string(n) + " with frames of " + std::to_string(format.frameSize));
                break;
            }
            ++outcome.reads;
            const std::int32_t frames = n / format.frameSize;
            outcome.framesRead += static_cast<std::uint64_t>(frames);
            if (faults.empty())
                checkDecoded(decoder, buffer.data(), frames, format.frameSize, faults);
            const double left = writable - static_cast<double>(outcome.framesWritten);
            const auto take = static_cast<std::int32_t>(std::clamp(left, 0.0, double(frames)));
            if (take > 0
                && !writeChunk(line, buffer.data(), take, format.frameSize, ratio, outcome))
                break;
        }
    } catch (const IOException& failure) {
        outcome.end = End::ReadFailed;
        outcome.message = failure.what();
    } catch (const std::exception& failure) {
        faults.push_back("unexpected " + describe(failure));
    }

    // drain sleeps about as long as the queued frames last at a device's pace, and the renderer
    // here plays them far faster: let it catch up first, or most of the time goes to sleeping.
    // A line with fewer frames than the mixer waits for, to begin or to come back after running
    // dry, plays them only once drain marks its end.
    while (line.framesPending() >= config::startFrames)
        std::this_thread::yield();
    line.drain();
    outcome.framesQueued = line.framesQueued();
    outcome.framesLeft = line.framesPending();
    line.close();
    renderer.stop();
    outcome.peak = renderer.peak();
    if (!renderer.fault().empty())
        faults.push_back(renderer.fault());
    if (outcome.framesLeft != 0)
        faults.push_back(
            "drain returned with " + std::to_string(outcome.framesLeft) + " frames not played");
    // The whole sound reaches the mixer: as many frames as written, at the mixer's rate.
    const double expected = static_cast<double>(outcome.framesWritten) * ratio;
    if (std::abs(static_cast<double>(outcome.framesQueued) - expected) > ratio + 2)
        faults.push_back("line queued " + std::to_string(outcome.framesQueued) + " frames for "
            + std::to_string(outcome.framesWritten) + " written at a rate ratio of "
            + std::to_string(ratio));
    return outcome;
}

} // namespace sample_path
