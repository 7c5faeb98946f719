// What a listener hears: the delay from a key event reaching the main window to its drum's
// sound at the sound server's output, against a minimal client that starts a preloaded click
// in its very next block on the same server, triggered at the same instant, both found in one
// recording of the server's monitor (the null sink renders ahead of the wall clock, so only
// differences within the recording mean anything). Prints a table; passes or fails nothing.
//
//   tamborel-heardbench [PRESSES] [MONITOR] [QUANTUM] [linger|midi]
//       (defaults: 100, cap.monitor, none, no lingering)
// The presses begin 3 s after the output opens, as soon as a user could play. On PipeWire, a
// QUANTUM makes the reference ask for it, which sets the whole graph's pace when it is the
// smallest asked for: both are then measured at it, whether the machine holds it or not (the
// underruns say). "linger" then plays for 30 s and rests for a minute, telling the buffer the
// stream asks for after each, and what the program and the server (BENCH_SERVER_PID) cost over
// the rest's last 20 s. "midi" (PipeWire only) strikes every other hit as a note from a MIDI
// source of the bench's own, which the program links as it would a drum kit plugged in, and
// tells keys and notes apart; then how many notes a second the input takes without a loss.
#include "app/Main.h"
#include "audio/OutputDevice.h"
#include "audio/mix/Mixer.h"
#include "bench/BenchFigures.h"
#include "bench/ReferenceClick.h"
#include "bindings/DrumKeys.h"
#include "midi/MidiDispatch.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using bench::percentile;
namespace fs = std::filesystem;

constexpr int rate = 48000;

// Every drum of the kit "bench" is the same 2 ms click in the right channel only, so the
// recording's right channel is the program and its left one the reference.
void writeClickKit(const fs::path& folder)
{
    fs::create_directories(folder);
    std::vector<float> frames(2 * rate / 20, 0.0f); // 50 ms
    for (int i = 0; i < 96; ++i)
        frames[static_cast<std::size_t>(2 * i + 1)] = 0.5f;
    for (const char* name : { "Bass", "Snare", "Tom1", "Tom2", "FloorTom", "HiHat", "OHiHat",
             "Ride", "RideCup", "Crash", "China", "Splash" }) {
        SF_INFO info { 0, rate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0 };
        SNDFILE* file = sf_open((folder / (std::string(name) + ".wav")).c_str(), SFM_WRITE, &info);
        sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
        sf_close(file);
    }
}

// A recorder that asks for little latency sets the pace of a whole PipeWire graph (20 ms: 512
// frames); this one leaves it to the stream being measured.
pid_t startRecorder(const std::string& monitor, const fs::path& file)
{
    std::vector<std::string> args { "parec", "-d", monitor, "--format=float32le", "--rate=48000",
        "--channels=2", "--latency-msec=200" };
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "parec", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : 0;
}

// Sample indices where a channel rises above half the click after 5 ms of quiet.
std::vector<std::size_t> onsets(const std::vector<float>& stereo, int channel)
{
    std::vector<std::size_t> found;
    std::size_t quiet = 0;
    for (std::size_t i = 0; 2 * i + 1 < stereo.size(); ++i) {
        const float x = std::fabs(stereo[2 * i + static_cast<std::size_t>(channel)]);
        if (x > 0.25f && quiet >= rate / 200)
            found.push_back(i);
        quiet = x < 0.01f ? quiet + 1 : 0;
    }
    return found;
}

void printBuffer(const char* when, const audio::OutputInfo& info)
{
    std::printf("buffer asked for %-34s %5d frames (%5.2f ms), graph blocks %d frames, %llu "
                "underruns so far\n",
        when, info.targetLatencyFrames, 1000.0 * info.targetLatencyFrames / info.sampleRate,
        info.bufferFrames, static_cast<unsigned long long>(info.serverUnderruns));
    std::fflush(stdout);
}

// The processor time a process has used, from /proc/PID/stat; NAN when it cannot be read.
double cpuSeconds(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    // The fields after the command's closing parenthesis: utime and stime are the 12th and 13th.
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos)
        return NAN;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Keeps on playing a hit every 100 ms for a while, then stays silent for a while, telling the
