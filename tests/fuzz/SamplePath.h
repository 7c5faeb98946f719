#pragma once

// The whole way a sample file takes through the audio service, step by step as the player
// worker drives it, with no device: a second thread renders the mixer block by block the way
// the device callback would. Every invariant the service promises is checked on the way, and a
// broken one is noted in the outcome rather than thrown, so the fuzzer and the regression tests
// share one driver.

#include "audio/AudioFormat.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace sample_path {

struct Options {
    int mixerRate = 48000;
    // -1 full left, +1 full right, 0 leaves the line's pan alone (the worker's three positions).
    int position = 0;
    // Frames at the mixer's rate played at most; the rest of the file is still read to the end.
    // Keeps a tiny file that decodes to hours of sound from taking a fuzzer's whole budget.
    std::uint64_t maxPlayedFrames = std::numeric_limits<std::uint64_t>::max();
};

enum class End {
    Played, // read to the end, written, drained and closed
    UnsupportedFile, // the stream refused the content
    OpenFailed, // the stream could not read the file at all
    LineRefused, // the line would not take the stream's format
    ReadFailed, // a read failed midway; what came before was played
};

const char* endName(End end);

struct Outcome {
    End end = End::Played;
    std::string message; // of the failure that ended the path early
    audio::AudioFormat format; // as the stream reported it
    std::uint64_t reads = 0; // read calls that returned data
    std::uint64_t framesRead = 0;
    std::uint64_t framesWritten = 0; // input frames the line took
    std::uint64_t framesQueued = 0; // frames the line queued after rate conversion
    std::uint64_t framesLeft = 0; // queued frames the mixer had not played after drain
    float peak = 0; // largest magnitude rendered
    std::vector<std::string> faults; // broken invariants; empty when every one held
};

// Plays the file at path through a fresh mixer without a device.
Outcome play(const std::string& path, const Options& options = {});

} // namespace sample_path
