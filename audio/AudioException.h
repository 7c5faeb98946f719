#pragma once

#include <exception>
#include <iosfwd>
#include <string>
#include <vector>

namespace audio {

// A failure of the audio service. Keeps its type name, its message and the call stack where
// it was made, so a report on stderr says what failed and where.
class AudioException : public std::exception {
public:
    AudioException(std::string typeName, std::string message);
    // [any]
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& typeName() const noexcept { return typeName_; }
    const std::vector<void*>& stack() const noexcept { return stack_; }

private:
    std::string typeName_;
    std::string message_;
    std::vector<void*> stack_;
};

// Reading a file failed.
class IOException : public AudioException {
public:
    explicit IOException(std::string message)
        : AudioException("audio.IOException", std::move(message))
    {
    }
};

// The file is not audio in a form the service reads.
class UnsupportedAudioFileException : public AudioException {
public:
    explicit UnsupportedAudioFileException(std::string message)
        : AudioException("audio.UnsupportedAudioFileException", std::move(message))
    {
    }
};

// No output line can be had for the request: no device, or a format the mixer cannot take.
class LineUnavailableException : public AudioException {
public:
    explicit LineUnavailableException(std::string message)
        : AudioException("audio.LineUnavailableException", std::move(message))
    {
    }
};

// A call with arguments the callee cannot accept.
class IllegalArgumentException : public AudioException {
public:
    explicit IllegalArgumentException(std::string message)
        : AudioException("audio.IllegalArgumentException", std::move(message))
    {
    }
};

// [any] Writes "<type>: <message>" and, where one was captured, the call stack, one frame a line.
void printStackTrace(const std::exception& failure, std::ostream& out);
// [any] The same on the standard error stream, written in one piece, so reports from several
// threads do not interleave.
void printStackTrace(const std::exception& failure);

} // namespace audio