// buffer after each: what the stream settles on once it has been heard, and once it has rested.
void playThenRest(Main& window, std::chrono::seconds playing, std::chrono::seconds resting)
{
    const auto until = std::chrono::steady_clock::now() + playing;
    while (std::chrono::steady_clock::now() < until) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_P, Qt::NoModifier);
        window.KeyListener(&press);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    printBuffer(
        ("after " + std::to_string(playing.count()) + " s of sound").c_str(), audio::outputInfo());
    // The last third of the rest tells what the stream costs at idle on the step it chose.
    const auto measured = resting / 3;
    std::this_thread::sleep_for(resting - measured);
    const char* serverPid = std::getenv("BENCH_SERVER_PID");
    const double ours = cpuSeconds("self");
    const double server = serverPid ? cpuSeconds(serverPid) : NAN;
    std::this_thread::sleep_for(measured);
    printBuffer(("after " + std::to_string(resting.count()) + " s of silence").c_str(),
        audio::outputInfo());
    const double span = static_cast<double>(measured.count());
    std::printf("at idle over the last %lld s: the program %.2f %% of a core, the server %.2f %%\n",
        static_cast<long long>(measured.count()), 100.0 * (cpuSeconds("self") - ours) / span,
        serverPid ? 100.0 * (cpuSeconds(serverPid) - server) / span : NAN);
    std::fflush(stdout);
}

