#pragma once

#include "audio/AudioSystem.h"
#include "audio/mix/RateConverter.h"
#include "audio/mix/SampleDecoder.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace audio {

class Mixer;
struct LineState;

// One sound's output line. write decodes the bytes to float (mono as one channel), converts the
// rate when it differs from the mixer's, spreads mono to both sides, and publishes each small
// piece to the line's ring at once. Only one thread may write, drain and close; the mixer
// reads the ring on its own thread. Other threads may read its counts while it stays open.
class MixerLine final : public SourceDataLine {
public:
    explicit MixerLine(Mixer& mixer);
    // [player] Closes the line if it is open, which waits for render to let go of it.
    ~MixerLine() override;
    MixerLine(const MixerLine&) = delete;
    MixerLine& operator=(const MixerLine&) = delete;

    // [player] The line's own thread opens, starts, writes, drains and closes it; write blocks
    // while the ring is full and drain until the mixer has played everything.
    void open(const AudioFormat& format) override;
    bool isControlSupported(FloatControl::Type type) const override;
    FloatControl& getControl(FloatControl::Type type) override;
    void start() override;
    std::int32_t write(const std::byte* buffer, std::int32_t off, std::int32_t len) override;
    void drain() override;
    void close() override;

    // [player]
    bool isOpen() const { return state_ != nullptr; }
    // [any] Frames pushed to the ring so far (after rate conversion), and those not yet mixed.
    std::uint64_t framesQueued() const noexcept;
    std::uint64_t framesPending() const noexcept;
    // [any] True once drain has handed over the last frame.
    bool inputEnded() const noexcept;
    // [any] steady_clock nanoseconds of the first write (0 until then).
    std::int64_t firstWriteNs() const noexcept
    {
        return firstWriteNs_.load(std::memory_order_relaxed);
    }
    // [any] steady_clock nanoseconds of the moment the line first held enough for the mixer to
    // start it (0 until then).
    std::int64_t firstReadyNs() const noexcept
    {
        return firstReadyNs_.load(std::memory_order_relaxed);
    }
    // [any] steady_clock nanoseconds of the moment the mixer first mixed a frame of this line
    // (0 until then): less firstWriteNs, the line's start-up latency.
    std::int64_t firstOutputNs() const noexcept;

private:
    class Pan : public FloatControl {
    public:
        explicit Pan(MixerLine& line)
            : line_(line)
        {
        }
        Type getType() const override { return Type::PAN; }
        float getValue() const override;
        void setValue(float value) override;
        float getMinimum() const override { return -1.0f; }
        float getMaximum() const override { return 1.0f; }

    private:
        MixerLine& line_;
    };

    class Gain : public FloatControl {
    public:
        explicit Gain(MixerLine& line)
            : line_(line)
        {
        }
        Type getType() const override { return Type::MASTER_GAIN; }
        float getValue() const override;
        void setValue(float value) override;
        float getMinimum() const override { return -80.0f; }
        float getMaximum() const override { return 0.0f; }

    private:
        MixerLine& line_;
    };

    // in holds frames frames of the decoder's channels; a null in ends the input.
    void convertAndPush(const float* in, std::size_t frames);
    // Pushes frames frames of the decoder's channels, spread to stereo when mono.
    void pushDecoded(const float* in, std::size_t frames);
    void push(const float* stereo, std::size_t frames);
    // Makes the next line's converter, once: called when ours has frames enough for the mixer
    // to start it (or all it will get), so that making it neither holds up our start nor
    // falls to the next hit.
    void becameReady();
    bool waitForRoom(std::size_t frames);
    bool mixerStalled(
        std::uint64_t& lastBlocks, std::chrono::steady_clock::time_point& since) const;

    Mixer& mixer_;
    LineState* state_ = nullptr;
    AudioFormat format_;
    std::optional<SampleDecoder> decoder_;
    std::optional<RateConverter> converter_;
    bool spareLeft_ = false; // a converter made for the next line, once ours can sound
    std::vector<float> decoded_; // one piece, in the decoder's channels
    std::vector<float> converted_; // one converter call's output, the same
    std::vector<float> spread_; // mono spread to stereo
    Pan pan_ { *this };
    Gain gain_ { *this };
    // Atomic: another thread may time the line while it is written.
    std::atomic<std::int64_t> firstWriteNs_ { 0 };
    std::atomic<std::int64_t> firstReadyNs_ { 0 };
    // The mixer stopped taking frames (no device any more): further frames are dropped.
    bool abandoned_ = false;
};

} // namespace audio
