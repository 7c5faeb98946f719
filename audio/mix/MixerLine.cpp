#include "audio/mix/MixerLine.h"

#include "audio/AudioException.h"
#include "audio/Clock.h"
#include "audio/mix/LineState.h"
#include "audio/mix/MixConfig.h"
#include "audio/mix/Mixer.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace audio {

namespace {

constexpr std::size_t pieceFrames = config::writePieceFrames;
// Output room for one converter call; a longer output just takes more calls.
constexpr std::size_t convertedFrames = 4 * config::writePieceFrames;

// Sleeps about as long as the missing frames take to play (seconds), within the line's bounds.
void sleepForFrames(double seconds)
{
    const std::chrono::duration<double> shortest = config::shortestLineWait;
    const std::chrono::duration<double> longest = config::longestLineWait;
    std::this_thread::sleep_for(
        std::clamp(std::chrono::duration<double>(seconds), shortest, longest));
}

} // namespace

MixerLine::MixerLine(Mixer& mixer)
    : mixer_(mixer)
{
}

MixerLine::~MixerLine()
{
    close();
}

void MixerLine::open(const AudioFormat& format)
{
    if (state_)
        throw IllegalArgumentException("line already open");
    if (!SampleDecoder::accepts(format))
        throw LineUnavailableException("line does not support format " + format.toString()
            + SampleDecoder::refusalHint(format));

    format_ = format;
    decoder_.emplace(format, static_cast<int>(pieceFrames));
    const auto channels = static_cast<std::size_t>(decoder_->outputChannels());
    decoded_.assign(pieceFrames * channels, 0.0f);
    spread_.assign(channels == 1 ? 2 * convertedFrames : 0, 0.0f);
    converter_.reset();
    spareLeft_ = false;
    if (format.sampleRate != static_cast<float>(mixer_.sampleRate())) {
        converter_.emplace(format.sampleRate, mixer_.sampleRate(), static_cast<unsigned>(channels),
            mixer_.converterQuality()
                | config::converterPhase(format.sampleRate, mixer_.sampleRate()));
        converted_.assign(convertedFrames * channels, 0.0f);
    }
    abandoned_ = false;
    firstWriteNs_.store(0, std::memory_order_relaxed);
    firstReadyNs_.store(0, std::memory_order_relaxed);
    state_ = new LineState(config::ringFrames);
    mixer_.attach(state_);
}

bool MixerLine::isControlSupported(FloatControl::Type type) const
{
    return state_ && (type == FloatControl::Type::MASTER_GAIN || format_.channels <= 2);
}

FloatControl& MixerLine::getControl(FloatControl::Type type)
{
    const bool gain = type == FloatControl::Type::MASTER_GAIN;
    if (!isControlSupported(type))
        throw IllegalArgumentException(
            std::string("Unsupported control type: ") + (gain ? "MASTER_GAIN" : "PAN"));
    if (gain)
        return gain_;
    return pan_;
}

float MixerLine::Gain::getValue() const
{
    const float linear = line_.state_ ? line_.state_->gain.load(std::memory_order_relaxed) : 1.0f;
    return linear > 0.0f ? 20.0f * std::log10(linear) : getMinimum();
}

void MixerLine::Gain::setValue(float value)
{
    if (!(value >= getMinimum() && value <= getMaximum()))
        throw IllegalArgumentException(
            "Requested value " + std::to_string(value) + " out of range [-80, 0]");
    // 0 dB is exactly 1: a hit at full level comes out sample for sample.
    const float linear = value == 0.0f ? 1.0f : std::pow(10.0f, value / 20.0f);
    if (line_.state_)
        line_.state_->gain.store(linear, std::memory_order_relaxed);
}

float MixerLine::Pan::getValue() const
{
    return line_.state_ ? line_.state_->pan.load(std::memory_order_relaxed) : 0.0f;
}

void MixerLine::Pan::setValue(float value)
{
    if (!(value >= getMinimum() && value <= getMaximum()))
        throw IllegalArgumentException(
            "Requested value " + std::to_string(value) + " out of range [-1, 1]");
    if (line_.state_)
        line_.state_->pan.store(value, std::memory_order_relaxed);
}

void MixerLine::start()
{
    if (state_)
        state_->started.store(true, std::memory_order_release);
}

std::int32_t MixerLine::write(const std::byte* buffer, std::int32_t off, std::int32_t len)
{
    if (off < 0 || len < 0)
        throw IllegalArgumentException("negative offset or length");
    if (!state_)
        return 0;
    if (len % format_.frameSize != 0)
        throw IllegalArgumentException("illegal request to write non-integral number of frames ("
            + std::to_string(len) + " bytes, frameSize = " + std::to_string(format_.frameSize)
            + " bytes)");
    if (firstWriteNs_.load(std::memory_order_relaxed) == 0)
        firstWriteNs_.store(monotonicNs(), std::memory_order_relaxed);
    if (state_->ended.load(std::memory_order_relaxed)) {
        // Written again after a drain: the line goes on.
        state_->ended.store(false, std::memory_order_relaxed);
        if (converter_)
            converter_->restart();
    }

    const std::byte* in = buffer + off;
    std::size_t frames = static_cast<std::size_t>(len / format_.frameSize);
    // Piece by piece, each published before the next is converted: the mixer can play
    // the start of the chunk while the rest is still being converted.
    while (frames > 0 && !abandoned_) {
        const std::size_t piece = std::min(frames, pieceFrames);
        decoder_->decode(in, static_cast<int>(piece), decoded_.data());
        convertAndPush(decoded_.data(), piece);
        if (state_->ring.written() >= config::startFrames)
            becameReady();
        in += piece * static_cast<std::size_t>(format_.frameSize);
        frames -= piece;
    }
    return abandoned_ ? static_cast<std::int32_t>(in - (buffer + off)) : len;
}

