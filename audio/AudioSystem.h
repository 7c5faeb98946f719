#pragma once

#include "audio/AudioFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Each public function of the audio headers opens its comment with the threads that may call it:
//   [real-time]  the output stream's real-time thread: no lock, no allocation, no system call,
//                never throws (noexcept)
//   [player]     a player thread, which plays one sound and owns its input stream and line;
//                it may block
//   [event]      the event thread (Qt's GUI thread), which must never wait on a disk or device
//   [stream]     an output stream's own control thread (its server's main loop or its ticker)
//   [any]        any thread but the real-time one, which calls only what is marked
//                [real-time]
// Tags are joined as in "[player, event]". An object that one thread at a time may use says so
// in its class comment.
namespace audio {

// Sample frames read from a file, in the format the stream reports. Its player's own.
class AudioInputStream {
public:
    virtual ~AudioInputStream() = default;
    // [player]
    virtual AudioFormat getFormat() const = 0;
    // [player] Reads up to len bytes into buffer[off...]: always whole frames, so possibly fewer
    // than asked. Returns the number of bytes read, or -1 at the end of the stream. Throws
    // IOException when the file cannot be read.
    virtual std::int32_t read(std::byte* buffer, std::int32_t off, std::int32_t len) = 0;
};

// A float setting of a line; the pan goes from -1 (full left) to +1 (full right). Set by the
// line's player; render sees a new value from its next block.
class FloatControl {
public:
    // PAN from -1 (left) to 1 (right); MASTER_GAIN in decibels, from -80 up to 0 (as it is).
    enum class Type { PAN, MASTER_GAIN };
    virtual ~FloatControl() = default;
    // [player]
    virtual Type getType() const = 0;
    virtual float getValue() const = 0;
    virtual void setValue(float value) = 0;
    virtual float getMinimum() const = 0;
    virtual float getMaximum() const = 0;
};

// An output line: bytes written to it are played, mixed with every other open line. Its
// player's own: every call below is [player], one at a time.
class SourceDataLine {
public:
    virtual ~SourceDataLine() = default;
    // [player] Throws LineUnavailableException when the line cannot be opened for the format.
    virtual void open(const AudioFormat& format) = 0;
    // [player]
    virtual bool isControlSupported(FloatControl::Type type) const = 0;
    // [player] Throws IllegalArgumentException for a control the line does not support.
    virtual FloatControl& getControl(FloatControl::Type type) = 0;
    // [player]
    virtual void start() = 0;
    // [player] Writes len bytes from buffer[off...]; blocks while the line's buffer is full.
    // Returns the number of bytes taken.
    virtual std::int32_t write(const std::byte* buffer, std::int32_t off, std::int32_t len) = 0;
    // [player] Blocks until everything written has been played.
    virtual void drain() = 0;
    // [player] Never waits for render longer than a block: the line's memory is freed here.
    virtual void close() = 0;
};

// The sampled-audio service: input streams on files and output lines.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;
    // [player] Throws UnsupportedAudioFileException when the file is not audio it reads, and
    // IOException when the file cannot be read.
    virtual std::unique_ptr<AudioInputStream> getAudioInputStream(const std::string& path) = 0;
    // [player] Throws LineUnavailableException when no line can be had for the request. May wait
    // for the output device to open.
    virtual std::unique_ptr<SourceDataLine> getLine(const DataLineInfo& info) = 0;

    // [any] The service the players use: the real one unless a test installed its own.
    static AudioSystem& instance() noexcept;
    // [any] Installs a service, or the real one again for nullptr; returns the one before. Players
    // already running keep the one they took.
    static AudioSystem* setInstance(AudioSystem* system) noexcept;
};

} // namespace audio
