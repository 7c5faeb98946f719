#include "SoundServers.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace audio_test {

namespace fs = std::filesystem;

bool haveProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && ::access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

EnvironmentGuard::EnvironmentGuard(std::string name, const char* value)
    : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str())) {
        had_ = true;
        old_ = old;
    }
    if (value)
        ::setenv(name_.c_str(), value, 1);
    else
        ::unsetenv(name_.c_str());
}

EnvironmentGuard::~EnvironmentGuard()
{
    if (had_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

SoundServer::SoundServer(const std::string& name)
{
    static int made = 0;
    dir_ = fs::temp_directory_path()
        / ("tamborel-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
    runtime_ = dir_ / "run";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
}

SoundServer::~SoundServer()
{
    kill();
    while (!guards_.empty())
        guards_.pop_back();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void SoundServer::point(const std::string& name, const std::string& value)
{
    guards_.push_back(std::make_unique<EnvironmentGuard>(name, value.c_str()));
}

void SoundServer::kill()
{
    for (pid_t pid : pids_)
        ::kill(pid, SIGKILL);
    for (pid_t pid : pids_)
        ::waitpid(pid, nullptr, 0);
    pids_.clear();
}

std::string SoundServer::logs() const
{
    std::string text;
    for (const std::string& name : logNames_) {
        std::ifstream in(dir_ / (name + ".log"));
        text += "-- " + name + ":\n" + std::string(std::istreambuf_iterator<char>(in), {});
    }
    return text;
}

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// The environment of this process with the server's variables over it.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& over)
{
    std::vector<std::string> merged(over);
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& o : over)
            replaced = replaced || o.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            merged.push_back(entry);
    }
    return merged;
}

} // namespace

pid_t SoundServer::spawn(const std::string& logName, const std::vector<std::string>& argv)
{
    std::vector<std::string> args(argv);
    std::vector<std::string> env = mergedEnvironment(env_);
    const fs::path log = dir_ / (logName + ".log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(
        &pid, args[0].c_str(), &actions, nullptr, pointers(args).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return 0;
    logNames_.push_back(logName);
    return pid;
}

bool SoundServer::run(const std::vector<std::string>& argv) const
{
    std::vector<std::string> args(argv);
    std::vector<std::string> env = mergedEnvironment(env_);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(
        &pid, args[0].c_str(), &actions, nullptr, pointers(args).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SoundServer::waitUntil(
    const std::vector<std::string>& probe, std::chrono::seconds patience) const
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (run(probe))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

PulseAudioServer::PulseAudioServer()
    : SoundServer("pulse")
{
    const std::string socket = (dir_ / "pulse").string();
    env_ = { "XDG_RUNTIME_DIR=" + runtime_.string(), "PULSE_SERVER=unix:" + socket };
    const pid_t pid = spawn("pulseaudio",
        { "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--system=false",
            "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
            "--load=module-null-sink sink_name=cap rate=48000" });
    if (!pid) {
        failure_ = "cannot start pulseaudio";
        return;
    }
    pids_.push_back(pid);
    if (!waitUntil({ "pactl", "info" }, std::chrono::seconds(10))) {
        failure_ = "pulseaudio did not answer\n" + logs();
        return;
    }
    run({ "pactl", "set-default-sink", "cap" });
    // The back-ends find this server and no PipeWire one.
    point("XDG_RUNTIME_DIR", runtime_.string());
    point("PULSE_SERVER", "unix:" + socket);
}

PipeWireServer::PipeWireServer(bool withPulse)
    : SoundServer("pipewire")
{
    const std::string bus = "unix:path=" + (runtime_ / "bus").string();
    const std::string pulse = "unix:" + (runtime_ / "pulse" / "native").string();
    env_ = { "XDG_RUNTIME_DIR=" + runtime_.string(), "DBUS_SESSION_BUS_ADDRESS=" + bus,
        "PULSE_SERVER=" + pulse };
    auto start = [this](const std::string& name, std::vector<std::string> argv) {
        const pid_t pid = spawn(name, argv);
        if (pid)
            pids_.push_back(pid);
        else
            failure_ = "cannot start " + name;
        return pid != 0;
    };
    if (!start("dbus", { "dbus-daemon", "--session", "--nofork", "--address=" + bus }))
        return;
    if (!waitUntil({ "dbus-send", "--bus=" + bus, "--dest=org.freedesktop.DBus",
                       "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId" },
            std::chrono::seconds(10))) {
        failure_ = "the session bus did not answer\n" + logs();
        return;
    }
    if (!start("pipewire", { "pipewire" }))
        return;
    if (!waitUntil({ "pw-cli", "info", "0" }, std::chrono::seconds(10))) {
        failure_ = "pipewire did not answer\n" + logs();
        return;
    }
    if (!start("wireplumber", { "wireplumber" }))
        return;
    if (!run({ "pw-cli", "create-node", "adapter",
            "{ factory.name=support.null-audio-sink node.name=cap media.class=Audio/Sink "
            "audio.position=[FL FR] audio.rate=48000 object.linger=true }" })) {
        failure_ = "cannot make the null sink\n" + logs();
        return;
    }
    // WirePlumber makes the only sink the default one; wait until it has.
    if (!waitUntil({ "sh", "-c", "pw-metadata 0 default.audio.sink | grep -q cap" },
            std::chrono::seconds(10))) {
        failure_ = "no default sink\n" + logs();
        return;
    }
    if (withPulse) {
        if (!start("pipewire-pulse", { "pipewire-pulse" }))
            return;
        if (!waitUntil({ "pactl", "info" }, std::chrono::seconds(10))) {
            failure_ = "pipewire-pulse did not answer\n" + logs();
            return;
        }
    }
    point("XDG_RUNTIME_DIR", runtime_.string());
    point("DBUS_SESSION_BUS_ADDRESS", bus);
    // Without pipewire-pulse nothing answers there: a PulseAudio back-end finds no server.
    point("PULSE_SERVER", pulse);
}

} // namespace audio_test