// The mixer can start the line from here on: time it, and let the converter make a spare for
// the next line now that ours can sound.
void MixerLine::becameReady()
{
    if (firstReadyNs_.load(std::memory_order_relaxed) == 0)
        firstReadyNs_.store(monotonicNs(), std::memory_order_relaxed);
    if (!converter_ || spareLeft_)
        return;
    spareLeft_ = true;
    converter_->leaveSpare();
}

void MixerLine::convertAndPush(const float* in, std::size_t frames)
{
    if (!converter_) {
        if (in)
            pushDecoded(in, frames);
        return;
    }
    const auto channels = static_cast<std::size_t>(decoder_->outputChannels());
    for (;;) {
        std::size_t used = 0;
        const std::size_t produced
            = converter_->process(in, frames, used, converted_.data(), convertedFrames);
        pushDecoded(converted_.data(), produced);
        if (abandoned_)
            break;
        if (in) {
            in += used * channels;
            frames -= used;
            if (frames == 0 || (used == 0 && produced == 0))
                break;
        } else if (produced == 0) {
            break; // at the end, called until the filter has nothing left
        }
    }
}

void MixerLine::pushDecoded(const float* in, std::size_t frames)
{
    if (decoder_->outputChannels() == 2) {
        push(in, frames);
        return;
    }
    while (frames > 0 && !abandoned_) {
        const std::size_t piece = std::min(frames, spread_.size() / 2);
        for (std::size_t i = 0; i < piece; ++i)
            spread_[2 * i] = spread_[2 * i + 1] = in[i];
        push(spread_.data(), piece);
        in += piece;
        frames -= piece;
    }
}

void MixerLine::push(const float* stereo, std::size_t frames)
{
    while (frames > 0 && !abandoned_) {
        const std::size_t pushed = state_->ring.push(stereo, frames);
        stereo += pushed * 2;
        frames -= pushed;
        if (frames > 0
            && !waitForRoom(std::min(frames, config::ringFrames / config::ringRefillDivisor)))
            abandoned_ = true;
    }
}

bool MixerLine::mixerStalled(
    std::uint64_t& lastBlocks, std::chrono::steady_clock::time_point& since) const
{
    const std::uint64_t blocks = mixer_.blocks();
    const auto now = std::chrono::steady_clock::now();
    if (blocks != lastBlocks) {
        lastBlocks = blocks;
        since = now;
        return false;
    }
    return now - since > config::stalledMixerTimeout;
}

bool MixerLine::waitForRoom(std::size_t frames)
{
    // The mixer is never asked to wake us: sleep about as long as it takes to play the
    // missing frames, then look again.
    std::uint64_t lastBlocks = mixer_.blocks();
    auto since = std::chrono::steady_clock::now();
    for (;;) {
        const std::size_t room = state_->ring.freeFrames();
        if (room >= frames)
            return true;
        if (mixerStalled(lastBlocks, since))
            return false;
        const double seconds = static_cast<double>(frames - room) / mixer_.sampleRate();
        sleepForFrames(seconds);
    }
}

void MixerLine::drain()
{
    if (!state_)
        return;
    if (converter_ && !abandoned_) {
        // End of input: the converter gives out the tail it still holds.
        convertAndPush(nullptr, 0);
    }
    state_->ended.store(true, std::memory_order_release);
    becameReady();
    // A line never started would wait for ever: nothing will play it.
    if (!state_->started.load(std::memory_order_relaxed) || abandoned_)
        return;
    std::uint64_t lastBlocks = mixer_.blocks();
    auto since = std::chrono::steady_clock::now();
    for (;;) {
        const std::uint64_t left = state_->ring.written() - state_->ring.consumed();
        if (left == 0 || mixerStalled(lastBlocks, since))
            return;
        const double seconds = static_cast<double>(left) / mixer_.sampleRate();
        sleepForFrames(seconds);
    }
}

void MixerLine::close()
{
    if (!state_)
        return;
    mixer_.detach(state_);
    delete state_;
    state_ = nullptr;
    converter_.reset();
    decoder_.reset();
}

std::uint64_t MixerLine::framesQueued() const noexcept
{
    return state_ ? state_->ring.written() : 0;
}

std::uint64_t MixerLine::framesPending() const noexcept
{
    return state_ ? state_->ring.written() - state_->ring.consumed() : 0;
}

bool MixerLine::inputEnded() const noexcept
{
    return state_ && state_->ended.load(std::memory_order_acquire);
}

std::int64_t MixerLine::firstOutputNs() const noexcept
{
    return state_ ? state_->firstOutputNs.load(std::memory_order_relaxed) : 0;
}

} // namespace audio