// Sleeps while the event thread goes on: MIDI notes are played from it.
void waitServing(std::chrono::milliseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

// Notes struck at perSecond for seconds: how many the program played.
void noteRate(bench::MidiSource& source, int perSecond, int seconds)
{
    const audio::Mixer& mixer = audio::outputMixer();
    const auto opened = mixer.linesOpened();
    const auto start = std::chrono::steady_clock::now();
    const int notes = perSecond * seconds;
    for (int i = 0; i < notes; ++i) {
        source.strike(36, 127);
        const auto next = start + std::chrono::microseconds(1'000'000LL * (i + 1) / perSecond);
        while (std::chrono::steady_clock::now() < next)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    waitServing(std::chrono::seconds(2));
    std::printf("notes struck %d a second for %d s: %d, played %llu\n", perSecond, seconds, notes,
        static_cast<unsigned long long>(mixer.linesOpened() - opened));
    std::fflush(stdout);
}

void print(const char* what, const std::vector<double>& values)
{
    std::printf("%-58s %6zu %8.2f %8.2f %8.2f %8.2f\n", what, values.size(),
        values.empty() ? NAN : *std::min_element(values.begin(), values.end()),
        percentile(values, 50), percentile(values, 99),
        values.empty() ? NAN : *std::max_element(values.begin(), values.end()));
}

// The minimal client of the output's own server whose click each press is measured against.
std::unique_ptr<bench::ReferenceClick> openReference(
    const audio::OutputInfo& device, int quantum, std::string& failure)
{
    if (device.driver == "pipewire")
        return bench::openPipeWireReference(failure, quantum);
    if (device.driver == "pulseaudio")
        return bench::openPulseAudioReference(device.targetLatencyFrames, failure);
    failure = "no reference client for the driver \"" + device.driver + "\"";
    return nullptr;
}

// Underruns of the server and of the mixer since the counts were taken.
struct UnderrunCounts {
    std::uint64_t server = audio::outputInfo().serverUnderruns;
    std::uint64_t mixer = audio::outputMixer().underruns();
};

// Strikes the presses, each a key (or, every other one, a MIDI note) at the instant of a
// reference click, while parec records the server's monitor; returns the recording, which is
// empty when parec would not start.
std::vector<float> recordPresses(Main& window, bench::ReferenceClick& reference,
    bench::MidiSource* pads, int presses, const std::string& monitor, const fs::path& recording)
{
    const pid_t recorder = startRecorder(monitor, recording);
    if (!recorder)
        return {};
    // Until the recorder delivers, and a little more.
    for (int i = 0; i < 100 && (!fs::exists(recording) || fs::file_size(recording) == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int i = 0; i < presses; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_P, Qt::NoModifier);
        reference.trigger();
        if (pads && i % 2)
            pads->strike(36, 127);
        else
            window.KeyListener(&press);
        waitServing(std::chrono::milliseconds(150));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(recorder, SIGTERM);
    ::waitpid(recorder, nullptr, 0);

    std::ifstream in(recording, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<float> stereo(bytes.size() / sizeof(float));
    std::memcpy(stereo.data(), bytes.data(), stereo.size() * sizeof(float));
    return stereo;
}

// Each press's two sounds: the nearest of ours to each reference click, within 50 ms. Ours may
// come first: each client's buffer is at its own point of its cycle when the press comes. With
// notes, every other press was one.
void reportHeard(
    const std::vector<float>& stereo, int presses, bool withNotes, const UnderrunCounts& before)
{
    const auto references = onsets(stereo, 0), ours = onsets(stereo, 1);
    std::vector<double> behind, byKey, byNote;
    std::size_t next = 0;
    const std::size_t pairing = rate * 50 / 1000;
    for (std::size_t k = 0; k < references.size(); ++k) {
        const std::size_t at = references[k];
        while (next < ours.size() && ours[next] + pairing < at)
            ++next;
        if (next >= ours.size() || ours[next] > at + pairing)
            continue;
        const double ms
            = 1000.0 * (static_cast<double>(ours[next]) - static_cast<double>(at)) / rate;
        behind.push_back(ms);
        // Every reference click heard: the k-th is the k-th hit's.
        if (withNotes && references.size() == static_cast<std::size_t>(presses))
            (k % 2 ? byNote : byKey).push_back(ms);
    }
    const audio::OutputInfo after = audio::outputInfo();
    const UnderrunCounts now;
    std::printf("== Heard: key event to sound at the server, behind a minimal client of the same "
                "server (driver \"%s\", %d Hz, %d-frame blocks, target latency %d frames = %.2f "
                "ms)\n",
        after.driver.c_str(), after.sampleRate, after.bufferFrames, after.targetLatencyFrames,
        1000.0 * after.targetLatencyFrames / after.sampleRate);
    std::printf("%-58s %6s %8s %8s %8s %8s\n", "", "found", "min ms", "median", "p99", "max");
    print("our sound behind the reference click", behind);
    if (withNotes) {
        print("  of a key press", byKey);
        print("  of a MIDI note", byNote);
    }
    std::printf("presses %d, reference clicks heard %zu, our sounds heard %zu; underruns during "
                "the run: server %llu, mixer %llu\n",
        presses, references.size(), ours.size(),
        static_cast<unsigned long long>(now.server - before.server),
        static_cast<unsigned long long>(now.mixer - before.mixer));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int presses = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string monitor = argc > 2 ? argv[2] : "cap.monitor";
    const int quantum = argc > 3 ? std::atoi(argv[3]) : 0;
    const bool linger = argc > 4 && std::string(argv[4]) == "linger";
    const bool midi = argc > 4 && std::string(argv[4]) == "midi";
    QTemporaryDir scratch;
    writeClickKit(fs::path(scratch.path().toStdString()) / "kits" / "bench");
    QDir::setCurrent(scratch.path());
    DrumKeys::drumFolder = QStringLiteral("bench");

    audio::openOutputEarly();
    try {
        audio::outputMixer();
    } catch (const std::exception& failure) {
        std::printf("== Heard: no device (%s)\n", failure.what());
        return 0;
    }
    // As a user would who plays as soon as the window is there: the stream has had the
    // silence since start-up to learn the machine.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const audio::OutputInfo device = audio::outputInfo();
    printBuffer("3 s after start-up", device);
    std::string failure;
    const auto reference = openReference(device, quantum, failure);
    if (!reference) {
        std::printf("== Heard: %s\n", failure.c_str());
        return 0;
    }

    Main window;
    std::unique_ptr<bench::MidiSource> pads;
    if (midi) {
        pads = bench::openPipeWireMidiSource(failure);
        if (!pads) {
            std::printf("== Heard: %s\n", failure.c_str());
            return 0;
        }
        midi::startMidiInput();
        // The input opens and links the source.
        waitServing(std::chrono::seconds(2));
    }
    const UnderrunCounts before;
    const auto stereo = recordPresses(window, *reference, pads.get(), presses, monitor,
        fs::path(scratch.path().toStdString()) / "heard.raw");
    if (stereo.empty()) {
        std::printf("== Heard: cannot start parec\n");
        return 0;
    }
    reportHeard(stereo, presses, pads != nullptr, before);
    if (linger)
        playThenRest(window, std::chrono::seconds(30), std::chrono::seconds(60));
    if (pads) {
        for (const int perSecond : { 100, 1000, 4000 })
            noteRate(*pads, perSecond, 2);
    }
    std::_Exit(0);
}
