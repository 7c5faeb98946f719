#pragma once

// Private sound servers started by a test, the way a desktop runs them: a PulseAudio server,
// or a PipeWire server with WirePlumber, each with one null sink "cap" at 48 kHz. The
// process's environment is pointed at the server while it lives, and put back afterwards.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace audio_test {

// Whether a program is on the PATH.
bool haveProgram(const std::string& name);

// Sets an environment variable (nullptr: unsets it) until destroyed.
class EnvironmentGuard {
public:
    EnvironmentGuard(std::string name, const char* value);
    ~EnvironmentGuard();
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

class SoundServer {
public:
    virtual ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // False, with the reason in failure(), when it did not come up.
    bool started() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }
    // Ends every process of the server at once, as a crash would.
    void kill();
    // What the server wrote, for a failing test's message.
    std::string logs() const;

protected:
    explicit SoundServer(const std::string& name);
    pid_t spawn(const std::string& logName, const std::vector<std::string>& argv);
    // Runs a command to its end with the server's environment; true when it succeeds.
    bool run(const std::vector<std::string>& argv) const;
    bool waitUntil(const std::vector<std::string>& probe, std::chrono::seconds patience) const;

    std::filesystem::path dir_;
    std::filesystem::path runtime_;
    std::vector<std::string> env_; // NAME=value for the server's processes
    std::vector<pid_t> pids_;
    std::vector<std::string> logNames_;
    std::string failure_;
    std::vector<std::unique_ptr<EnvironmentGuard>> guards_;
    void point(const std::string& name, const std::string& value);
};

class PulseAudioServer final : public SoundServer {
public:
    PulseAudioServer();
};

class PipeWireServer final : public SoundServer {
public:
    // withPulse: also its PulseAudio server, pipewire-pulse.
    explicit PipeWireServer(bool withPulse = false);
};

} // namespace audio_test
